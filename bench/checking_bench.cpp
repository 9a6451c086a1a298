// Judges a list of addresses with the check run (pause 0) and times it against
// curl (one process, sequential) and wget --spider over the same list, in the
// same run. Addresses whose path holds /present/ exist, all others are
// missing. Also measures the connections each opened, the longest stall of
// the event loop during the run (and during the first address of the
// program's first run), and, for the plain list, the CPU time of a 3 s pause.
//   bench_checking [--list plain|one-host|many-hosts|large-pages]
//                  [--ca-file FILE] [--hosts FILE] LIST-FILE
// --ca-file: the certificate authorities that all three trust (https lists).
// --hosts: a hosts file under which wget runs, in a mount namespace of its
// own, for host names that only curl resolves itself (*.localhost).
#include "window/app/Form1.h"
#include "engine/transfer/Policy.h"
#include "window/checking/Pause.h"
#include "engine/transfer/QtLoopTransfer.h"
#include "TestPlatform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <optional>

using namespace std::chrono_literals;

namespace {
bool isPresent(const QString& address) { return address.contains(QStringLiteral("/present/")); }

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
         + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs a command to its end and gives its wall time in seconds and its
// output; none, with a message, when it ends with another exit code than
// those given.
std::optional<double> timed(const QString& program, const QStringList& arguments, std::initializer_list<int> exitCodes,
                            QByteArray* output = nullptr)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    process.waitForFinished(-1);
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (output)
        *output = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit
        || std::find(exitCodes.begin(), exitCodes.end(), process.exitCode()) == exitCodes.end()) {
        std::fprintf(stderr, "%s ended with %d: %s\n", qPrintable(program), process.exitCode(),
                     process.readAllStandardError().left(400).constData());
        return std::nullopt;
    }
    return seconds;
}

// A tool's line: its best time against curl's, or that it failed.
void printTool(const char* label, bool failed, double seconds, double curlSeconds)
{
    if (failed)
        std::printf("  %s failed (see above)\n", label);
    else
        std::printf("  %s %7.3f s   %.2f x curl\n", label, seconds, seconds / curlSeconds);
}

// The window's transfer control, noting the longest stall up to the end of
// its first request.
class MeteredTransfer final : public TransferControl {
public:
    MeteredTransfer(const QtLoopTransfer::Options& options, std::function<qint64()> stallSoFar)
        : m_curl(options), m_stallSoFar(std::move(stallSoFar))
    {
    }
    void request(const QString& address) override
    {
        m_curl.request(address);
        if (firstStallMs < 0)
            firstStallMs = m_stallSoFar();
    }
    QString responseHeaders() override { return m_curl.responseHeaders(); }
    qint64 connectionsOpened() const { return m_curl.connectionsOpened(); }

    qint64 firstStallMs = -1;

private:
    QtLoopTransfer m_curl;
    std::function<qint64()> m_stallSoFar;
};

struct RunFigures {
    double seconds = 0;
    qint64 connections = 0;
    qint64 longestStallMs = 0;
    qint64 firstAddressStallMs = 0;
    int matching = 0;
};

RunFigures checkRun(const QStringList& urls, const QString& caFile)
{
    RunFigures figures;
    QElapsedTimer sinceTick;
    const auto stallSoFar = [&] { return std::max(figures.longestStallMs, sinceTick.elapsed()); };

    TestPlatform test;
    MeteredTransfer* transfer = nullptr;
    test.platform().makeTransferControl = [&] {
        auto made = std::make_unique<MeteredTransfer>(QtLoopTransfer::Options{Policy::Timeout, false, caFile}, stallSoFar);
        transfer = made.get();
        return made;
    };
    Form1 form(test.platform());
    form.Text1->setText(QStringLiteral("0"));
    for (const QString& url : urls)
        form.ListView1->add(url);
    test.dialogs.expectMessage();  // "Done."

    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.callOnTimeout([&] {
        figures.longestStallMs = stallSoFar();
        sinceTick.start();
    });
    ticker.start(2);
    sinceTick.start();
    QElapsedTimer clock;
    clock.start();
    form.PushButton4_Click();
    figures.seconds = clock.nsecsElapsed() / 1e9;
    figures.longestStallMs = stallSoFar();
    ticker.stop();

    figures.connections = transfer->connectionsOpened();
    figures.firstAddressStallMs = transfer->firstStallMs;
    for (int position = 1; position <= form.ListView2->count(); ++position)
        figures.matching += isPresent(form.ListView2->text(position));
    for (int position = 1; position <= form.ListView3->count(); ++position)
        figures.matching += !isPresent(form.ListView3->text(position));
    return figures;
}

struct Targets {
    double curlRatio;
    double wgetRatio;  // 0: none
    qint64 connections;
    qint64 stallMs;
};

QString argumentAfter(QStringList& arguments, const QString& name)
{
    const qsizetype at = arguments.indexOf(name);
    if (at < 0 || at + 1 >= arguments.size())
        return {};
    const QString value = arguments.at(at + 1);
    arguments.remove(at, 2);
    return value;
}
}  // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QStringList arguments = application.arguments().mid(1);
    const QString list = argumentAfter(arguments, QStringLiteral("--list"));
    const QString caFile = argumentAfter(arguments, QStringLiteral("--ca-file"));
    const QString hostsFile = argumentAfter(arguments, QStringLiteral("--hosts"));
    const bool plain = list.isEmpty() || list == u"plain";
    if (arguments.size() != 1) {
        std::fprintf(stderr, "usage: %s [--list NAME] [--ca-file FILE] [--hosts FILE] LIST-FILE\n", argv[0]);
        return 2;
    }
    QFile listFile(arguments.first());
    if (!listFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(arguments.first()));
        return 2;
    }
    const QStringList urls = QString::fromUtf8(listFile.readAll()).split(u'\n', Qt::SkipEmptyParts);
    const auto present = std::count_if(urls.begin(), urls.end(), isPresent);

    // curl reads its addresses from a config file: one process, one after another.
    QTemporaryDir scratch;
    QFile curlConfig(scratch.filePath(QStringLiteral("curl.config")));
    curlConfig.open(QIODevice::WriteOnly);
    for (const QString& url : urls)
        curlConfig.write("url = \"" + url.toUtf8() + "\"\noutput = \"/dev/null\"\n");
    curlConfig.close();
    QStringList curlArguments{"-s", "--noproxy", "*", "--http1.1", "-w", "%{http_code} %{num_connects}\\n"};
    QStringList wgetArguments{"--spider", "-q", "--no-proxy", "-i", listFile.fileName()};
    if (!caFile.isEmpty()) {
        curlArguments << "--cacert" << caFile;
        wgetArguments << "--ca-certificate=" + caFile;
    }
    curlArguments << "-K" << curlConfig.fileName();
    QString wget = QStringLiteral("wget");
    if (!hostsFile.isEmpty()) {
        wgetArguments.prepend(QStringLiteral("wget"));
        wgetArguments = QStringList{"-m", "sh", "-c", "mount --bind \"$0\" /etc/hosts && exec \"$@\"", hostsFile}
                      + wgetArguments;
        wget = QStringLiteral("unshare");
    }

    const int rounds = plain ? 5 : 3;
    double best[3] = {1e9, 1e9, 1e9};
    RunFigures run;
    RunFigures firstRun;
    int curlMatching = 0;
    qint64 curlConnections = 0;
    bool curlFailed = false;
    bool wgetFailed = false;
    const auto minimise = [](double& best, std::optional<double> seconds) {
        if (seconds)
            best = std::min(best, *seconds);
        return seconds.has_value();
    };
    for (int round = 0; round < rounds; ++round) {
        QByteArray codes;
        curlFailed |= !minimise(best[0], timed(QStringLiteral("curl"), curlArguments, {0}, &codes));
        const QList<QByteArray> lines = codes.split('\n');
        curlMatching = 0;
        curlConnections = 0;
        for (qsizetype i = 0; i < urls.size() && i < lines.size(); ++i) {
            const QList<QByteArray> fields = lines[i].split(' ');
            curlMatching += fields.value(0) == (isPresent(urls[i]) ? "200" : "404");
            curlConnections += fields.value(1).toLongLong();
        }
        // 8: the server answered with an error status, which the missing
        // addresses do; anything else is a failure of the run, not a figure.
        wgetFailed |= !minimise(best[1], timed(wget, wgetArguments, {0, 8}));
        const RunFigures figures = checkRun(urls, caFile);
        if (round == 0)
            firstRun = figures;
        if (figures.seconds < best[2])
            run = figures;
        best[2] = std::min(best[2], figures.seconds);
        run.longestStallMs = std::max(run.longestStallMs, figures.longestStallMs);
    }

    if (plain) {
        const double pauseCpuBefore = cpuSeconds();
        QElapsedTimer pauseClock;
        pauseClock.start();
        Pause(3.0);
        const double pauseWall = pauseClock.nsecsElapsed() / 1e9;
        const double pauseCpuShare = (cpuSeconds() - pauseCpuBefore) / pauseWall;

        std::printf("addresses: %lld on one loopback host (%lld present, %lld missing), pause 0, best of %d rounds\n",
                    qlonglong(urls.size()), qlonglong(present), qlonglong(urls.size() - present), rounds);
        printTool("curl, one process, sequential ", curlFailed, best[0], best[0]);
        printTool("wget --spider -i              ", wgetFailed, best[1], best[0]);
        std::printf("  the check run                   %7.3f s   %.2f x curl   (target <= 1.10)\n", best[2],
                    best[2] / best[0]);
        std::printf("connections the run opened:       %lld   (target 1)\n", qlonglong(run.connections));
        std::printf("longest event-loop stall:         %lld ms   (target < 50)\n", qlonglong(run.longestStallMs));
        std::printf("CPU during a 3 s pause:           %.2f %% of a core over %.3f s   (target < 2)\n",
                    pauseCpuShare * 100, pauseWall);
        std::printf("verdicts as the status codes say: %d of %lld (curl saw the expected code for %d)\n", run.matching,
                    qlonglong(urls.size()), curlMatching);
        const bool met = !curlFailed && best[2] <= 1.1 * best[0] && run.connections == 1 && run.longestStallMs < 50
                      && pauseCpuShare < 0.02 && run.matching == urls.size();
        std::printf("targets %s\n", met ? "met" : "NOT met");
        return 0;
    }

    Targets targets{0.6, 0, 1, 16};
    QString title = QStringLiteral("small pages, one https host");
    if (list == u"many-hosts") {
        targets = {0.05, 0.5, 50, 16};
        title = QStringLiteral("small pages over 50 https host names, interleaved");
    } else if (list == u"large-pages") {
        targets = {1.0, 0, 1, 16};
        title = QStringLiteral("a 240 KB page, one https host");
    }
    const auto limit = [](double value) { return value > 0 ? QString::asprintf("%.2f", value) : QStringLiteral("-"); };
    std::printf("%s: %lld addresses (%lld present), pause 0, best of %d rounds\n", qPrintable(title),
                qlonglong(urls.size()), qlonglong(present), rounds);
    printTool("curl -K, sequential  ", curlFailed, best[0], best[0]);
    printTool("wget --spider -i     ", wgetFailed, best[1], best[0]);
    std::printf("  the check run          %7.3f s   %.3f x curl (target <= %s)   %.2f x wget (target <= %s)\n", best[2],
                best[2] / best[0], qPrintable(limit(targets.curlRatio)), best[2] / best[1],
                qPrintable(limit(targets.wgetRatio)));
    std::printf("  its first round        %7.3f s   %.3f x curl (the trust store read and no TLS session to resume)\n",
                firstRun.seconds, firstRun.seconds / best[0]);
    std::printf("  connections opened     check run %lld (target <= %lld), curl %lld\n", qlonglong(run.connections),
                qlonglong(targets.connections), qlonglong(curlConnections));
    std::printf("  longest stall          %lld ms over all runs, %lld ms up to the end of the program's first "
                "address (target < %lld each)\n",
                qlonglong(run.longestStallMs), qlonglong(firstRun.firstAddressStallMs), qlonglong(targets.stallMs));
    std::printf("  verdicts as the status codes say: %d of %lld (curl %d)\n", run.matching, qlonglong(urls.size()),
                curlMatching);
    const bool met = !curlFailed && best[2] <= targets.curlRatio * best[0]
                  && (targets.wgetRatio == 0 || (!wgetFailed && best[2] <= targets.wgetRatio * best[1]))
                  && run.connections <= targets.connections && run.longestStallMs < targets.stallMs
                  && firstRun.firstAddressStallMs < targets.stallMs && run.matching == urls.size();
    std::printf("  targets %s\n", met ? "met" : "NOT met");
    return 0;
}
