// tessaly-check: the window's verdicts from the command line, for lists too
// long to watch. Reads the same list files, asks the same way, judges by the
// same rule and writes the same result files. The jobs are in cli/commands;
// this sets up the process they run in.

#include "cli/Interrupt.h"
#include "cli/commands/Command.h"
#include "engine/OpenFiles.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {
// The command speaks to its user in its own words; what Qt would say of its
// own workings is not for them.
void keepQtsWordsOut(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "tessaly-check: %s\n", qPrintable(message));
}
}  // namespace

int main(int argc, char* argv[])
{
    const Streams standard{stdout, stderr};
    // Before anything is opened: a closed standard stream would hand its
    // number to the next file opened, and a low soft limit on open files
    // would stop the command at its first files.
    Interrupt::fillClosedStandardStreams();
    OpenFiles::raiseLimit();
    // Before anything is read: a signal during a long read of the lists, or a
    // wait for a FIFO's writer, ends the run as one during the requests does.
    if (!Interrupt::install())
        return Command::failed(standard, QStringLiteral("the command cannot set itself up"));
    // A reader that went away shows as a failed write (EPIPE), whether or
    // not a request is made (curl's start-up ignores the signal too).
    std::signal(SIGPIPE, SIG_IGN);
    qInstallMessageHandler(keepQtsWordsOut);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-check"));
    return Command::run(QCoreApplication::arguments(), standard);
}
