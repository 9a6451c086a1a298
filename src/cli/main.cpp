// tessaly-check: the window's verdicts from the command line, for lists too
// long to watch. Reads the same list files, asks the same way, judges by the
// same rule and writes the same result files.

#include "cli/CheckQueue.h"
#include "cli/Interrupt.h"
#include "cli/Journal.h"
#include "cli/ListInput.h"
#include "cli/Report.h"
#include "cli/SameFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using std::chrono::milliseconds;

// A reader that went away (`| head`) ends the run as SIGPIPE ends other
// programs, and a signal as that signal would, with the status a shell shows
// for that death.
enum ExitStatus { AllValid = 0, SomeInvalid = 1, BadUsage = 2, ReaderGone = 141 };
constexpr int exitStatusOfSignal(int signal) { return 128 + signal; }

// Sensible for a list spread over many hosts while each host still sees one
// request at a time; see the README.
constexpr int DefaultJobs = 16;
constexpr int MostJobs = 1024;
// The window's time-out.
constexpr auto DefaultTimeoutSeconds = std::chrono::duration_cast<std::chrono::seconds>(CurlRequest::DefaultTimeout).count();

// The command speaks to its user in its own words; what Qt would say of its
// own workings is not for them.
void keepQtsWordsOut(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "tessaly-check: %s\n", qPrintable(message));
}

// How many more files the command may open: the soft limit on open files
// raised to the hard one, less those open now (inherited ones too).
long freeFileDescriptors()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    const long open = static_cast<long>(QDir(QStringLiteral("/proc/self/fd")).count());
    return static_cast<long>(std::min<rlim_t>(limit.rlim_cur, 1L << 30)) - std::max(open, 3L);
}

int usageError(const QString& message)
{
    std::fprintf(stderr, "tessaly-check: %s\nTry 'tessaly-check --help' for more information.\n", qPrintable(message));
    return BadUsage;
}

// A file that cannot be read or written: the same status as bad usage.
int fileError(const QString& message)
{
    std::fprintf(stderr, "tessaly-check: %s\n", qPrintable(message));
    return BadUsage;
}

// Every input opened, and each list file read through once, before anything
// is asked or written, so that one that cannot be read stops the command with
// nothing done.
std::optional<QString> openInputs(const QStringList& names, std::deque<ListInput>& inputs)
{
    const auto notInterrupted = [](int) { return Interrupt::caught() == 0; };
    for (const QString& name : names) {
        if (std::optional<QString> unreadable = inputs.emplace_back().open(name, notInterrupted))
            return unreadable;
    }
    return std::nullopt;
}

// A result file or journal that would overwrite a list being read, the
// report, or one another: why, or nothing.
std::optional<QString> overwriteOf(const QString& validPath, const QString& invalidPath, const QString& journalPath,
                                   const QStringList& names, const std::deque<ListInput>& inputs)
{
    struct stat report {};
    const bool reportIsAFile = ::fstat(STDOUT_FILENO, &report) == 0;
    const std::pair<QString, const QString*> outputs[] = {
        {QStringLiteral("--valid"), &validPath}, {QStringLiteral("--invalid"), &invalidPath},
        {QStringLiteral("--resume"), &journalPath}};
    for (const auto& [option, path] : outputs) {
        for (size_t i = 0; i < inputs.size(); ++i) {
            if (SameFile::is(*path, inputs[i].status()))
                return QStringLiteral("%1 names the list %2, which it would overwrite")
                    .arg(option, names[static_cast<qsizetype>(i)] == QStringLiteral("-") ? QStringLiteral("on standard input")
                                                                                      : names[static_cast<qsizetype>(i)]);
        }
        if (reportIsAFile && SameFile::is(*path, report))
            return option + QStringLiteral(" names the report's own output");
    }
    if (SameFile::names(validPath, invalidPath))
        return QStringLiteral("--valid and --invalid name the same file");
    if (SameFile::names(journalPath, validPath) || SameFile::names(journalPath, invalidPath))
        return QStringLiteral("--resume names a result file");
    return std::nullopt;
}

// Whether standard output and standard error are the same terminal, where
// report lines and the progress line share the screen.
bool reportSharesTheTerminal()
{
    struct stat out {};
    struct stat err {};
    return ::isatty(STDOUT_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1 && ::fstat(STDOUT_FILENO, &out) == 0
        && ::fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}

// done of total, valid, invalid, rate and time left, on one line of standard
// error rewritten in place, a few times a second.
class ProgressLine {
public:
    ProgressLine(qint64 total, bool shown)
        : m_total(total), m_shown(shown), m_sharesTerminal(shown && reportSharesTheTerminal())
    {
        m_clock.start();
    }
    void judged(bool valid, bool fresh)
    {
        ++(valid ? m_valid : m_invalid);
        m_requested += fresh;
    }
    // Before a report line: on a shared terminal the line would be glued to
    // the progress line, so that is cleared, and drawn again by show().
    // Before a message on standard error, the line is cleared on any terminal.
    void makeRoom(bool forMessage = false)
    {
        if (!m_drawn || !(m_sharesTerminal || forMessage))
            return;
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
        m_drawn = false;
    }
    void show(bool now = false)
    {
        if (!m_shown || (!now && m_drawn && m_lastShown.isValid() && !m_lastShown.hasExpired(250)))
            return;
        if (m_sharesTerminal)
            std::fflush(stdout);
        m_lastShown.start();
        m_drawn = true;
        const double seconds = std::max<qint64>(m_clock.elapsed(), 1) / 1000.0;
        const double rate = m_requested / seconds;
        const qint64 done = m_valid + m_invalid;
        const auto count = [](qint64 number) { return static_cast<long long>(number); };
        // A list read as a stream has no total until its end.
        if (m_total < 0) {
            std::fprintf(stderr, "\r%lld done, %lld valid, %lld invalid, %.1f/s\x1b[K", count(done), count(m_valid),
                         count(m_invalid), rate);
        } else {
            QString left = QStringLiteral("?");
            if (rate > 0) {
                const qint64 remaining = static_cast<qint64>((m_total - done) / rate);
                left = QStringLiteral("%1:%2").arg(remaining / 60).arg(remaining % 60, 2, 10, QLatin1Char('0'));
            }
            std::fprintf(stderr, "\r%lld of %lld, %lld valid, %lld invalid, %.1f/s, %s left\x1b[K", count(done),
                         count(m_total), count(m_valid), count(m_invalid), rate, qPrintable(left));
        }
        std::fflush(stderr);
    }
    void end()
    {
        if (!m_shown)
            return;
        show(true);
        std::fputc('\n', stderr);
    }
    bool anyInvalid() const { return m_invalid > 0; }

private:
    qint64 m_total;
    bool m_shown;
    bool m_sharesTerminal;
    bool m_drawn = false;
    qint64 m_valid = 0;
    qint64 m_invalid = 0;
    qint64 m_requested = 0;
    QElapsedTimer m_clock;
    QElapsedTimer m_lastShown;
};
}  // namespace

int main(int argc, char* argv[])
{
    // Before anything is read: a signal during a long read of the lists, or a
    // wait for a FIFO's writer, ends the run as one during the requests does.
    if (!Interrupt::install())
        return fileError(QStringLiteral("the command cannot set itself up"));
    qInstallMessageHandler(keepQtsWordsOut);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-check"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Checks which web addresses in list files exist, one address per line, and judges each as the Tessaly "
        "window does.\nExit status: 0 all valid, 1 some invalid, 2 bad usage, unreadable input, unwritable report "
        "or journal, a list changed during the run, 129, 130 or 143 ended by SIGHUP, SIGINT (Ctrl-C) or SIGTERM, "
        "141 report's reader gone."));
    parser.addHelpOption();
    const QCommandLineOption jobsOption(QStringLiteral("jobs"), QStringLiteral("Up to N requests at once (default 16)."),
                                        QStringLiteral("N"), QString::number(DefaultJobs));
    const QCommandLineOption pauseOption(QStringLiteral("pause"),
                                         QStringLiteral("Wait S seconds between two requests to the same host "
                                                        "(default 0); with --jobs 1, between any two."),
                                         QStringLiteral("S"), QStringLiteral("0"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
                                           QStringLiteral("Give up on an address after S seconds (default %1).")
                                               .arg(DefaultTimeoutSeconds),
                                           QStringLiteral("S"), QString::number(DefaultTimeoutSeconds));
    const QCommandLineOption validOption(QStringLiteral("valid"), QStringLiteral("Save the valid addresses in FILE."),
                                         QStringLiteral("FILE"));
    const QCommandLineOption invalidOption(QStringLiteral("invalid"),
                                           QStringLiteral("Save the invalid addresses in FILE."), QStringLiteral("FILE"));
    const QCommandLineOption formatOption(QStringLiteral("format"),
                                          QStringLiteral("Report as text (default) or jsonl."), QStringLiteral("FORMAT"),
                                          QStringLiteral("text"));
    const QCommandLineOption resumeOption(
        QStringLiteral("resume"), QStringLiteral("Keep a journal in FILE and skip the addresses it holds."),
        QStringLiteral("FILE"));
    parser.addOptions({jobsOption, pauseOption, timeoutOption, validOption, invalidOption, formatOption, resumeOption});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("List files; - or none: standard input."),
                                 QStringLiteral("[FILE...]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return AllValid;
    }
    bool jobsOk = false;
    const int jobs = parser.value(jobsOption).toInt(&jobsOk);
    if (!jobsOk || jobs < 1 || jobs > MostJobs)
        return usageError(QStringLiteral("--jobs takes a whole number from 1 to %1").arg(MostJobs));
    const auto secondsOf = [&](const QCommandLineOption& option, bool zeroAllowed) -> std::optional<milliseconds> {
        bool ok = false;
        const double seconds = parser.value(option).toDouble(&ok);
        if (!ok || !(seconds >= 0) || (!zeroAllowed && seconds == 0) || seconds > 86400)
            return std::nullopt;
        return milliseconds(static_cast<qint64>(seconds * 1000 + 0.5));
    };
    const std::optional<milliseconds> pause = secondsOf(pauseOption, true);
    if (!pause)
        return usageError(QStringLiteral("--pause takes a number of seconds from 0 to 86400, such as 1 or 0.5"));
    const std::optional<milliseconds> timeout = secondsOf(timeoutOption, false);
    if (!timeout || *timeout < milliseconds(1))
        return usageError(QStringLiteral("--timeout takes a number of seconds above 0, up to 86400, such as 30"));
    const QString format = parser.value(formatOption);
    if (format != QStringLiteral("text") && format != QStringLiteral("jsonl"))
        return usageError(QStringLiteral("--format is text or jsonl"));
    for (const QCommandLineOption* option : {&validOption, &invalidOption, &resumeOption}) {
        if (parser.isSet(*option) && parser.value(*option).isEmpty())
            return usageError(QStringLiteral("--%1 needs a file name").arg(option->names().constFirst()));
    }
    const QString validPath = parser.value(validOption);
    const QString invalidPath = parser.value(invalidOption);
    const QString journalPath = parser.value(resumeOption);

    QStringList names = parser.positionalArguments();
    if (names.isEmpty())
        names << QStringLiteral("-");
    std::deque<ListInput> inputs;
    if (const std::optional<QString> unreadable = openInputs(names, inputs))
        return fileError(*unreadable);
    if (Interrupt::caught())
        return exitStatusOfSignal(Interrupt::caught());
    if (const std::optional<QString> overwrite = overwriteOf(validPath, invalidPath, journalPath, names, inputs))
        return usageError(*overwrite);
    qint64 total = 0;
    for (const ListInput& input : inputs)
        total = input.items() < 0 || total < 0 ? -1 : total + input.items();

    ResultFile validFile(validPath);
    ResultFile invalidFile(invalidPath);
    for (ResultFile* file : {&validFile, &invalidFile}) {
        if (!file->open())
            return fileError(file->errorString());
    }
    std::optional<Journal> journal;
    if (parser.isSet(resumeOption)) {
        journal.emplace();
        if (!journal->open(journalPath))
            return fileError(journal->errorString());
    }

    // Each request holds files of its own: as many at once as the limit on
    // open files lets the command have beside its own.
    const long freeFiles = freeFileDescriptors();
    const int jobsAtOnce = CheckQueue::jobsWithin(freeFiles, jobs);
    if (jobsAtOnce < jobs)
        std::fprintf(stderr, "tessaly-check: %d requests at once, not %d: only %ld more files can be open (ulimit -n)\n",
                     jobsAtOnce, jobs, freeFiles);

    ProgressLine progress(total, ::isatty(STDERR_FILENO) == 1);
    const bool json = format == QStringLiteral("jsonl");
    // The first error writing the report: SIGPIPE is ignored for curl's sake,
    // so a closed pipe shows here, as EPIPE. Either ends the run as Ctrl-C does.
    int outputError = 0;
    const auto noteOutputError = [&] {
        if (outputError == 0 && std::ferror(stdout))
            outputError = errno != 0 ? errno : EIO;
    };
    // A journal that cannot be written: said once; the run still ends with
    // status 2, as a later run cannot skip what this one judged.
    bool journalFailed = false;
    CheckQueue::Callbacks callbacks;
    callbacks.inOrder = [&](qint64, QByteArrayView address, const Outcome& outcome) {
        const QByteArray line = json ? Report::jsonLine(address, outcome) : Report::textLine(address, outcome);
        progress.makeRoom();
        errno = 0;
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
        noteOutputError();
        (outcome.valid ? validFile : invalidFile).addLine(address);
    };
    callbacks.judged = [&](qint64 position, QByteArrayView address, const Outcome& outcome, bool fresh) {
        progress.judged(outcome.valid, fresh);
        if (journal && fresh && !journal->record(position, address, outcome) && !journalFailed) {
            journalFailed = true;
            progress.makeRoom(true);
            std::fprintf(stderr, "tessaly-check: %s; the run goes on without it\n", qPrintable(journal->writeError()));
        }
    };
    callbacks.recorded = [&](qint64 position, QByteArrayView address) -> std::optional<Outcome> {
        return journal ? journal->recorded(position, address) : std::nullopt;
    };
    callbacks.stopping = [&] { return Interrupt::caught() != 0 || outputError != 0; };
    // While the command waits for more of a stream, what was judged so far
    // reaches the report's reader (`tail -f log | tessaly-check`).
    bool waitingForInput = false;
    callbacks.tick = [&] {
        progress.show();
        if (waitingForInput) {
            errno = 0;
            std::fflush(stdout);
            noteOutputError();
        }
    };

    CheckQueue::Settings settings;
    settings.jobs = jobsAtOnce;
    settings.pause = *pause;
    // The window's transfer: proxies from the environment, the system's
    // certificates.
    settings.request = CurlRequest::Options{*timeout, true, {}};
    settings.window = std::max<qsizetype>(8192, 128 * jobsAtOnce);
    CheckQueue queue(settings, callbacks, Interrupt::wakeDescriptor());
    queue.setIdleConnections(CheckQueue::idleConnectionsWithin(freeFiles));
    // A list changed or gone since it was first read, or one that is none.
    std::optional<QString> unreadable;
    const auto awaitInput = [&](int descriptor) {
        waitingForInput = true;
        const bool going = queue.awaitInput(descriptor);
        waitingForInput = false;
        return going;
    };
    for (ListInput& input : inputs) {
        bool taking = true;
        unreadable = input.forEachItem([&](QByteArrayView address) { return taking = queue.add(address); }, awaitInput);
        if (unreadable || !taking)
            break;
    }
    queue.finish();
    progress.end();
    if (unreadable)
        std::fprintf(stderr, "tessaly-check: %s\n", qPrintable(*unreadable));
    if (queue.machineFault())
        std::fprintf(stderr, "tessaly-check: this machine cannot make requests now (%s); what was judged is kept\n",
                     qPrintable(*queue.machineFault()));
    errno = 0;
    std::fflush(stdout);
    noteOutputError();

    // Every result file that can be written is, whatever became of another.
    bool resultsWritten = true;
    for (ResultFile* file : {&validFile, &invalidFile}) {
        if (!file->commit()) {
            std::fprintf(stderr, "tessaly-check: %s\n", qPrintable(file->errorString()));
            resultsWritten = false;
        }
    }
    if (!resultsWritten)
        return BadUsage;
    if ((journalFailed || unreadable || queue.machineFault()) && outputError == 0)
        return BadUsage;
    if (outputError == EPIPE)
        return ReaderGone;
    if (outputError != 0)
        return fileError(QStringLiteral("standard output: ") + QString::fromLocal8Bit(std::strerror(outputError)));
    if (Interrupt::caught())
        return exitStatusOfSignal(Interrupt::caught());
    return progress.anyInvalid() ? SomeInvalid : AllValid;
}
