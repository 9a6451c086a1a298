// The command line program, run as the user runs it, against the loopback
// server: its verdicts and reasons, its result files (tst_save holds them to
// the window's saves of the same list), order and politeness under
// concurrency, Ctrl-C and resuming, and its exit status.

#include "LoopbackServer.h"
#include "RealServers.h"
#include "TestFiles.h"
#include "cli/ListInput.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/xattr.h>
#include <map>
#include <optional>

namespace {
const QString Program = QStringLiteral(TESSALY_BINARY_DIR "/src/tessaly-check");
const QString KubernetesFolder = QStringLiteral(TESSALY_SOURCE_DIR "/deploy/kubernetes");

// An OpenSSH server of the test's own on a free loopback port, letting this
// user in with a key made for it; command() is the ssh that reaches it.
class LoopbackSshServer {
public:
    bool start()
    {
        const auto run = [&](const QString& program, const QStringList& arguments) {
            QProcess process;
            process.start(program, arguments);
            return process.waitForFinished(30000) && process.exitCode() == 0;
        };
        QDir().mkpath(QStringLiteral("/run/sshd"));  // its privilege separation folder
        if (!run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", m_dir.filePath("host_key")})
            || !run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", m_dir.filePath("client_key")})
            || !QFile::copy(m_dir.filePath("client_key.pub"), m_dir.filePath("authorized_keys")))
            return false;
        m_port = LoopbackServer::freePort();
        const QString configuration = QStringLiteral(
            "Port %1\nListenAddress 127.0.0.1\nHostKey %2/host_key\nAuthorizedKeysFile %2/authorized_keys\n"
            "PidFile %2/sshd.pid\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
            "KbdInteractiveAuthentication no\nPermitRootLogin prohibit-password\n")
                                          .arg(m_port)
                                          .arg(m_dir.path());
        writeBytes(m_dir.filePath("sshd_config"), configuration.toUtf8());
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.start(QStringLiteral("/usr/sbin/sshd"), {"-D", "-e", "-f", m_dir.filePath("sshd_config")});
        if (!m_server.waitForStarted())
            return false;
        for (int tries = 0; tries < 200 && m_server.state() == QProcess::Running; ++tries) {
            if (run("ssh", sshOptions() + QStringList{"127.0.0.1", "true"}))
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    QByteArray log() { return m_server.readAll(); }
    QString command() const { return QStringLiteral("ssh ") + sshOptions().join(u' '); }
    ~LoopbackSshServer()
    {
        m_server.terminate();
        m_server.waitForFinished();
    }

private:
    QStringList sshOptions() const
    {
        return {"-p", QString::number(m_port), "-i", m_dir.filePath("client_key"), "-o", "BatchMode=yes",
                "-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null", "-o", "LogLevel=ERROR"};
    }
    QTemporaryDir m_dir;
    QProcess m_server;
    quint16 m_port = 0;
};

struct Finished {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

class CheckCommand {
public:
    CheckCommand()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* proxy : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
            environment.remove(QString::fromLatin1(proxy));
        m_process.setProcessEnvironment(environment);
    }
    void start(const QStringList& arguments, const QByteArray& input = {}, bool inputEnds = true)
    {
        m_process.start(Program, arguments);
        if (!input.isEmpty())
            m_process.write(input);
        if (inputEnds)
            m_process.closeWriteChannel();
        m_clock.start();
    }
    void endInput() { m_process.closeWriteChannel(); }
    QByteArray outputSoFar() { return m_output += m_process.readAllStandardOutput(); }
    // Waits, the test's events running, until the condition holds.
    bool runUntil(const std::function<bool()>& condition, int limit = 60000)
    {
        while (!condition() && !m_clock.hasExpired(limit))
            QTest::qWait(5);
        return condition();
    }
    Finished finish()
    {
        runUntil([&] { return m_process.state() == QProcess::NotRunning; });
        return {m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1,
                m_output + m_process.readAllStandardOutput(), m_process.readAllStandardError()};
    }
    Finished run(const QStringList& arguments, const QByteArray& input = {})
    {
        start(arguments, input);
        return finish();
    }
    void setEnvironment(const QString& name, const QString& value)
    {
        QProcessEnvironment environment = m_process.processEnvironment();
        environment.insert(name, value);
        m_process.setProcessEnvironment(environment);
    }
    // Runs the command with a limit on the size of the files it writes.
    void limitFileSize(rlim_t bytes)
    {
        m_process.setChildProcessModifier([bytes] {
            const rlimit limit{bytes, bytes};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    }
    void interrupt(int signal = SIGINT) { ::kill(pid(), signal); }
    pid_t pid() const { return static_cast<pid_t>(m_process.processId()); }
    // Whether the command has its handler for the signal in place. Between
    // fork and exec the child still shows this test's own handlers, so the
    // command must have become itself first.
    bool handles(int signal) const
    {
        QFile name(QStringLiteral("/proc/%1/comm").arg(pid()));
        if (!name.open(QIODevice::ReadOnly) || name.readAll().trimmed() != QFileInfo(Program).fileName().toUtf8())
            return false;
        QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
        if (!status.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("SigCgt:"))
                return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
        }
        return false;
    }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QElapsedTimer m_clock;
    QByteArray m_output;
};

QByteArray linesOf(const QStringList& addresses)
{
    return addresses.join(u'\n').toUtf8() + '\n';
}

// What a pod of the Kubernetes jobs gets: the program on its path, four
// shards of the list, and the first completion index.
QProcessEnvironment podEnvironment(const QString& list)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QFileInfo(Program).path() + u':' + environment.value("PATH"));
    environment.insert("SHARDS", "4");
    environment.insert("JOB_COMPLETION_INDEX", "0");
    environment.insert("LIST", list);
    return environment;
}

}  // namespace

class CheckCommandTest : public QObject {
    Q_OBJECT
private slots:
    void verdictFromTheStatusLine_data()
    {
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("answerClass");
        QTest::newRow("200 OK") << QByteArray("HTTP/1.1 200 OK") << true << QByteArray("ok");
        QTest::newRow("200 without a phrase") << QByteArray("HTTP/1.1 200") << true << QByteArray("ok");
        QTest::newRow("301") << QByteArray("HTTP/1.1 301 Moved Permanently") << true << QByteArray("redirect");
        QTest::newRow("403") << QByteArray("HTTP/1.1 403 Forbidden") << true << QByteArray("blocked");
        QTest::newRow("404 Not Found") << QByteArray("HTTP/1.1 404 Not Found") << false << QByteArray("not-found");
        QTest::newRow("404 NOT FOUND, HTTP/1.0") << QByteArray("HTTP/1.0 404 NOT FOUND") << false << QByteArray("not-found");
        QTest::newRow("404 in other words") << QByteArray("HTTP/1.1 404 File Not Found") << false << QByteArray("not-found");
        QTest::newRow("404 without a phrase") << QByteArray("HTTP/1.1 404") << false << QByteArray("not-found");
        QTest::newRow("500") << QByteArray("HTTP/1.1 500 Internal Server Error") << true << QByteArray("server-error");
        QTest::newRow("200 with a 404 phrase") << QByteArray("HTTP/1.1 200 404 Not Found Was Fixed") << true
                                               << QByteArray("ok");
    }
    void verdictFromTheStatusLine()
    {
        QFETCH(QByteArray, statusLine);
        QFETCH(bool, valid);
        QFETCH(QByteArray, answerClass);
        LoopbackServer server;
        server.route("/page", LoopbackServer::answer(statusLine, {}, "body"));
        CheckCommand command;
        const Finished finished = command.run({}, linesOf({server.url("/page")}));
        QCOMPARE(finished.out, (valid ? "valid\t" : "invalid\t") + statusLine + '\t' + server.url("/page").toUtf8() + '\t'
                                   + answerClass + "\t1\n");
        QCOMPARE(finished.exitCode, valid ? 0 : 1);
        // No progress line off a terminal: the summary alone.
        QCOMPARE(finished.err, "tessaly-check: 1 address: 1 " + answerClass + '\n');
    }

    // Control characters in an address reach no terminal and add no field.
    void addressEscapedInTheTextReport_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("reported");
        QTest::newRow("escape sequence") << QByteArray("a\x1b[2Jb") << QByteArray("a\\x1b[2Jb");
        // The other rows of the rule are the report's own tests.
    }
    void addressEscapedInTheTextReport()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, reported);
        const QByteArray base = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::refusedPort()).toUtf8();
        const Finished finished = CheckCommand().run({}, base + path + '\n');
        QVERIFY2(finished.out.endsWith('\t' + base + reported + "\tbad-address\t0\n"), finished.out.constData());
        QCOMPARE(finished.out.count('\t'), 4);
    }

    // Addresses without a status line, in the JSON report with the rest.
    void reasonsWithoutAStatusLine_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << "refused" << "refused";
        QTest::newRow("no answer in time") << "/silent" << "time-out";
        QTest::newRow("untrusted certificate") << "tls" << "certificate not trusted";
        QTest::newRow("not an HTTP answer") << "/garbage" << "not an HTTP response";
        QTest::newRow("not http") << "ftp" << "Only http and https addresses can be requested";
        QTest::newRow("empty line") << "" << "empty address";
        QTest::newRow("longer than curl takes") << "long" << "address longer than 8 MB";
    }
    void reasonsWithoutAStatusLine()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const auto tls = LoopbackServer::selfSignedCertificate(dir.path());
        QVERIFY(tls);
        LoopbackServer server;
        LoopbackServer secure(*tls);
        LoopbackServer::Reply silent;
        silent.silent = true;
        server.route("/silent", silent);
        server.route("/garbage", LoopbackServer::raw("SSH-2.0-OpenSSH_9.2\r\n", LoopbackServer::Reply::After::Close));
        QString address = path;
        if (path == "refused")
            address = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::refusedPort());
        else if (path == "tls")
            address = secure.url("/");
        else if (path == "long")
            address = server.url("/") + QString(8000000, u'a');
        else if (path == "ftp")
            address = QStringLiteral("ftp://127.0.0.1/");
        else if (!path.isEmpty())
            address = server.url(path);
        CheckCommand command;
        // Only the silent server is waited out; on a loaded machine reading the
        // system's trust store alone can take longer than a short time-out.
        const QString timeout = path == "/silent" ? QStringLiteral("1") : QStringLiteral("60");
        const Finished finished = command.run({"--format", "jsonl", "--timeout", timeout, "-"}, linesOf({address}));
        QCOMPARE(finished.exitCode, 1);
        const QJsonObject object = QJsonDocument::fromJson(finished.out).object();
        QCOMPARE(object.value("reason").toString(), reason);
        QCOMPARE(object.value("verdict").toString(), "invalid");
        QCOMPARE(object.value("address").toString(), address);
        QVERIFY(object.value("status_line").isNull());
        QVERIFY(server.requests().isEmpty() || path != "long");
    }

    // A header block the connection's close cuts short still gives its
    // status line, as in the window; one past curl's limits is "header too
    // long", not a reset or a lack of memory.
    void headerBlocksCutShort_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("reported");
        QTest::addColumn<QByteArray>("answerClass");
        QTest::newRow("status line, then the close") << QByteArray("HTTP/1.1 200 OK\r\n") << QByteArray("valid\tHTTP/1.1 200 OK")
                                                     << QByteArray("ok");
        QTest::newRow("10 MB of header lines") << "HTTP/1.1 200 OK\r\n" + QByteArray("X-A: aaaaaaaa\r\n").repeated(700000)
                                               << QByteArray("invalid\theader too long") << QByteArray("bad-response");
        QTest::newRow("an endless header line") << "HTTP/1.1 200 OK\r\nX-A: " + QByteArray(10 << 20, 'a')
                                                << QByteArray("invalid\theader too long") << QByteArray("bad-response");
    }
    void headerBlocksCutShort()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, reported);
        QFETCH(QByteArray, answerClass);
        LoopbackServer server;
        server.route("/a", LoopbackServer::raw(reply, LoopbackServer::Reply::After::Close));
        const Finished finished = CheckCommand().run({}, linesOf({server.url("/a")}));
        QCOMPARE(finished.out, reported + '\t' + server.url("/a").toUtf8() + '\t' + answerClass + "\t1\n");
    }

    // A proxy's answer for a server it could not reach is no status line of
    // the server's: the report names the proxy's answer as the reason.
    void proxysOwnAnswerIsTheReason()
    {
        Tinyproxy proxy;
        REQUIRE_RUNNING(proxy);
        LoopbackServer server;
        server.route("/error", LoopbackServer::answer("HTTP/1.1 500 Internal Server Error"));
        const QString unreachable = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::refusedPort());
        CheckCommand command;
        command.setEnvironment(QStringLiteral("http_proxy"), proxy.proxyUrl());
        const Finished finished = command.run({"--timeout", "5", "-"}, linesOf({server.url("/error"), unreachable}));
        QCOMPARE(finished.exitCode, 1);
        QCOMPARE(finished.out, "valid\tHTTP/1.1 500 Internal Server Error\t" + server.url("/error").toUtf8()
                                   + "\tserver-error\t1\ninvalid\tthe proxy answered for the server: HTTP/1.1 500 Unable to "
                                     "connect\t"
                                   + unreachable.toUtf8() + "\tunreachable\t1\n");
    }

    // A redirect is followed to the answer it leads to, which is judged.
    void jsonReportOfARedirect()
    {
        LoopbackServer server;
        server.route("/old", LoopbackServer::answer("HTTP/1.1 301 Moved Permanently", "Location: /new\r\n"));
        const Finished finished = CheckCommand().run({"--format", "jsonl"}, linesOf({server.url("/old")}));
        const QJsonObject object = QJsonDocument::fromJson(finished.out).object();
        QCOMPARE(object.value("verdict").toString(), "invalid");
        QCOMPARE(object.value("status_code").toInt(), 404);
        QCOMPARE(object.value("hops").toInt(), 1);
        QCOMPARE(object.value("final_address").toString(), server.url("/new"));
        QVERIFY(object.value("location").isNull());
        QVERIFY(object.value("time_ms").isDouble());
        QCOMPARE(server.requestedPaths(), (QList<QByteArray>{"/old", "/new"}));
    }

    // A result file that exists stays the file it was, as the window's save
    // keeps it: another hard link sees the new list, a symbolic link stays a
    // link to the file written, an extended attribute stays.
    void resultFilesStayTheFilesTheyWere_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("hard-linked") << "hard link";
        QTest::newRow("symbolic link") << "symbolic link";
        QTest::newRow("extended attribute") << "attribute";
    }
    void resultFilesStayTheFilesTheyWere()
    {
        QFETCH(QString, kind);
        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        // Longer than the new content, which must not keep its tail.
        const QString file = dir.file("results.txt", QByteArray(500, 'x'));
        const QString otherName = dir.filePath("other name.txt");
        const QByteArray fileName = QFile::encodeName(file);
        QString named = file;
        if (kind == "hard link")
            QCOMPARE(::link(fileName.constData(), QFile::encodeName(otherName).constData()), 0);
        if (kind == "symbolic link") {
            QVERIFY(QFile::link(QStringLiteral("results.txt"), otherName));
            named = otherName;
        }
        if (kind == "attribute" && ::setxattr(fileName.constData(), "user.origin", "checked", 7, 0) != 0)
            QSKIP("this file system keeps no user attributes");

        const Finished finished =
            CheckCommand().run({"--valid", named, "-"}, linesOf({server.url("/ok")}));
        QCOMPARE(finished.exitCode, 0);

        const QByteArray expected = server.url("/ok").toUtf8() + "\r\n";
        QCOMPARE(readBytes(file), expected);
        QCOMPARE(filesIn(dir), QStringList({"other name.txt", "results.txt"}).mid(kind == "attribute" ? 1 : 0));
        if (kind != "attribute")
            QCOMPARE(readBytes(otherName), expected);
        if (kind == "symbolic link")
            QVERIFY(QFileInfo(otherName).isSymLink());
        if (kind == "attribute") {
            char value[16] = {};
            QCOMPARE(::getxattr(fileName.constData(), "user.origin", value, sizeof value), 7);
            QCOMPARE(QByteArray(value), QByteArray("checked"));
        }
    }

    // A result file that outgrows the user's file-size limit is a failed
    // write like any other: status 2, its name, the old file kept.
    void resultFileOverTheSizeLimit()
    {
        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        const QString valid = dir.file("valid", "earlier");
        CheckCommand command;
        command.limitFileSize(100);
        const Finished finished = command.run({"--valid", valid, "-"}, linesOf(QStringList(8, server.url("/ok"))));
        QCOMPARE(finished.exitCode, 2);
        QVERIFY2(finished.err.contains(QFile::encodeName(valid)), finished.err.constData());
        QCOMPARE(readBytes(valid), QByteArray("earlier"));
        QCOMPARE(filesIn(dir), QStringList{"valid"});
    }

    // A list file is read in chunks cut at line ends: the lines and the
    // reading as UTF-8 or Windows-1252 are those of the whole file.
    void listReadInChunks_data()
    {
        QTest::addColumn<QByteArray>("head");  // before the chunk's end
        QTest::addColumn<QByteArray>("tail");  // after it
        QTest::addColumn<QByteArray>("reported");
        QTest::newRow("CR LF across two chunks") << QByteArray("ftp://a/\r") << QByteArray("\nftp://b/\r\n")
                                                 << QByteArray("ftp://a/\nftp://b/\n");
        QTest::newRow("not UTF-8 in a later chunk") << QByteArray("ftp://caf\xC3\xA9/\n") << QByteArray("ftp://\xE9/")
                                                    << QByteArray("ftp://caf\xC3\x83\xC2\xA9/\nftp://\xC3\xA9/\n");
        QTest::newRow("UTF-8 throughout, a mark first") << QByteArray("ftp://caf\xC3\xA9/\n") << QByteArray("ftp://\xC3\xA9/")
                                                        << QByteArray("ftp://caf\xC3\xA9/\nftp://\xC3\xA9/\n");
    }
    void listReadInChunks()
    {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, tail);
        QFETCH(QByteArray, reported);
        // A long first line fills the first chunk up to the head.
        const QByteArray mark = QByteArray(QTest::currentDataTag()).contains("mark") ? "\xEF\xBB\xBF" : "";
        const QByteArray filler = "ftp://" + QByteArray(ListInput::ChunkBytes - head.size() - mark.size() - 7, 'x') + '\n';
        TestFolder dir;
        const QString list = dir.file("list.txt", mark + filler + head + tail);
        const Finished finished = CheckCommand().run({list});
        QByteArray addresses;
        for (const QByteArray& line : finished.out.split('\n').mid(1, 2))
            addresses += line.split('\t').value(2) + '\n';
        QCOMPARE(addresses, reported);
        QCOMPARE(finished.out.count('\n'), 3);
        QVERIFY(finished.out.startsWith("invalid\tOnly http and https addresses can be requested\t" + filler.chopped(1)
                                        + "\tbad-address\t0\n"));
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
        CheckCommand command;
        command.process().setStandardInputFile(QStringLiteral("/dev/zero"));
        const Finished finished = command.run({});
        QCOMPARE(finished.exitCode, 2);
        QVERIFY2(finished.err.contains("standard input: a line longer than 64 MB"), finished.err.constData());
    }

    // --jobs 1 is the window's run: the pause follows every request, whatever
    // its host (per-host turns are the queue's own tests). Answers a second
    // late; the pause shows on the server's clock as a gap between the
    // arrivals of at least the answer and the pause.
    void oneJobPausesAfterEveryRequest()
    {
        LoopbackServer server;
        LoopbackServer::Reply late = LoopbackServer::answer("HTTP/1.1 200 OK");
        late.delayMilliseconds = 1000;
        server.setFallback(late);
        CheckCommand command;
        command.start({"--jobs", "1", "--pause", "1"},
                      linesOf({server.urlOn("a.localhost", "/1"), server.urlOn("b.localhost", "/2")}));
        QCOMPARE(command.finish().exitCode, 0);
        const QList<qint64> arrivals = server.arrivalTimes();
        QCOMPARE(arrivals.size(), 2);
        QCOMPARE_GE(arrivals[1] - arrivals[0], 1000 + 950);
    }

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
        const QStringList arguments{"--jobs", "3", "--resume", dir.filePath("journal"), "--valid",
                                    dir.filePath("valid"), "--invalid", dir.filePath("invalid"), "-"};
        const auto journalLines = [&] { return readBytes(dir.filePath("journal")).count('\n'); };

        CheckCommand first;
        first.start(arguments, linesOf(addresses));
        QVERIFY(first.runUntil([&] { return journalLines() == 5; }));  // its first line, four addresses
        first.interrupt();
        const Finished interrupted = first.finish();
        QCOMPARE(interrupted.exitCode, 130);
        QCOMPARE(interrupted.out.count('\n'), 4);
        QVERIFY(!interrupted.out.contains("/hangs"));
        const QByteArray judgedValid = linesOf({server.url("/1"), server.url("/4"), server.urlOn("c.localhost", "/5")})
                                           .replace("\n", "\r\n");
        QCOMPARE(readBytes(dir.filePath("valid")), judgedValid);

        server.route("/hangs", LoopbackServer::answer("HTTP/1.1 200 OK"));
        const qsizetype asked = server.requests().size();
        CheckCommand second;
        const Finished resumed = second.run(arguments, linesOf(addresses));
        QCOMPARE(resumed.exitCode, 1);
        QCOMPARE(server.requestedPaths().mid(asked), QList<QByteArray>{"/hangs"});
        QCOMPARE(resumed.out.count('\n'), 5);
        QVERIFY(resumed.out.startsWith(interrupted.out.left(interrupted.out.indexOf("/missing"))));
        QCOMPARE(readBytes(dir.filePath("valid")),
                 linesOf({server.url("/1"), server.urlOn("b.localhost", "/hangs"), server.url("/4"),
                          server.urlOn("c.localhost", "/5")})
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
        CheckCommand command;
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
        CheckCommand command;
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
        CheckCommand command;
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
        CheckCommand command;
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

    // A result file and a journal on a full disk: each says why in the
    // system's words, and the result file that can be written is.
    void fullDisk()
    {
        if (!runsAsRoot())
            QSKIP("mounting a small file system takes root");
        TestFolder dir;
        const QString full = dir.filePath("full");
        QVERIFY(QDir().mkpath(full));
        QProcess mount;
        mount.start(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=16k", "tmpfs", full});
        QVERIFY(mount.waitForFinished(10000));
        if (mount.exitCode() != 0)
            QSKIP("this machine cannot mount a small file system");
        const auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {full}); });
        LoopbackServer server;
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        server.route("/missing", LoopbackServer::answer("HTTP/1.1 404 Not Found"));
        QStringList addresses{server.url("/missing")};
        for (int i = 0; i < 1000; ++i)
            addresses << server.url(QStringLiteral("/a-page-with-a-long-enough-name/%1").arg(i));
        const Finished finished =
            CheckCommand().run({"--valid", full + "/valid", "--invalid", dir.filePath("invalid"), "--resume",
                                full + "/journal", "-"},
                               linesOf(addresses));
        QCOMPARE(finished.exitCode, 2);
        QCOMPARE(finished.err.count("No space left on device"), 2);
        QCOMPARE(readBytes(dir.filePath("invalid")), server.url("/missing").toUtf8() + "\r\n");
        QCOMPARE(finished.out.count('\n'), addresses.size());
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

    // A list shared out in four shards through GNU parallel and merged from
    // their journals: the report and result files of one run over the whole
    // list, no host asked by two shards. A shard left out fails the merge.
    // Four shards run by an engine not ours, each keeping journal-K.txt
    // beside the list, then merged: GNU parallel on this machine, GNU
    // parallel over ssh (the list sent out, the journals brought back), and
    // the Kubernetes job's own scripts with the completion index each pod
    // would get.
    void shardsRunElsewhereMergeAsOneRun_data()
    {
        QTest::addColumn<QString>("runner");
        QTest::newRow("GNU parallel") << "parallel";
        QTest::newRow("GNU parallel --sshlogin") << "ssh";
        QTest::newRow("Kubernetes Indexed Job") << "kubernetes";
    }
    void shardsRunElsewhereMergeAsOneRun()
    {
        QFETCH(QString, runner);
        const QString parallel = QStandardPaths::findExecutable(QStringLiteral("parallel"));
        QVERIFY2(!parallel.isEmpty(), "GNU parallel is not installed (the README's test command installs it)");
        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        QStringList addresses{QString(), QStringLiteral("ftp://x/")};
        for (int i = 0; i < 36; ++i)
            addresses << server.url(i % 3 ? QStringLiteral("/ok") : QStringLiteral("/gone")).replace(
                QStringLiteral("127.0.0.1"), QStringLiteral("h%1.localhost").arg(i % 12));
        TestFolder dir;
        const QString list = dir.file("list.txt", linesOf(addresses));
        const Finished whole = CheckCommand().run({"--valid", dir.filePath("v1"), "--invalid", dir.filePath("i1"), list});
        QCOMPARE(whole.exitCode, 1);

        // The job's shard count is its completions, told to each pod and to the
        // merge: four here, so that every row runs alike.
        const QByteArray job = readBytes(KubernetesFolder + QStringLiteral("/shards-job.yaml"));
        for (const QByteArray& manifest : {job, readBytes(KubernetesFolder + QStringLiteral("/merge-job.yaml"))})
            QVERIFY(QRegularExpression(R"(- name: SHARDS\s+value: "4")").match(QString::fromUtf8(manifest)).hasMatch());
        QVERIFY(job.contains("completions: 4\n") && job.contains("parallelism: 4\n"));

        QProcess shards;
        shards.setWorkingDirectory(dir.path());
        const QStringList oneToFour{":::", "1", "2", "3", "4"};
        const QStringList shardRun{Program, "--shard", "{}/4", "--resume", "journal-{}.txt", "list.txt"};
        std::optional<LoopbackSshServer> ssh;
        QTemporaryDir elsewhere;
        if (runner == QStringLiteral("parallel")) {
            shards.start(parallel, QStringList{"-q", "--will-cite"} + shardRun + oneToFour);
        } else if (runner == QStringLiteral("ssh")) {
            if (!runsAsRoot())
                QSKIP("an OpenSSH server of the test's own needs root");
            ssh.emplace();
            QVERIFY2(ssh->start(), ssh->log().constData());
            shards.start(parallel, QStringList{"-q", "--will-cite", "--ssh", ssh->command(), "--sshlogin", "127.0.0.1",
                                               "--workdir", elsewhere.path(), "--basefile", "list.txt", "--return",
                                               "journal-{}.txt"}
                                       + shardRun + oneToFour);
        } else {
            shards.setProcessEnvironment(podEnvironment(list));
            shards.start(parallel, {"-q", "--will-cite", "env", "JOB_COMPLETION_INDEX={}", "sh",
                                    KubernetesFolder + QStringLiteral("/check-shard.sh"), ":::", "0", "1", "2", "3"});
        }
        QVERIFY(shards.waitForFinished(120000));
        QVERIFY2(shards.exitStatus() == QProcess::NormalExit, shards.readAllStandardError().constData());
        const int shardsEndingOne = shards.exitCode();

        QStringList merge;
        QSet<QString> hostsSeen;
        int shardsWithInvalid = 0;
        for (int shard = 1; shard <= 4; ++shard) {
            merge << "--merge" << dir.filePath(QStringLiteral("journal-%1.txt").arg(shard));
            QSet<QString> hosts;
            bool invalid = false;
            for (const QByteArray& line : readBytes(merge.constLast()).split('\n').mid(1)) {
                if (const QJsonObject entry = QJsonDocument::fromJson(line).object(); !entry.isEmpty()) {
                    hosts << QUrl(entry.value("address").toString()).host();
                    invalid = invalid || entry.value("verdict") == QStringLiteral("invalid");
                }
            }
            shardsWithInvalid += invalid ? 1 : 0;
            // The empty line and ftp://x/ are journaled, not asked.
            hosts.remove(QString());
            hosts.remove(QStringLiteral("x"));
            QVERIFY2(!hostsSeen.intersects(hosts), qPrintable(QStringList(hosts.values()).join(u' ')));
            hostsSeen.unite(hosts);
        }
        QCOMPARE(hostsSeen.size(), 12);
        // GNU parallel counts the shards that ended 1, some invalid; a pod
        // ends 0 then, for the job would run it again otherwise.
        QCOMPARE(shardsEndingOne, runner == QStringLiteral("kubernetes") ? 0 : shardsWithInvalid);
        QVERIFY(shardsWithInvalid > 0);

        const Finished merged =
            CheckCommand().run(merge + QStringList{"--valid", dir.filePath("v2"), "--invalid", dir.filePath("i2"), list});
        QCOMPARE(merged.exitCode, whole.exitCode);
        QCOMPARE(merged.out, whole.out);
        QCOMPARE(readBytes(dir.filePath("v2")), readBytes(dir.filePath("v1")));
        QCOMPARE(readBytes(dir.filePath("i2")), readBytes(dir.filePath("i1")));

        if (runner == QStringLiteral("kubernetes")) {
            // The merge job's script writes the same beside the list.
            QProcess mergeJob;
            mergeJob.setProcessEnvironment(shards.processEnvironment());
            mergeJob.start(QStringLiteral("sh"), {KubernetesFolder + QStringLiteral("/merge-shards.sh")});
            QVERIFY(mergeJob.waitForFinished(60000));
            QCOMPARE(mergeJob.exitCode(), 0);
            QCOMPARE(readBytes(dir.filePath("report.txt")), whole.out);
            QCOMPARE(readBytes(dir.filePath("valid.txt")), readBytes(dir.filePath("v1")));
            QCOMPARE(readBytes(dir.filePath("invalid.txt")), readBytes(dir.filePath("i1")));
        }

        const Finished partial = CheckCommand().run(merge.mid(0, 6) + QStringList{"--valid", dir.filePath("v3"), list});
        QCOMPARE(partial.exitCode, 2);
        QVERIFY2(partial.err.contains("is in none of the journals"), partial.err.constData());
        QVERIFY(!QFile::exists(dir.filePath("v3")));
    }

    // The jobs' scripts refuse a shard count or index out of range before
    // anything is asked: a pod would check a shard not its own, the merge the
    // whole list afresh, and either would end 0.
    void shardScriptsRefuseBadInput_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("value");  // null: unset
        for (const char* value : {"0", "", "abc", "-1", "100001", "1x"})
            QTest::addRow("SHARDS=%s", value) << "SHARDS" << value;
        QTest::newRow("JOB_COMPLETION_INDEX unset") << "JOB_COMPLETION_INDEX" << QString();
        QTest::newRow("LIST unset") << "LIST" << QString();
        // "4" is past the last of the four shards, 3.
        for (const char* value : {"", "-1", "4", "abc"})
            QTest::addRow("JOB_COMPLETION_INDEX=%s", value) << "JOB_COMPLETION_INDEX" << value;
    }
    void shardScriptsRefuseBadInput()
    {
        QFETCH(QString, variable);
        QFETCH(QString, value);
        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        QProcessEnvironment environment = podEnvironment(dir.file("list.txt", linesOf({server.url("/ok")})));
        if (value.isNull())
            environment.remove(variable);
        else
            environment.insert(variable, value);
        // The merge reads no index.
        QStringList scripts{"check-shard.sh"};
        if (variable != QStringLiteral("JOB_COMPLETION_INDEX"))
            scripts << "merge-shards.sh";
        for (const QString& script : scripts) {
            QProcess run;
            run.setProcessEnvironment(environment);
            run.start(QStringLiteral("sh"), {KubernetesFolder + u'/' + script});
            QVERIFY(run.waitForFinished(60000));
            const QByteArray err = run.readAllStandardError();
            QVERIFY2(run.exitCode() == 2 && err.contains(variable.toUtf8()), qPrintable(script + u' ' + err));
        }
        QVERIFY(server.requests().isEmpty());
        QCOMPARE(filesIn(dir), QStringList{"list.txt"});
    }

    // Off a terminal the standard error has only the summary (every test
    // above); on one it shows the progress line too, with the classes so far.
    void progressLineOnATerminal()
    {
        const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::refusedPort());
        const QStringList addresses{address + QStringLiteral("1"), address + QStringLiteral("2"), address + QStringLiteral("3")};
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
                    // SIGINT's bit) and has had a second to fill the pipe; the
                    // reader starts reading only after it.
                    {"-c", "mkfifo report; (exec <report; until [ -e go ]; do sleep 0.1; done; cat >out) & reader=$!; "
                           "\"$0\" \"$@\" >report & command=$!; "
                           "until (( 0x$(awk '/^SigCgt/ {print $2}' /proc/$command/status) & 2 )); do sleep 0.05; done; "
                           "sleep 1; kill -INT $command; touch go; wait $command; status=$?; wait $reader; exit $status",
                     // Judged at once, not asked again a second later.
                     Program, "--retries", "0", "--invalid", "invalid", list});
        QVERIFY(shell.waitForFinished(120000));
        QCOMPARE(shell.exitCode(), 130);
        const QByteArray invalid = readBytes(dir.filePath("invalid"));
        QCOMPARE_GT(invalid.count('\n'), 0);
        QCOMPARE(readBytes(dir.filePath("out")).count('\n'), invalid.count('\n'));
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

    // Bad usage and inputs that cannot be read: status 2, a message, and no
    // result file touched.
    void exitStatus_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("all valid, standard input") << QStringList{} << QByteArray("@ok\n") << 0 << QByteArray();
        QTest::newRow("all valid, -") << QStringList{"-"} << QByteArray("@ok\n@ok") << 0 << QByteArray();
        QTest::newRow("some invalid") << QStringList{"-"} << QByteArray("@ok\n@gone\n") << 1 << QByteArray();
        QTest::newRow("empty list") << QStringList{} << QByteArray() << 0 << QByteArray();
        QTest::newRow("missing file") << QStringList{"@dir/none.txt"} << QByteArray() << 2 << QByteArray("none.txt");
        QTest::newRow("a folder") << QStringList{"@dir"} << QByteArray() << 2 << QByteArray("is a folder");
        QTest::newRow("a device, read without end") << QStringList{"/dev/zero"} << QByteArray() << 2
                                                    << QByteArray("is a device");
        QTest::newRow("one good file, one missing") << QStringList{"@dir/list.txt", "@dir/none.txt"} << QByteArray()
                                                    << 2 << QByteArray("none.txt");
        QTest::newRow("no jobs") << QStringList{"--jobs", "0", "@dir/list.txt"} << QByteArray() << 2 << QByteArray("--jobs");
        QTest::newRow("negative pause") << QStringList{"--pause", "-1", "@dir/list.txt"} << QByteArray() << 2
                                        << QByteArray("--pause");
        QTest::newRow("unknown format") << QStringList{"--format", "xml", "@dir/list.txt"} << QByteArray() << 2
                                        << QByteArray("--format");
        QTest::newRow("unknown option") << QStringList{"--fast", "@dir/list.txt"} << QByteArray() << 2
                                        << QByteArray("fast");
        QTest::newRow("valid and invalid in one file")
            << QStringList{"--invalid", "@dir/./valid", "@dir/list.txt"} << QByteArray() << 2 << QByteArray("same file");
        QTest::newRow("a journal named as a result file")
            << QStringList{"--resume", "@dir/invalid", "@dir/list.txt"} << QByteArray() << 2 << QByteArray("result file");
        QTest::newRow("a journal that is no journal")
            << QStringList{"--resume", "@dir/other.txt", "@dir/list.txt"} << QByteArray() << 2 << QByteArray("journal");
        // Nothing the command writes may be a list it reads, the report, or
        // another output: compared as files, not names. "<" and ">" name the
        // files standard input and output are.
        QTest::newRow("a result file that is the list")
            << QStringList{"--valid", "@dir/list.txt", "@dir/list.txt"} << QByteArray() << 2 << QByteArray("overwrite");
        QTest::newRow("a hard link of the list")
            << QStringList{"--invalid", "@dir/list-link", "@dir/list.txt"} << QByteArray() << 2 << QByteArray("overwrite");
        QTest::newRow("the list on standard input")
            << QStringList{"--invalid", "@dir/list.txt", "<@dir/list.txt"} << QByteArray() << 2 << QByteArray("overwrite");
        QTest::newRow("a journal that is the list")
            << QStringList{"--resume", "@dir/list.txt", "@dir/list.txt"} << QByteArray() << 2 << QByteArray("overwrite");
        QTest::newRow("valid and invalid hard-linked")
            << QStringList{"--invalid", "@dir/valid-link", "@dir/list.txt"} << QByteArray() << 2 << QByteArray("same file");
        QTest::newRow("a result file that is the report")
            << QStringList{"--invalid", "/dev/stdout", ">@dir/report", "@dir/list.txt"} << QByteArray() << 2
            << QByteArray("report's own output");
        QTest::newRow("a device as the journal") << QStringList{"--resume", "/dev/null", "@dir/list.txt"} << QByteArray()
                                                 << 2 << QByteArray("not a regular file");
        QTest::newRow("a journal another run holds") << QStringList{"--resume", "@dir/journal", "@dir/list.txt"}
                                                     << QByteArray() << 2 << QByteArray("another tessaly-check run");
    }
    void exitStatus()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        QFETCH(QByteArray, message);
        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        const QByteArray list = linesOf({server.url("/ok")});
        const QString listPath = dir.file("list.txt", list);
        const QString validPath = dir.file("valid", "earlier");
        dir.file("other.txt", list);
        QCOMPARE(::link(QFile::encodeName(listPath).constData(), QFile::encodeName(dir.filePath("list-link")).constData()), 0);
        QCOMPARE(::link(QFile::encodeName(validPath).constData(), QFile::encodeName(dir.filePath("valid-link")).constData()), 0);
        QFile journal(dir.file("journal", "tessaly-check journal 1\n"));
        QVERIFY(journal.open(QIODevice::ReadOnly) && ::flock(journal.handle(), LOCK_EX) == 0);
        arguments.replaceInStrings(QStringLiteral("@dir"), dir.path());
        input.replace("@", server.url("/").chopped(1).toUtf8() + "/");
        CheckCommand command;
        for (const QString& argument : QStringList(arguments)) {
            if (argument.startsWith(u'<'))
                command.process().setStandardInputFile(argument.mid(1));
            else if (argument.startsWith(u'>'))
                command.process().setStandardOutputFile(argument.mid(1));
            else
                continue;
            arguments.removeOne(argument);
        }
        const Finished finished =
            command.run(QStringList{"--valid", validPath, "--invalid", dir.filePath("invalid")} + arguments, input);
        QCOMPARE(finished.exitCode, status);
        QVERIFY2(finished.err.contains(message), finished.err.constData());
        // The command's own words only.
        QVERIFY2(!finished.err.contains("QIODevice") && !finished.err.contains("QFile"), finished.err.constData());
        if (status == 2) {
            QCOMPARE(finished.out, QByteArray());
            QCOMPARE(readBytes(dir.filePath("valid")), QByteArray("earlier"));
            QVERIFY(!QFile::exists(dir.filePath("invalid")));
            QCOMPARE(readBytes(dir.filePath("list.txt")), list);
            QVERIFY(server.requests().isEmpty());
        }
    }
};

QTEST_MAIN(CheckCommandTest)
#include "tst_check_command.moc"
