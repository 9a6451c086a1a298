// The command line's jobs run in this process against the loopback server,
// their report and messages going to files of the test's own: the report's
// lines, the reasons, the result files, the refusals before any request and
// their status. No signal handler is in place, as in any other test. What
// needs a process of its own (signals, standard input, pipes, terminals,
// limits, the status a shell sees) is in tst_check_command, tst_check_signals
// and tst_check_shards.

#include "CheckRuns.h"
#include "LoopbackServer.h"
#include "RealServers.h"
#include "TestFiles.h"
#include "cli/ListInput.h"
#include "cli/RequestHeaders.h"
#include "engine/address/PrivateAddress.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTest>

#include <QNetworkInterface>

#include <unistd.h>

namespace {
// The answers the rules for --accept and --fail-on are tried on.
void routeEveryAnswer(LoopbackServer& server)
{
    server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
    server.route("/gone", LoopbackServer::answer("HTTP/1.1 410 Gone"));
    server.route("/missing", LoopbackServer::answer("HTTP/1.1 404 Not Found"));
    server.route("/forbidden", LoopbackServer::answer("HTTP/1.1 403 Forbidden"));
    server.route("/slow", LoopbackServer::answer("HTTP/1.1 429 Too Many Requests"));
    server.route("/moved", LoopbackServer::answer("HTTP/1.1 301 Moved Permanently", "Location: /ok\r\n"));
}

// A result file of these addresses, as the window saves one.
QByteArray savedAs(const QStringList& addresses)
{
    QByteArray saved;
    for (const QString& address : addresses)
        saved += address.toUtf8() + "\r\n";
    return saved;
}
}  // namespace

class CliCommandsTest : public QObject {
    Q_OBJECT
private slots:
    // As the process runs: without this machine's proxies.
    void initTestCase()
    {
        for (const char* proxy : ProxyVariables)
            qunsetenv(proxy);
    }

    // The report line, status and summary of an answer; the verdict rule and
    // the classes have their tables in tst_checking and tst_answer_rules.
    void verdictFromTheStatusLine_data()
    {
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QByteArray>("answerClass");
        QTest::newRow("200 OK") << QByteArray("HTTP/1.1 200 OK") << true << QByteArray("ok");
        QTest::newRow("200 without a phrase") << QByteArray("HTTP/1.1 200") << true << QByteArray("ok");
        QTest::newRow("301") << QByteArray("HTTP/1.1 301 Moved Permanently") << true << QByteArray("redirect");
        QTest::newRow("404 Not Found") << QByteArray("HTTP/1.1 404 Not Found") << false << QByteArray("not-found");
        QTest::newRow("404 without a phrase") << QByteArray("HTTP/1.1 404") << false << QByteArray("not-found");
    }
    void verdictFromTheStatusLine()
    {
        QFETCH(QByteArray, statusLine);
        QFETCH(bool, valid);
        QFETCH(QByteArray, answerClass);
        LoopbackServer server;
        server.route("/page", LoopbackServer::answer(statusLine, {}, "body"));
        const Finished finished = runInProcess({}, linesOf({server.url("/page")}));
        QCOMPARE(finished.out, (valid ? "valid\t" : "invalid\t") + statusLine + '\t' + server.url("/page").toUtf8()
                                   + '\t' + answerClass + "\t1\n");
        QCOMPARE(finished.exitCode, valid ? 0 : 1);
        // No progress line off a terminal: the summary alone.
        QCOMPARE(finished.err, "tessaly-check: 1 address: 1 " + answerClass + '\n');
    }

    // Addresses without a status line, in the JSON report with the rest.
    void reasonsWithoutAStatusLine_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused") << "refused"
                                 << "refused";
        QTest::newRow("no answer in time") << "/silent"
                                           << "time-out";
        QTest::newRow("untrusted certificate") << "tls"
                                               << "certificate not trusted";
        QTest::newRow("not an HTTP answer") << "/garbage"
                                            << "not an HTTP response";
        QTest::newRow("not http") << "ftp"
                                  << "Only http and https addresses can be requested";
        QTest::newRow("empty line") << ""
                                    << "empty address";
        QTest::newRow("longer than curl takes") << "long"
                                                << "address longer than 8 MB";
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
        // Only the silent server is waited out; on a loaded machine reading the
        // system's trust store alone can take longer than a short time-out.
        const QString timeout = path == "/silent" ? QStringLiteral("1") : QStringLiteral("60");
        const Finished finished = runInProcess({"--format", "jsonl", "--timeout", timeout, "-"}, linesOf({address}));
        QCOMPARE(finished.exitCode, 1);
        const QJsonObject object = QJsonDocument::fromJson(finished.out).object();
        QCOMPARE(object.value("reason").toString(), reason);
        QCOMPARE(object.value("verdict").toString(), "invalid");
        QCOMPARE(object.value("address").toString(), address);
        QVERIFY(object.value("status_line").isNull());
        QVERIFY(server.requests().isEmpty() || path != "long");
    }

    // A header block past curl's limits is "header too long", not a reset or
    // a lack of memory. (One the connection's close cuts short is read as
    // the window reads it, tst_transfer's.)
    void headerBlocksCutShort_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("reported");
        QTest::addColumn<QByteArray>("answerClass");
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
        const Finished finished = runInProcess({}, linesOf({server.url("/a")}));
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
        // curl reads the proxy from the environment at each transfer.
        qputenv("http_proxy", proxy.proxyUrl().toUtf8());
        const auto noProxy = qScopeGuard([] { qunsetenv("http_proxy"); });
        const Finished finished = runInProcess({"--timeout", "5", "-"}, linesOf({server.url("/error"), unreachable}));
        QCOMPARE(finished.exitCode, 1);
        QCOMPARE(finished.out, "valid\tHTTP/1.1 500 Internal Server Error\t" + server.url("/error").toUtf8()
                                   + "\tserver-error\t1\ninvalid\tthe proxy answered for the server: HTTP/1.1 500 Unable to "
                                     "connect\t"
                                   + unreachable.toUtf8() + "\tunreachable\t1\n");
    }

    // A result file that exists stays the file it was, as the window's save
    // keeps it (the rest of what it was is tst_save_over's, through the same
    // file channel): another hard link sees the new list.
    void resultFileStaysTheFileItWas()
    {
        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        // Longer than the new content, which must not keep its tail.
        const QString file = dir.file("results.txt", QByteArray(500, 'x'));
        const QString otherName = dir.filePath("other name.txt");
        QCOMPARE(::link(QFile::encodeName(file).constData(), QFile::encodeName(otherName).constData()), 0);
        const Finished finished = runInProcess({"--valid", file, "-"}, linesOf({server.url("/ok")}));
        QCOMPARE(finished.exitCode, 0);
        const QByteArray expected = server.url("/ok").toUtf8() + "\r\n";
        QCOMPARE(readBytes(file), expected);
        QCOMPARE(readBytes(otherName), expected);
        QCOMPARE(filesIn(dir), QStringList({"other name.txt", "results.txt"}));
    }

    // A list file is read in chunks cut at line ends: the lines and the
    // reading as UTF-8 or Windows-1252 are those of the whole file.
    void listReadInChunks_data()
    {
        QTest::addColumn<QByteArray>("head");  // before the chunk's end
        QTest::addColumn<QByteArray>("tail");  // after it
        QTest::addColumn<QByteArray>("reported");
        QTest::newRow("CR LF across two chunks")
            << QByteArray("ftp://a/\r") << QByteArray("\nftp://b/\r\n") << QByteArray("ftp://a/\nftp://b/\n");
        QTest::newRow("not UTF-8 in a later chunk") << QByteArray("ftp://caf\xC3\xA9/\n") << QByteArray("ftp://\xE9/")
                                                    << QByteArray("ftp://caf\xC3\x83\xC2\xA9/\nftp://\xC3\xA9/\n");
        QTest::newRow("UTF-8 throughout, a mark first")
            << QByteArray("ftp://caf\xC3\xA9/\n") << QByteArray("ftp://\xC3\xA9/")
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
        const Finished finished = runInProcess({list});
        QByteArray addresses;
        for (const QByteArray& line : finished.out.split('\n').mid(1, 2))
            addresses += line.split('\t').value(2) + '\n';
        QCOMPARE(addresses, reported);
        QCOMPARE(finished.out.count('\n'), 3);
        QVERIFY(finished.out.startsWith("invalid\tOnly http and https addresses can be requested\t" + filler.chopped(1)
                                        + "\tbad-address\t0\n"));
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
        const Finished finished =
            runInProcess({"--jobs", "1", "--pause", "1"},
                         linesOf({server.urlOn("a.localhost", "/1"), server.urlOn("b.localhost", "/2")}));
        QCOMPARE(finished.exitCode, 0);
        const QList<qint64> arrivals = server.arrivalTimes();
        QCOMPARE(arrivals.size(), 2);
        QCOMPARE_GE(arrivals[1] - arrivals[0], 1000 + 950);
    }

    // The shards' journals merged, or one run's journal resumed, without a
    // request: the report, summary and result files of one run over the
    // whole list, under the --accept and --fail-on of the run that reports,
    // whatever those that kept the journals were given (a journal keeps the
    // window's verdicts). A shard left out fails the merge, and no result
    // file is written. Shards run elsewhere are tst_check_shards'.
    void reportedFromJournals_data()
    {
        QTest::addColumn<int>("shards");             // 0: one run, resumed
        QTest::addColumn<int>("merged");             // how many of the journals
        QTest::addColumn<QStringList>("recording");  // the options of the runs that keep the journals
        QTest::addColumn<QStringList>("reporting");  // of the run merged or resumed
        const QStringList none;
        const QStringList judging{"--accept", "200-299,403", "--fail-on", "not-found"};
        QTest::newRow("both shards") << 2 << 2 << none << none;
        QTest::newRow("a shard left out") << 2 << 1 << none << none;
        QTest::newRow("merged under --accept and --fail-on") << 2 << 2 << none << judging;
        QTest::newRow("merged without them") << 2 << 2 << judging << none;
        QTest::newRow("resumed under them") << 0 << 1 << none << judging;
        QTest::newRow("resumed without them") << 0 << 1 << judging << none;
    }
    void reportedFromJournals()
    {
        QFETCH(int, shards);
        QFETCH(int, merged);
        QFETCH(QStringList, recording);
        QFETCH(QStringList, reporting);
        LoopbackServer server;
        routeEveryAnswer(server);
        const QString paths[] = {"/ok", "/gone", "/ok", "/forbidden", "/moved", "/missing"};
        QStringList addresses{QString(), QStringLiteral("ftp://x/")};
        for (int i = 0; i < 12; ++i)
            addresses << server.urlOn(QStringLiteral("h%1.localhost").arg(i % 4), paths[i % 6]);
        TestFolder dir;
        const QString list = dir.file("list.txt", linesOf(addresses));
        const Finished whole =
            runInProcess(reporting + QStringList{"--valid", dir.filePath("v1"), "--invalid", dir.filePath("i1"), list});
        QCOMPARE(whole.exitCode, 1);
        QStringList journals;
        for (int shard = 1; shard <= std::max(shards, 1); ++shard) {
            const QString journal = dir.filePath(QStringLiteral("journal-%1").arg(shard));
            const QStringList sharding = shards ? QStringList{"--shard", QStringLiteral("%1/%2").arg(shard).arg(shards)}
                                                : QStringList{};
            QCOMPARE_LE(runInProcess(recording + sharding + QStringList{"--resume", journal, list}).exitCode, 1);
            if (shard <= merged)
                journals << (shards ? "--merge" : "--resume") << journal;
        }
        const qsizetype asked = server.requests().size();
        const Finished result = runInProcess(reporting + journals
                                             + QStringList{"--valid", dir.filePath("v2"), "--invalid",
                                                           dir.filePath("i2"), list});
        QCOMPARE(server.requests().size(), asked);
        if (merged < shards) {
            QCOMPARE(result.exitCode, 2);
            QVERIFY2(result.err.contains("is in none of the journals"), result.err.constData());
            QVERIFY(!QFile::exists(dir.filePath("v2")) && !QFile::exists(dir.filePath("i2")));
            return;
        }
        QCOMPARE(result.exitCode, whole.exitCode);
        QCOMPARE(result.out, whole.out);
        QCOMPARE(result.err, whole.err);
        QCOMPARE(readBytes(dir.filePath("v2")), readBytes(dir.filePath("v1")));
        QCOMPARE(readBytes(dir.filePath("i2")), readBytes(dir.filePath("i1")));
    }

    // The verdicts, result files, exit status and summary under --accept
    // and --fail-on. Without them a 410 is the window's valid, and the run
    // passes.
    void acceptedAndFailing_data()
    {
        QTest::addColumn<QStringList>("paths");  // "refused": an address that gets no answer
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("verdicts");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("note");  // how the summary ends
        const QByteArray none;
        QTest::newRow("410 by the window's rule")
            << QStringList{"/ok", "/gone"} << QStringList{} << QByteArray("valid valid") << 0 << none;
        QTest::newRow("410 outside the codes accepted")
            << QStringList{"/ok", "/gone"} << QStringList{"--accept", "200-299"} << QByteArray("valid invalid") << 1
            << QByteArray("; accepted: 200-299");
        QTest::newRow("blocked answers invalid, not failing")
            << QStringList{"/ok", "/forbidden", "/slow"}
            << QStringList{"--accept", "200-299", "--fail-on", "unreachable,not-found"}
            << QByteArray("valid invalid invalid") << 0
            << QByteArray("; accepted: 200-299; failing: not-found, unreachable");
        QTest::newRow("and one that is not found")
            << QStringList{"/ok", "/forbidden", "/missing"}
            << QStringList{"--accept", "200-299", "--fail-on", "not-found,unreachable"}
            << QByteArray("valid invalid invalid") << 1
            << QByteArray("; accepted: 200-299; failing: not-found, unreachable");
        // The last answer is judged: the one a redirect leads to, or the
        // redirect itself when none is followed.
        QTest::newRow("a redirect followed") << QStringList{"/moved"} << QStringList{"--accept", "200-299"}
                                             << QByteArray("valid") << 0 << QByteArray("; accepted: 200-299");
        QTest::newRow("a redirect not followed")
            << QStringList{"/moved"} << QStringList{"--accept", "200-299", "--redirects", "0"} << QByteArray("invalid")
            << 1 << QByteArray("; accepted: 200-299");
        QTest::newRow("no answer stays invalid")
            << QStringList{"/ok", "refused"} << QStringList{"--accept", "100-599", "--retries", "0"}
            << QByteArray("valid invalid") << 1 << QByteArray("; accepted: 100-599");
    }
    void acceptedAndFailing()
    {
        QFETCH(QStringList, paths);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, verdicts);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, note);
        LoopbackServer server;
        routeEveryAnswer(server);
        QStringList addresses;
        for (const QString& path : paths)
            addresses << (path == u"refused" ? QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::refusedPort())
                                             : server.url(path));
        TestFolder dir;
        const Finished finished = runInProcess(arguments + QStringList{"--invalid", dir.filePath("invalid")},
                                               linesOf(addresses));
        QCOMPARE(finished.exitCode, exitCode);
        QByteArrayList reported;
        QStringList invalid;
        for (const QByteArray& line : finished.out.split('\n')) {
            if (line.isEmpty())
                continue;
            reported << line.left(line.indexOf('\t'));
            if (reported.constLast() == "invalid")
                invalid << QString::fromUtf8(line.split('\t').value(2));
        }
        QCOMPARE(reported.join(' '), verdicts);
        QCOMPARE(readBytes(dir.filePath("invalid")), savedAs(invalid));
        // The summary, one line, says which rules were in force.
        QVERIFY2(finished.err.startsWith("tessaly-check: ") && finished.err.count('\n') == 1, finished.err.constData());
        if (note.isEmpty())
            QVERIFY2(!finished.err.contains("accepted") && !finished.err.contains("failing"), finished.err.constData());
        else
            QVERIFY2(finished.err.endsWith(note + '\n'), finished.err.constData());
    }

    // What the requests say of the program, as a real server logs it: its
    // own user agent unless told another, and each --header as given.
    void userAgentAndHeadersAsNginxLogsThem()
    {
        Nginx nginx;
        REQUIRE_RUNNING(nginx);
        const QByteArray list = linesOf({nginx.url("/page")});
        const Finished plain = runInProcess({"--header", "X-Tessaly-Test: first run", "-"}, list);
        QCOMPARE(plain.exitCode, 0);
        const Finished named =
            runInProcess({"--user-agent", "Probe/2.0 (+https://probe.example/)", "--header", "x-tessaly-test:", "-"}, list);
        QCOMPARE(named.exitCode, 0);
        QTRY_COMPARE(nginx.askedHeaders().size(), 2);
        const QList<QByteArrayList> asked = nginx.askedHeaders();
        QCOMPARE(asked[0], (QByteArrayList{RequestHeaders::defaultUserAgent().toUtf8(), "first run"}));
        // An empty value is sent empty, not left out (nginx logs a header
        // not sent as "-").
        QCOMPARE(asked[1], (QByteArrayList{"Probe/2.0 (+https://probe.example/)", ""}));
    }

    // What the patterns leave out is in no result file; a journal resumed
    // with other patterns decides it again, and asks what it now may.
    void exclusionsNotResumed()
    {
        LoopbackServer server;
        server.route("/a", LoopbackServer::answer("HTTP/1.1 200 OK"));
        server.route("/b", LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        const QString journal = dir.filePath("journal");
        const QByteArray list = linesOf({server.url("/a"), server.url("/b")});
        const Finished first =
            runInProcess({"--resume", journal, "--valid", dir.filePath("valid"), "--exclude", "/b$", "-"}, list);
        // Neither valid nor invalid: in no result file.
        QCOMPARE(readBytes(dir.filePath("valid")), server.url("/a").toUtf8() + "\r\n");
        QCOMPARE(first.out.split('\n').value(1),
                 "skipped\texcluded by --exclude /b$\t" + server.url("/b").toUtf8() + "\texcluded\t0");
        const Finished resumed = runInProcess({"--resume", journal, "-"}, list);
        QCOMPARE(resumed.out.split('\n').value(1), "valid\tHTTP/1.1 200 OK\t" + server.url("/b").toUtf8() + "\tok\t1");
        QCOMPARE(server.requestedPaths(), (QList<QByteArray>{"/a", "/b"}));
    }

    // A redirect from an address that may be asked into a private one is
    // left out as the line's own would be: the private server sees nothing.
    void redirectIntoPrivateNeverConnected()
    {
        QHostAddress outside;
        for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
            const QByteArray host = address.toString().toLatin1();
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !PrivateAddress::ofHost(host).value_or(true))
                outside = address;
        }
        if (outside.isNull())
            QSKIP("this machine has no address outside the private ranges");
        LoopbackServer inside;
        inside.route("/target", LoopbackServer::answer("HTTP/1.1 200 OK"));
        LoopbackServer first(outside);
        QVERIFY(first.isListening());
        first.route("/moved",
                    LoopbackServer::answer("HTTP/1.1 302 Found", "Location: " + inside.url("/target").toUtf8() + "\r\n"));
        const QString address = QStringLiteral("http://%1:%2/moved").arg(outside.toString()).arg(first.port());
        const Finished left = runInProcess({"--exclude-private", "--format", "jsonl", "-"}, linesOf({address}));
        QCOMPARE(left.exitCode, 0);
        const QJsonObject line = QJsonDocument::fromJson(left.out).object();
        QCOMPARE(line.value("verdict").toString(), "skipped");
        QCOMPARE(line.value("class").toString(), "excluded");
        QCOMPARE(line.value("reason").toString(), "private host 127.0.0.1 not asked (--exclude-private)");
        QCOMPARE(line.value("final_address").toString(), inside.url("/target"));
        QCOMPARE(first.requestedPaths(), QList<QByteArray>{"/moved"});
        QCOMPARE(inside.connectionsAccepted(), 0);
        const Finished asked = runInProcess({"-"}, linesOf({address}));
        QCOMPARE(asked.exitCode, 0);
        QCOMPARE(inside.requestedPaths(), QList<QByteArray>{"/target"});
    }

    // Where a redirect leads is asked as the line is: the patterns hold
    // for it, and the credentials of --header go to the line's origin only.
    void redirectHops_data()
    {
        QTest::addColumn<bool>("elsewhere");  // to another origin, or the line's own
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("verdict");       // "skipped": the hop never asked
        QTest::addColumn<QByteArrayList>("carried");   // header lines the hop's request has
        QTest::addColumn<QByteArrayList>("keptBack");  // and those it has not
        QTest::newRow("a redirect into an excluded address is not asked")
            << true << QStringList{"--exclude", "/target$"} << QByteArray("skipped") << QByteArrayList()
            << QByteArrayList();
        QTest::newRow("a redirect outside --include is not asked")
            << false << QStringList{"--include", "/moved$"} << QByteArray("skipped") << QByteArrayList()
            << QByteArrayList();
        const QStringList credentials{"--header",  "Authorization: Bearer t", "--header", "Cookie: a=1", "--header",
                                      "X-Trace: 7"};
        QTest::newRow("a redirect to another origin does not carry credentials")
            << true << credentials << QByteArray("valid") << QByteArrayList{"X-Trace: 7"}
            << QByteArrayList{"Authorization", "Cookie"};
        QTest::newRow("a redirect within the origin carries them")
            << false << credentials << QByteArray("valid")
            << QByteArrayList{"Authorization: Bearer t", "Cookie: a=1", "X-Trace: 7"} << QByteArrayList();
    }
    void redirectHops()
    {
        QFETCH(bool, elsewhere);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, verdict);
        QFETCH(QByteArrayList, carried);
        QFETCH(QByteArrayList, keptBack);
        LoopbackServer first;
        LoopbackServer second;
        LoopbackServer& target = elsewhere ? second : first;
        target.route("/target", LoopbackServer::answer("HTTP/1.1 200 OK"));
        first.route("/moved",
                    LoopbackServer::answer("HTTP/1.1 302 Found", "Location: " + target.url("/target").toUtf8() + "\r\n"));
        const Finished finished = runInProcess(arguments << "-", linesOf({first.url("/moved")}));
        QCOMPARE(finished.exitCode, 0);
        QCOMPARE(finished.out.left(finished.out.indexOf('\t')), verdict);
        QByteArray hop;
        for (const QByteArray& request : target.requests()) {
            if (request.startsWith("GET /target "))
                hop = request;
        }
        QCOMPARE(hop.isEmpty(), verdict == "skipped");
        for (const QByteArray& line : carried)
            QVERIFY2(hop.contains("\r\n" + line + "\r\n"), hop.constData());
        for (const QByteArray& name : keptBack)
            QVERIFY2(!hop.toLower().contains("\r\n" + name.toLower() + ":"), hop.constData());
    }

    // A cookie set by one address goes with the next request, whichever
    // lane asks it; those in the jar at the start go with the first; and
    // the jar holds them all at the end, in the format curl reads.
    void cookiesKeptForTheRun()
    {
        LoopbackServer server;
        // /login answers last: /account then goes out on the request
        // /elsewhere (another host, first in the list) has left free, not on
        // /login's, whose own cookies it would otherwise share.
        LoopbackServer::Reply login = LoopbackServer::answer("HTTP/1.1 200 OK", "Set-Cookie: session=abc123; Path=/\r\n");
        login.delayMilliseconds = 1000;
        server.route("/login", login);
        LoopbackServer::Reply elsewhere = LoopbackServer::answer("HTTP/1.1 200 OK");
        elsewhere.delayMilliseconds = 200;
        server.route("/elsewhere", elsewhere);
        server.route("/account", LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        const QString jar = dir.file("cookies.txt", "# Netscape HTTP Cookie File\n"
                                                    "127.0.0.1\tFALSE\t/\tFALSE\t0\tearlier\t1\n");
        const Finished finished = runInProcess({"-j", "8", "--cookie-jar", jar, "-"},
                                               linesOf({server.urlOn("localhost", "/elsewhere"), server.url("/login"),
                                                        server.url("/account")}));
        QCOMPARE(finished.exitCode, 0);
        const auto requestFor = [&](const QByteArray& path) {
            for (const QByteArray& request : server.requests()) {
                if (request.startsWith("GET " + path + " "))
                    return request;
            }
            return QByteArray();
        };
        const QByteArray first = requestFor("/login");
        QVERIFY2(first.contains("\r\nCookie: earlier=1\r\n"), first.constData());
        const QByteArray next = requestFor("/account");
        QVERIFY2(next.contains("Cookie: ") && next.contains("session=abc123") && next.contains("earlier=1"),
                 next.constData());
        const QByteArray written = readBytes(jar);
        QVERIFY2(written.startsWith("# Netscape HTTP Cookie File\n"), written.constData());
        QVERIFY2(written.contains("\n127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\tabc123\n"), written.constData());
        QVERIFY2(written.contains("\n127.0.0.1\tFALSE\t/\tFALSE\t0\tearlier\t1\n"), written.constData());
        // Without the option nothing is kept.
        runInProcess({"-j", "1", "-"}, linesOf({server.url("/login"), server.url("/account")}));
        QVERIFY(!server.requests().constLast().contains("Cookie"));
    }

    // Bad usage and inputs that cannot be read: status 2, a message, and no
    // result file touched. Those on standard input are tst_check_command's.
    // A configuration in the current folder is read by a real run, the
    // usual name before the hidden one; --no-config reads none, and one
    // refused stops the run before any request.
    void configInTheCurrentFolder_data()
    {
        QTest::addColumn<QByteArray>("usual");   // tessaly-check.toml; null: none
        QTest::addColumn<QByteArray>("hidden");  // .tessaly-check.toml
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("report");  // "jsonl", "text" or the refusal
        const QByteArray jsonl("format = \"jsonl\"\n");
        const QByteArray bad("format = \"jsonl\"\njobs = 0\n");
        QTest::newRow("the usual name") << jsonl << QByteArray() << QStringList{} << QByteArray("jsonl");
        QTest::newRow("the hidden name") << QByteArray() << jsonl << QStringList{} << QByteArray("jsonl");
        QTest::newRow("the usual name first")
            << QByteArray("format = \"text\"") << jsonl << QStringList{} << QByteArray("text");
        QTest::newRow("none read") << bad << QByteArray() << QStringList{"--no-config"} << QByteArray("text");
        QTest::newRow("refused") << bad << QByteArray() << QStringList{}
                                 << QByteArray("tessaly-check: tessaly-check.toml:2: --jobs takes a whole number from 1 to 1024\n");
    }
    void configInTheCurrentFolder()
    {
        QFETCH(QByteArray, usual);
        QFETCH(QByteArray, hidden);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, report);
        LoopbackServer server;
        server.route("/page", LoopbackServer::answer("HTTP/1.1 200 OK", {}, "body"));
        TestFolder dir;
        if (!usual.isNull())
            dir.file(QStringLiteral("tessaly-check.toml"), usual);
        if (!hidden.isNull())
            dir.file(QStringLiteral(".tessaly-check.toml"), hidden);
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const auto back = qScopeGuard([&] { QDir::setCurrent(before); });
        const Finished finished = runInProcess(arguments, linesOf({server.url("/page")}));
        if (report == "jsonl" || report == "text") {
            QCOMPARE(finished.exitCode, 0);
            QCOMPARE(QJsonDocument::fromJson(finished.out).isObject(), report == "jsonl");
            QCOMPARE(finished.out.startsWith("valid\t"), report == "text");
        } else {
            QCOMPARE(finished.exitCode, 2);
            QCOMPARE(finished.err.left(finished.err.indexOf('\n') + 1), report);
            QVERIFY(finished.out.isEmpty());
            QVERIFY(server.requests().isEmpty());
        }
    }

    void exitStatus_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("missing file") << QStringList{"@dir/none.txt"} << QByteArray("none.txt");
        QTest::newRow("a device, read without end") << QStringList{"/dev/zero"} << QByteArray("is a device");
        QTest::newRow("one good file, one missing")
            << QStringList{"@dir/list.txt", "@dir/none.txt"} << QByteArray("none.txt");
        // The option rules are tst_cli_inputs'; one of them refused here.
        QTest::newRow("unknown option") << QStringList{"--fast", "@dir/list.txt"} << QByteArray("fast");
        QTest::newRow("valid and invalid in one file")
            << QStringList{"--invalid", "@dir/./valid", "@dir/list.txt"} << QByteArray("same file");
        QTest::newRow("a journal named as a result file")
            << QStringList{"--resume", "@dir/invalid", "@dir/list.txt"} << QByteArray("result file");
        QTest::newRow("a journal that is no journal")
            << QStringList{"--resume", "@dir/other.txt", "@dir/list.txt"} << QByteArray("journal");
        // Nothing the command writes may be a list it reads, the report, or
        // another output: compared as files, not names (which names are one
        // file is tst_cli_inputs'). ">" names the file the report goes to.
        QTest::newRow("a result file that is the list")
            << QStringList{"--valid", "@dir/list.txt", "@dir/list.txt"} << QByteArray("overwrite");
        QTest::newRow("a journal that is the list")
            << QStringList{"--resume", "@dir/list.txt", "@dir/list.txt"} << QByteArray("overwrite");
        QTest::newRow("a result file that is the report")
            << QStringList{"--invalid", "@dir/report", ">@dir/report", "@dir/list.txt"}
            << QByteArray("report's own output");
        QTest::newRow("--output naming the list")
            << QStringList{"--output", "@dir/list.txt", "@dir/list.txt"} << QByteArray("--output names the list");
        QTest::newRow("--output naming a document")
            << QStringList{"--output", "@dir/a.md", "@dir/a.md"} << QByteArray("--output names the document");
        QTest::newRow("--summary naming the list")
            << QStringList{"--summary", "@dir/list.txt", "@dir/list.txt"} << QByteArray("--summary names the list");
        QTest::newRow("--output naming a result file") << QStringList{"--output", "@dir/./valid", "@dir/list.txt"}
                                                       << QByteArray("--output and --valid name the same file");
        QTest::newRow("--summary naming the report")
            << QStringList{"--summary", "@dir/kept", "--output", "@dir/kept", "@dir/list.txt"}
            << QByteArray("--output and --summary name the same file");
        QTest::newRow("--merge reading the report")
            << QStringList{"--merge", "@dir/kept", "--output", "@dir/kept", "@dir/list.txt"}
            << QByteArray("--merge names the report's own output");
        QTest::newRow("--output in no folder")
            << QStringList{"--output", "@dir/none/report", "@dir/list.txt"} << QByteArray("No such file");
        QTest::newRow("a device as the journal")
            << QStringList{"--resume", "/dev/null", "@dir/list.txt"} << QByteArray("not a regular file");
        // Refused before the lists are read or a result file touched.
        QTest::newRow("authorities that cannot be read") << QStringList{"--cacert", "@dir/none.pem", "@dir/list.txt"}
                                                         << QByteArray("none.pem, which cannot be read");
        QTest::newRow("a folder as the cookie jar")
            << QStringList{"--cookie-jar", "@dir", "@dir/list.txt"} << QByteArray(": is a folder");
        QTest::newRow("a cookie jar where none can be written")
            << QStringList{"--cookie-jar", "@dir/none/jar.txt", "@dir/list.txt"} << QByteArray("cannot be written in");
        QTest::newRow("a summary where none can be written")
            << QStringList{"--summary", "@dir/none/summary.md", "@dir/list.txt"} << QByteArray("cannot be written in");
        QTest::newRow("a folder as the summary")
            << QStringList{"--summary", "@dir", "@dir/list.txt"} << QByteArray(": is a folder");
    }
    void exitStatus()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, message);
        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        const QByteArray list = linesOf({server.url("/ok")});
        dir.file("list.txt", list);
        const QString validPath = dir.file("valid", "earlier");
        dir.file("other.txt", list);
        dir.file("a.md", "[x](y.md)\n");
        dir.file("kept", "kept");
        arguments.replaceInStrings(QStringLiteral("@dir"), dir.path());
        QString report;
        for (const QString& argument : QStringList(arguments)) {
            if (argument.startsWith(u'>')) {
                report = argument.mid(1);
                arguments.removeOne(argument);
            }
        }
        const Finished finished =
            runInProcess(QStringList{"--valid", validPath, "--invalid", dir.filePath("invalid")} + arguments, {}, report);
        QCOMPARE(finished.exitCode, 2);
        QVERIFY2(finished.err.contains(message), finished.err.constData());
        // The command's own words only.
        QVERIFY2(!finished.err.contains("QIODevice") && !finished.err.contains("QFile"), finished.err.constData());
        QCOMPARE(touchedByARefusal(finished, dir, list, server), QString());
    }
};

QTEST_MAIN(CliCommandsTest)
#include "tst_cli_commands.moc"
