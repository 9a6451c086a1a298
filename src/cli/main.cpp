// tessaly-check: the window's verdicts from the command line, for lists too
// long to watch. Reads the same list files, asks the same way, judges by the
// same rule and writes the same result files.

#include "cli/CheckQueue.h"
#include "cli/Defaults.h"
#include "cli/FileBudget.h"
#include "cli/Interrupt.h"
#include "cli/Journal.h"
#include "cli/Merge.h"
#include "cli/ListInput.h"
#include "engine/OpenFiles.h"
#include "cli/Options.h"
#include "cli/Outputs.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <poll.h>

namespace {
// A reader that went away (`| head`) ends the run as SIGPIPE ends other
// programs, and a signal as that signal would, with the status a shell shows
// for that death.
enum ExitStatus { AllValid = 0, SomeInvalid = 1, Failed = 2, ReaderGone = 141 };
constexpr int statusOfSignal(int signal) { return 128 + signal; }

int failed(const QString& message, bool usage = false)
{
    std::fprintf(stderr, "tessaly-check: %s\n%s", qPrintable(message),
                 usage ? "Try 'tessaly-check --help' for more information.\n" : "");
    return Failed;
}

// The command speaks to its user in its own words; what Qt would say of its
// own workings is not for them.
void keepQtsWordsOut(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "tessaly-check: %s\n", qPrintable(message));
}

// How a run that got to its end ends: its reader gone, a signal, a report
// that could not be written, or the verdicts.
int statusAtEnd(const Outputs& outputs)
{
    if (outputs.reportError() == EPIPE)
        return ReaderGone;
    // A hang-up closes the terminal the report went to: the signal says more
    // than the failed write after it.
    if (Interrupt::caught())
        return statusOfSignal(Interrupt::caught());
    if (outputs.reportError())
        return failed(QStringLiteral("standard output: ") + QString::fromLocal8Bit(std::strerror(outputs.reportError())));
    return outputs.anyInvalid() ? SomeInvalid : AllValid;
}

// The whole list's report and result files from the shards' journals. The
// result files are written only when every address was in a journal.
int merged(const Options& options, std::deque<ListInput>& inputs)
{
    std::vector<std::unique_ptr<Journal>> journals;
    for (const QString& path : options.mergeJournals) {
        if (!journals.emplace_back(std::make_unique<Journal>())->openForReading(path))
            return failed(journals.back()->errorString());
    }
    Outputs outputs(options, ListInput::totalOf(inputs));
    if (const auto unwritable = outputs.open())
        return failed(*unwritable);
    const auto awaitInput = [](int descriptor) {
        pollfd readable{descriptor, POLLIN, 0};
        while (::poll(&readable, 1, 100) == 0) {
            if (Interrupt::caught())
                return false;
        }
        return !Interrupt::caught();
    };
    const std::optional<QString> stopped =
        Merge::run(inputs, journals, outputs.callbacks([] { return Interrupt::caught() != 0; }), awaitInput);
    outputs.endReport();
    if (stopped) {
        outputs.say(*stopped);
        return Failed;
    }
    // Result files of part of the list would read as the whole list's.
    if (Interrupt::caught() || outputs.reportError() == EPIPE) {
        outputs.say(QStringLiteral("stopped before the end of the list: no result file written"));
    } else if (!outputs.commitResults()) {
        return Failed;
    }
    return statusAtEnd(outputs);
}
}  // namespace

int main(int argc, char* argv[])
{
    // Before anything is opened: a closed standard stream would hand its
    // number to the next file opened, and a low soft limit on open files
    // would stop the command at its first files.
    Interrupt::fillClosedStandardStreams();
    OpenFiles::raiseLimit();
    // Before anything is read: a signal during a long read of the lists, or a
    // wait for a FIFO's writer, ends the run as one during the requests does.
    if (!Interrupt::install())
        return failed(QStringLiteral("the command cannot set itself up"));
    // A reader that went away shows as a failed write (EPIPE), whether or
    // not a request is made (curl's start-up ignores the signal too).
    std::signal(SIGPIPE, SIG_IGN);
    qInstallMessageHandler(keepQtsWordsOut);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-check"));
    const auto parsed = Options::parse(QCoreApplication::arguments());
    if (const auto* help = std::get_if<Options::Help>(&parsed)) {
        std::fputs(qPrintable(help->text), stdout);
        return AllValid;
    }
    if (const auto* usage = std::get_if<Options::Usage>(&parsed))
        return failed(usage->problem, true);
    const Options& options = std::get<Options>(parsed);

    std::deque<ListInput> inputs;
    if (const auto unreadable = ListInput::openAll(options.lists, inputs, [](int) { return !Interrupt::caught(); }))
        return failed(*unreadable);
    if (Interrupt::caught())
        return statusOfSignal(Interrupt::caught());
    if (const auto overwrite = Outputs::overwriting(options, inputs))
        return failed(*overwrite, true);
    if (!options.mergeJournals.isEmpty())
        return merged(options, inputs);
    // Each request holds files of its own: as many at once as the limit on
    // open files lets the command have beside its own and the outputs'.
    const long freeFiles = OpenFiles::free() - Outputs::MostFilesOpen;
    const std::optional<FileBudget> budget = FileBudget::within(freeFiles, options.jobs, CurlBatch::lanesFor(options.jobs));
    if (!budget)
        return failed(QStringLiteral("only %1 more files can be open, too few for a request (ulimit -n)").arg(freeFiles));
    // A shard's share of the list is not known until its end.
    Outputs outputs(options, options.shard ? -1 : ListInput::totalOf(inputs));
    if (const auto unwritable = outputs.open())
        return failed(*unwritable);

    if (budget->jobs < options.jobs)
        outputs.say(QStringLiteral("runs %1 at once, not %2: only %3 more files can be open (ulimit -n)")
                        .arg(budget->jobs).arg(options.jobs).arg(freeFiles));
    CheckQueue::Settings settings;
    settings.jobs = budget->jobs;
    settings.lanes = budget->lanes;
    settings.pause = options.pause;
    settings.pauseBetweenAny = options.jobs == 1;
    settings.request.timeout = options.timeout;
    settings.lookAhead = Defaults::lookAheadFor(settings.jobs);
    settings.retries = options.retries;
    settings.redirects = options.redirects;
    settings.longestWait = options.maxWait;
    settings.shard = options.shard;
    CheckQueue queue(settings, outputs.callbacks([] { return Interrupt::caught() != 0; }), Interrupt::wakeDescriptor());
    queue.setIdleConnections(budget->idleConnections);

    // A list changed or gone since it was first read, or one that is none.
    std::optional<QString> unreadable;
    const auto awaitInput = [&](int descriptor) {
        outputs.setWaitingForInput(true);
        const bool going = queue.awaitInput(descriptor);
        outputs.setWaitingForInput(false);
        return going;
    };
    for (ListInput& input : inputs) {
        bool taking = true;
        unreadable = input.forEachItem([&](QByteArrayView address) { return taking = queue.add(address); }, awaitInput);
        if (unreadable || !taking)
            break;
    }
    // A list that went wrong stops the run as a signal would.
    if (unreadable)
        queue.stop();
    queue.finish();
    outputs.endReport();
    if (unreadable)
        outputs.say(*unreadable);
    if (queue.machineFault())
        outputs.say(QStringLiteral("this machine cannot make requests now (%1); what was judged is kept")
                        .arg(*queue.machineFault()));
    const bool resultsWritten = outputs.commitResults();

    if (!resultsWritten || ((outputs.journalFailed() || unreadable || queue.machineFault()) && !outputs.reportError()))
        return Failed;
    return statusAtEnd(outputs);
}
