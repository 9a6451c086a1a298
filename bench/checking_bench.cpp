// Judges a list of addresses on one loopback host with the check run (pause
// 0) and times it against curl (one process, sequential) and wget --spider
// over the same list, in the same run. Addresses whose path starts with
// /present/ exist, all others are missing. Also measures the longest stall
// of the event loop during the run and the CPU time of a 3 s pause.
//   tessaly_bench_checking LIST-FILE
#include "app/Form1.h"
#include "checking/Pause.h"
#include "platform/CurlTransfer.h"
#include "platform/testing/TestPlatform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

using namespace std::chrono_literals;

namespace {
constexpr int Rounds = 5;

bool isPresent(const QString& address) { return address.contains(QStringLiteral("/present/")); }

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs a command to its end and gives its wall time in seconds and its output.
double timed(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    process.waitForFinished(-1);
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (output)
        *output = process.readAllStandardOutput();
    return seconds;
}

struct RunFigures {
    double seconds = 0;
    qint64 connections = 0;
    qint64 longestStallMs = 0;
    int matching = 0;
};

RunFigures checkRun(const QStringList& urls)
{
    TestPlatform test;
    CurlTransfer* transfer = nullptr;
    test.platform().makeTransferControl = [&] {
        auto made = std::make_unique<CurlTransfer>(CurlTransfer::Options{CurlTransfer::DefaultTimeout, false, {}});
        transfer = made.get();
        return made;
    };
    Form1 form(test.platform());
    form.Text1->setText(QStringLiteral("0"));
    for (const QString& url : urls)
        form.ListView1->add(url);
    test.dialogs.expectMessage();  // "Done."

    RunFigures figures;
    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.callOnTimeout([&] {
        figures.longestStallMs = std::max(figures.longestStallMs, sinceTick.elapsed());
        sinceTick.start();
    });
    ticker.start(2);
    sinceTick.start();
    QElapsedTimer clock;
    clock.start();
    form.PushButton4_Click();
    figures.seconds = clock.nsecsElapsed() / 1e9;
    ticker.stop();

    figures.connections = transfer->connectionsOpened();
    for (int position = 1; position <= form.ListView2->count(); ++position)
        figures.matching += isPresent(form.ListView2->text(position));
    for (int position = 1; position <= form.ListView3->count(); ++position)
        figures.matching += !isPresent(form.ListView3->text(position));
    return figures;
}
}  // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s LIST-FILE\n", argv[0]);
        return 2;
    }
    QFile listFile(QString::fromLocal8Bit(argv[1]));
    if (!listFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
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

    double best[3] = {1e9, 1e9, 1e9};
    RunFigures run;
    int curlMatching = 0;
    for (int round = 0; round < Rounds; ++round) {
        QByteArray codes;
        best[0] = std::min(best[0], timed(QStringLiteral("curl"), {"-s", "--noproxy", "*", "--http1.1", "-w",
                                                                   "%{http_code}\\n", "-K", curlConfig.fileName()},
                                          &codes));
        const QList<QByteArray> lines = codes.split('\n');
        curlMatching = 0;
        for (qsizetype i = 0; i < urls.size() && i < lines.size(); ++i)
            curlMatching += lines[i] == (isPresent(urls[i]) ? "200" : "404");
        best[1] = std::min(best[1], timed(QStringLiteral("wget"), {"--spider", "-q", "--no-proxy", "-i", listFile.fileName()}));
        const RunFigures figures = checkRun(urls);
        if (figures.seconds < best[2])
            run = figures;
        best[2] = std::min(best[2], figures.seconds);
    }

    const double pauseCpuBefore = cpuSeconds();
    QElapsedTimer pauseClock;
    pauseClock.start();
    Pause(3.0);
    const double pauseWall = pauseClock.nsecsElapsed() / 1e9;
    const double pauseCpuShare = (cpuSeconds() - pauseCpuBefore) / pauseWall;

    std::printf("addresses: %lld on one loopback host (%lld present, %lld missing), pause 0, best of %d rounds\n",
                qlonglong(urls.size()), qlonglong(present), qlonglong(urls.size() - present), Rounds);
    std::printf("  curl, one process, sequential   %7.3f s   1.00 (baseline)\n", best[0]);
    std::printf("  wget --spider -i                %7.3f s   %.2f x curl\n", best[1], best[1] / best[0]);
    std::printf("  the check run                   %7.3f s   %.2f x curl   (target <= 1.10)\n", best[2],
                best[2] / best[0]);
    std::printf("connections the run opened:       %lld   (target 1)\n", qlonglong(run.connections));
    std::printf("longest event-loop stall:         %lld ms   (target < 50)\n", qlonglong(run.longestStallMs));
    std::printf("CPU during a 3 s pause:           %.2f %% of a core over %.3f s   (target < 2)\n",
                pauseCpuShare * 100, pauseWall);
    std::printf("verdicts as the status codes say: %d of %lld (curl saw the expected code for %d)\n", run.matching,
                qlonglong(urls.size()), curlMatching);
    const bool met = best[2] <= 1.1 * best[0] && run.connections == 1 && run.longestStallMs < 50
        && pauseCpuShare < 0.02 && run.matching == urls.size();
    std::printf("targets %s\n", met ? "met" : "NOT met");
    return 0;
}
