// The command line program as a process of its own, for what only a
// process shows: lists on standard input and pipes, the report to a pipe
// whose reader goes or to a stream that cannot be written, the progress line
// on a terminal, the limits on open files and file sizes, and the statuses
// a shell sees. Its jobs in process are tst_cli_commands';
// signals tst_check_signals'; shards tst_check_shards'.

#include "CheckRuns.h"
#include "LoopbackServer.h"
#include "TestFiles.h"

#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

class CheckCommandTest : public QObject {
    Q_OBJECT
private slots:
    // A result file that cannot be written, here past the user's file-size
    // limit (a full disk is the same failed write, the window's save has
    // both): status 2, its name, the old file kept, nothing left beside it,
    // and the report and the result file that can be written still are.
    void resultFileOverTheSizeLimit()
    {
        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        const QString valid = dir.file("valid", "earlier");
        const QStringList addresses = QStringList{server.url("/missing")} + QStringList(8, server.url("/ok"));
        CheckProcess command;
        command.limitFileSize(100);
        const Finished finished = command.run({"--valid", valid, "--invalid", dir.filePath("invalid"), "-"},
                                              linesOf(addresses));
        QCOMPARE(finished.exitCode, 2);
        QVERIFY2(finished.err.contains(QFile::encodeName(valid)), finished.err.constData());
        QCOMPARE(readBytes(valid), QByteArray("earlier"));
        QCOMPARE(readBytes(dir.filePath("invalid")), server.url("/missing").toUtf8() + "\r\n");
        QCOMPARE(filesIn(dir), (QStringList{"invalid", "valid"}));
        QCOMPARE(finished.out.count('\n'), addresses.size());
    }

    // A list from a pipe, which cannot be read twice; a list file as
    // standard input, read from where it stands.
    void listFromStandardInput_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::newRow("a pipe") << "\"$0\" <(printf '%s\\n' \"$1\")";
        QTest::newRow("a file, its heading read first")
            << "printf 'heading\\n%s\\n' \"$1\" > list; { read -r heading; \"$0\"; } < list";
    }
    void listFromStandardInput()
    {
        QFETCH(QString, shell);
        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral("bash"), {"-c", shell, Program, server.url("/ok")});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.readAllStandardOutput(), "valid\tHTTP/1.1 200 OK\t" + server.url("/ok").toUtf8() + "\tok\t1\n");
        QCOMPARE(process.exitCode(), 0);
    }

    // Standard input is read as a stream in bounded memory: a line without
    // end is no list, and stops the run instead of filling the memory.
    void endlessStandardInput()
    {
        CheckProcess command;
        command.process().setStandardInputFile(QStringLiteral("/dev/zero"));
        const Finished finished = command.run({});
        QCOMPARE(finished.exitCode, 2);
        QVERIFY2(finished.err.contains("standard input: a line longer than 64 MB"), finished.err.constData());
    }

    // A list file cut short two seconds into the run: the command stops with
    // a message and never judges a line that was torn.
    void listChangedDuringTheRun()
    {
        LoopbackServer server;
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        QByteArray list;
        for (int i = 0; i < 200000; ++i)
            list += server.url(QStringLiteral("/%1").arg(i)).toUtf8() + '\n';
        const QString path = dir.file("list.txt", list);
        CheckProcess command;
        command.start({"--jobs", "2", path});
        QVERIFY(command.runUntil([&] { return command.outputSoFar().count('\n') > 100; }));
        QFile(path).resize(list.size() / 3 + 7);  // mid-line
        const Finished finished = command.finish();
        QCOMPARE(finished.exitCode, 2);
        QVERIFY2(finished.err.contains("changed"), finished.err.constData());
        QCOMPARE_LT(finished.out.count('\n'), 200000);
        for (const QByteArray& line : finished.out.split('\n')) {
            if (!line.isEmpty())
                QVERIFY2(list.contains(line.mid(line.lastIndexOf('\t') + 1) + '\n'), line.constData());
        }
    }

    // Few open files: with a low limit, or most of it taken by descriptors
    // the command inherits, or the limit lowered under a running command,
    // every live address is still judged by its answer; running out of
    // descriptors is this machine's fault, never a verdict.
    void fewOpenFiles_data()
    {
        QTest::addColumn<int>("inherited");
        QTest::addColumn<bool>("loweredMidRun");
        QTest::addColumn<bool>("refused");
        QTest::newRow("a limit of 64, --jobs 64") << 0 << false << false;
        QTest::newRow("30 of 64 inherited") << 30 << false << false;
        QTest::newRow("50 of 64 inherited: too few to ask") << 50 << false << true;
        QTest::newRow("lowered under the running command") << 0 << true << false;
    }
    void fewOpenFiles()
    {
        QFETCH(int, inherited);
        QFETCH(bool, loweredMidRun);
        QFETCH(bool, refused);
        LoopbackServer server;
        LoopbackServer::Reply late = LoopbackServer::answer("HTTP/1.1 200 OK");
        late.delayMilliseconds = loweredMidRun ? 300 : 0;
        server.setFallback(late);
        QStringList addresses;
        for (int round = 0; round < 2; ++round) {
            for (int host = 0; host < 150; ++host)
                addresses << server.urlOn(QStringLiteral("h%1.localhost").arg(host), QStringLiteral("/%1").arg(round));
        }
#if defined(__SANITIZE_ADDRESS__)
        // The sanitizers' own checks need descriptors (a pipe tells them what
        // memory may be read): without any they report faults that are not
        // there. libcurl 7.88 also leaks what it set up for a socket that
        // socket() then refused (its issue 11401). The plain build runs it.
        if (loweredMidRun)
            QSKIP("the sanitizers cannot work without free descriptors");
#endif
        CheckProcess command;
        const rlim_t limit = loweredMidRun ? 4096 : 64;
        command.process().setChildProcessModifier([=] {
            const rlimit files{limit, limit};
            ::setrlimit(RLIMIT_NOFILE, &files);
            // Exactly the row's descriptors reach the command, not also
            // whatever this test or its runner has open: unused numbers first,
            // then any descriptor (QProcess's start-up pipe among them, which
            // only makes it take the command for started a moment early).
            if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
                ::_exit(125);
            int made = 0;
            for (const bool orClosedOnExec : {false, true}) {
                for (int fd = 3; made < inherited && fd < static_cast<int>(limit); ++fd) {
                    const int flags = ::fcntl(fd, F_GETFD);
                    if ((flags == -1 || (orClosedOnExec && (flags & FD_CLOEXEC))) && ::dup2(STDERR_FILENO, fd) == fd)
                        ++made;
                }
            }
            if (made < inherited)
                ::_exit(125);
        });
        command.start({"--jobs", "64"}, linesOf(addresses));
        if (loweredMidRun) {
            // Too few for the requests under way, then enough again.
            QVERIFY(command.runUntil([&] { return server.requests().size() >= 64; }));
            const rlimit few{24, limit};
            QCOMPARE(::prlimit(command.pid(), RLIMIT_NOFILE, &few, nullptr), 0);
            QTest::qWait(1500);
            const rlimit enough{limit, limit};
            QCOMPARE(::prlimit(command.pid(), RLIMIT_NOFILE, &enough, nullptr), 0);
        }
        const Finished finished = command.finish();
        if (refused) {
            QCOMPARE(finished.exitCode, 2);
            QVERIFY2(finished.err.contains("too few for a request"), finished.err.constData());
            QVERIFY(server.requests().isEmpty());
            return;
        }
        QVERIFY2(finished.out.count("valid\tHTTP/1.1 200 OK\t") == addresses.size(), finished.err.constData());
        QCOMPARE(finished.exitCode, 0);
    }

    // A journal that cannot be written: said once, the run goes on, and the
    // status tells that a later run cannot skip what this one judged.
    void journalThatCannotBeWritten()
    {
        TestFolder dir;
        const QByteArray refused = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::refusedPort()).toUtf8();
        const QString list = dir.file("list.txt", QByteArray(refused + '\n').repeated(30));
        QProcess shell;
        // Files may grow to 1 KB only, the signal for a file too large ignored.
        shell.start(QStringLiteral("bash"), {"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"", Program, "--resume",
                                             dir.filePath("journal"), list});
        QVERIFY(shell.waitForFinished(60000));
        const QByteArray err = shell.readAllStandardError();
        QCOMPARE(err.count(dir.filePath("journal").toUtf8()), 1);
        QCOMPARE(shell.readAllStandardOutput().count('\n'), 30);
        QCOMPARE(shell.exitCode(), 2);
    }

    // Off a terminal the standard error has only the summary (every test
    // above); on one it shows the progress line too, with the classes so far.
    void progressLineOnATerminal()
    {
        const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::refusedPort());
        const QStringList addresses{address + QStringLiteral("1"), address + QStringLiteral("2"),
                                    address + QStringLiteral("3")};
        QProcess terminal;
        // Paused, so that report lines come while the progress line is shown.
        // A list file, whose length is known; a stream's is not until its end.
        TestFolder dir;
        const QString list = dir.file("list.txt", linesOf(addresses));
        terminal.start(QStringLiteral("script"),
                       {"-qec", QStringLiteral("%1 --jobs 1 --pause 0.5 --retries 0 %2").arg(Program, list), "/dev/null"});
        QVERIFY(terminal.waitForFinished(60000));
        const QByteArray shown = terminal.readAllStandardOutput();
        QVERIFY2(shown.contains("\r3 of 3, 0 valid, 3 invalid, "), shown.constData());
        QVERIFY2(shown.contains(" left; 3 unreachable"), shown.constData());
        QVERIFY2(shown.contains("tessaly-check: 3 addresses: 3 unreachable\r\n"), shown.constData());
        QCOMPARE(shown.count("invalid\trefused\t" + address.toUtf8()), 3);
        // Each report line starts its own line, the progress line cleared.
        for (const QByteArray& line : shown.split('\n')) {
            const QByteArray before = line.left(line.indexOf("invalid\trefused"));
            QVERIFY2(before.isEmpty() || before.endsWith("\r\x1b[K") || !line.contains("invalid\trefused"),
                     line.toPercentEncoding(" /:").constData());
        }
    }

    // A report nobody reads any more ends the run early, the result files
    // kept; one that cannot be written is an error.
    void reportThatCannotBeWritten_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("reader gone") << "| head -1 >/dev/null" << 141 << QByteArray();
        QTest::newRow("not writable") << "1</dev/null" << 2 << QByteArray("standard output: Bad file descriptor");
    }
    void reportThatCannotBeWritten()
    {
        QFETCH(QString, output);
        QFETCH(int, status);
        QFETCH(QByteArray, message);
        TestFolder dir;
        const QByteArray refused = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::refusedPort()).toUtf8();
        constexpr int Lines = 20000;
        const QString list = dir.file("list.txt", QByteArray(refused + '\n').repeated(Lines));
        QProcess shell;
        shell.start(QStringLiteral("bash"), {"-c", "\"$0\" \"$@\" " + output + "; exit ${PIPESTATUS[0]}", Program,
                                             "--invalid", dir.filePath("invalid"), list});
        QVERIFY(shell.waitForFinished(120000));
        QCOMPARE(shell.exitCode(), status);
        QVERIFY2(shell.readAllStandardError().contains(message), qPrintable(output));
        QCOMPARE_LT(readBytes(dir.filePath("invalid")).count('\n'), Lines / 2);
        QVERIFY(readBytes(dir.filePath("invalid")).startsWith(refused + "\r\n"));
    }

    // What a shell sees of lists on standard input: an empty one is no
    // failure, and one that is a result file is refused. Those of files and
    // options are tst_cli_commands', the rest of the statuses every test's.
    void exitStatus_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("empty list") << QStringList{} << 0 << QByteArray();
        // "<" names the file standard input is.
        QTest::newRow("the list on standard input")
            << QStringList{"--invalid", "@dir/list.txt", "<@dir/list.txt"} << 2 << QByteArray("overwrite");
    }
    void exitStatus()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, message);
        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        const QByteArray list = linesOf({server.url("/ok")});
        dir.file("list.txt", list);
        const QString validPath = dir.file("valid", "earlier");
        arguments.replaceInStrings(QStringLiteral("@dir"), dir.path());
        CheckProcess command;
        for (const QString& argument : QStringList(arguments)) {
            if (argument.startsWith(u'<')) {
                command.process().setStandardInputFile(argument.mid(1));
                arguments.removeOne(argument);
            }
        }
        const Finished finished = command.run(QStringList{"--valid", validPath, "--invalid", dir.filePath("invalid")}
                                              + arguments);
        QCOMPARE(finished.exitCode, status);
        QVERIFY2(finished.err.contains(message), finished.err.constData());
        if (status == 2)
            QCOMPARE(touchedByARefusal(finished, dir, list, server), QString());
    }
};

QTEST_MAIN(CheckCommandTest)
#include "tst_check_command.moc"
