// The command line program as a process of its own, ended by a signal
// (Ctrl-C, SIGTERM, SIGHUP) while it asks, reads its list or waits to write
// its report: what was judged is written, and the status is the signal's;
// started again with its journal, it asks only what was left.

#include "CheckRuns.h"
#include "LoopbackServer.h"
#include "TestFiles.h"

#include <QTest>

#include <csignal>

class CheckSignalsTest : public QObject {
    Q_OBJECT
private slots:
    // Ctrl-C while one address hangs: what was judged is written, gaps
    // skipped; started again with the journal, only that address is asked.
    void interruptAndResume()
    {
        LoopbackServer server;
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        server.route("/missing", LoopbackServer::answer("HTTP/1.1 404 Not Found"));
        LoopbackServer::Reply silent;
        silent.silent = true;
        server.route("/hangs", silent);
        const QStringList addresses{server.url("/1"), server.url("/missing"), server.urlOn("b.localhost", "/hangs"),
                                    server.url("/4"), server.urlOn("c.localhost", "/5")};
        TestFolder dir;
        const QStringList arguments{"--jobs",    "3",
                                    "--resume",  dir.filePath("journal"),
                                    "--valid",   dir.filePath("valid"),
                                    "--invalid", dir.filePath("invalid"),
                                    "-"};
        const auto journalLines = [&] { return readBytes(dir.filePath("journal")).count('\n'); };

        CheckProcess first;
        first.start(arguments, linesOf(addresses));
        QVERIFY(first.runUntil([&] { return journalLines() == 5; }));  // its first line, four addresses
        first.interrupt();
        const Finished interrupted = first.finish();
        QCOMPARE(interrupted.exitCode, 130);
        QCOMPARE(interrupted.out.count('\n'), 4);
        QVERIFY(!interrupted.out.contains("/hangs"));
        const QByteArray judgedValid =
            linesOf({server.url("/1"), server.url("/4"), server.urlOn("c.localhost", "/5")}).replace("\n", "\r\n");
        QCOMPARE(readBytes(dir.filePath("valid")), judgedValid);

        server.route("/hangs", LoopbackServer::answer("HTTP/1.1 200 OK"));
        const qsizetype asked = server.requests().size();
        CheckProcess second;
        const Finished resumed = second.run(arguments, linesOf(addresses));
        QCOMPARE(resumed.exitCode, 1);
        QCOMPARE(server.requestedPaths().mid(asked), QList<QByteArray>{"/hangs"});
        QCOMPARE(resumed.out.count('\n'), 5);
        QVERIFY(resumed.out.startsWith(interrupted.out.left(interrupted.out.indexOf("/missing"))));
        QCOMPARE(readBytes(dir.filePath("valid")), linesOf({server.url("/1"), server.urlOn("b.localhost", "/hangs"),
                                                            server.url("/4"), server.urlOn("c.localhost", "/5")})
                                                       .replace("\n", "\r\n"));
        QCOMPARE(readBytes(dir.filePath("invalid")), linesOf({server.url("/missing")}).replace("\n", "\r\n"));
    }

    // Ctrl-C after the head of an answer came, its body still on the way:
    // that address is judged, as the window would have judged it. SIGTERM
    // and SIGHUP, which timeout(1) and service managers send, end the run
    // the same way, each with its own status.
    void interruptedWhileABodyComes_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl-C") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void interruptedWhileABodyComes()
    {
        QFETCH(int, signal);
        LoopbackServer server;
        LoopbackServer::Reply heldBody = LoopbackServer::answer("HTTP/1.1 200 OK", {}, "body");
        heldBody.bodyDelayMilliseconds = 60000;
        server.route("/held", heldBody);
        LoopbackServer::Reply silent;
        silent.silent = true;
        server.route("/silent", silent);
        TestFolder dir;
        CheckProcess command;
        // A host that never answers keeps the run going until the signal,
        // however long the machine takes to get there.
        command.start({"--valid", dir.filePath("valid")},
                      linesOf({server.url("/held"), server.urlOn("silent.localhost", "/silent")}));
        QVERIFY(command.runUntil([&] { return server.bytesSent() > 0; }));
        // The head on its way to the command, which then lets the held body
        // come for up to a second before it ends the request.
        QTest::qWait(500);
        command.interrupt(signal);
        const Finished finished = command.finish();
        QCOMPARE(finished.exitCode, 128 + signal);
        QCOMPARE(finished.out, "valid\tHTTP/1.1 200 OK\t" + server.url("/held").toUtf8() + "\tok\t1\n");
        QCOMPARE(readBytes(dir.filePath("valid")), server.url("/held").toUtf8() + "\r\n");
    }

    // A signal while the command waits for its list: standard input left
    // open after two addresses (judged before the input ends), or a FIFO
    // that nobody writes. The run ends at once with what was judged.
    void interruptedWhileTheListIsRead_data()
    {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("standard input left open") << false;
        QTest::newRow("a FIFO with no writer") << true;
    }
    void interruptedWhileTheListIsRead()
    {
        QFETCH(bool, fifo);
        LoopbackServer server;
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        CheckProcess command;
        if (fifo) {
            command.start({makeFifo(dir, "list")}, {}, false);
            QVERIFY(command.runUntil([&] { return command.handles(SIGINT); }));
            QTest::qWait(200);
        } else {
            command.start({"-"}, linesOf({server.url("/1"), server.url("/2")}), false);
            QVERIFY(command.runUntil([&] { return command.outputSoFar().count('\n') == 2; }));
        }
        command.interrupt();
        const Finished finished = command.finish();
        QCOMPARE(finished.exitCode, 130);
        QCOMPARE(finished.out.count('\n'), fifo ? 0 : 2);
    }

    // Ctrl-C while the report's reader lags and the command waits to write:
    // the report still holds every address the result file holds.
    void interruptedWhileTheReportWaits()
    {
        TestFolder dir;
        const QByteArray refused = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::refusedPort()).toUtf8();
        const QString list = dir.file("list.txt", QByteArray(refused + '\n').repeated(20000));
        QProcess shell;
        shell.setWorkingDirectory(dir.path());
        shell.start(QStringLiteral("bash"),
                    // The signal goes once the command has its handler (SigCgt holds
                    // SIGINT's bit) and has written half a pipe's worth of the
                    // report, however slow the machine; the reader starts reading
                    // only after it.
                    {"-c",
                     "mkfifo report; (exec <report; until [ -e go ]; do sleep 0.1; done; cat >out) & reader=$!; "
                     "\"$0\" \"$@\" >report & command=$!; "
                     "until (( 0x$(awk '/^SigCgt/ {print $2}' /proc/$command/status) & 2 )); do sleep 0.05; done; "
                     "until (( $(awk '/^wchar/ {print $2}' /proc/$command/io) >= 32768 )); do sleep 0.05; done; "
                     "kill -INT $command; touch go; wait $command; status=$?; wait $reader; exit $status",
                     // Judged at once, not asked again a second later.
                     Program, "--retries", "0", "--invalid", "invalid", list});
        QVERIFY(shell.waitForFinished(120000));
        QCOMPARE(shell.exitCode(), 130);
        const QByteArray invalid = readBytes(dir.filePath("invalid"));
        QCOMPARE_GT(invalid.count('\n'), 0);
        QCOMPARE(readBytes(dir.filePath("out")).count('\n'), invalid.count('\n'));
    }
};

QTEST_MAIN(CheckSignalsTest)
#include "tst_check_signals.moc"
