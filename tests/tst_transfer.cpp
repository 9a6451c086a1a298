// The curl transfer control against the loopback server: what a request
// leaves to read for every kind of answer, and what it does not keep.
#include "LoopbackServer.h"
#include "window/checking/Pause.h"
#include "engine/transfer/CurlBatch.h"
#include "engine/transfer/TrustStore.h"
#include "engine/transfer/CurlTransfer.h"
#include "engine/transfer/OriginsAhead.h"
#include "engine/transfer/ProxyAnswer.h"
#include "engine/verdict/Verdict.h"
#include "engine/Failure.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <curl/curl.h>

#include <sched.h>

Q_DECLARE_METATYPE(CurlRequest::Fault)

using namespace std::chrono_literals;
using Reply = LoopbackServer::Reply;

namespace {
constexpr auto ShortTimeout = 1500ms;

CurlTransfer::Options testOptions()
{
    // The loopback server is reached directly, whatever proxy the machine has.
    return {ShortTimeout, false, {}};
}


// Runs the request alone on the batch until curl reports it done.
bool answeredOnBatch(CurlBatch& batch, CurlRequest& request, const QString& address)
{
    request.prepare(address);
    batch.add(request);
    QDeadlineTimer deadline(ShortTimeout * 4);
    while (batch.running() > 0 && !deadline.hasExpired())
        batch.wait(100ms);
    return request.haveResponse();
}

// Connections of this process to the loopback port that are still open.
int establishedConnectionsTo(quint16 port)
{
    QFile table(QStringLiteral("/proc/self/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray remote = ":" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    int established = 0;
    table.readLine();  // the column names
    while (!table.atEnd()) {
        const QList<QByteArray> columns = table.readLine().simplified().split(' ');
        if (columns.size() > 3 && columns[2].endsWith(remote) && columns[3] == "01")
            ++established;
    }
    return established;
}

bool hasResponse(CurlTransfer& transfer)
{
    try {
        transfer.responseHeaders();
        return true;
    } catch (const Failure&) {
        return false;
    }
}
}  // namespace

class TransferTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_certificateFolder;
    std::optional<LoopbackServer::Tls> m_tls;  // for the TLS variant of the server

private slots:
    void initTestCase() { m_tls = LoopbackServer::selfSignedCertificate(m_certificateFolder.path()); }

    void headerBlockIsTheFinalResponseAsReceived_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray ok = "HTTP/1.1 200 OK\r\nX-One: 1\r\nContent-Length: 2\r\n\r\n";
        Reply plain = LoopbackServer::raw(ok);
        plain.body = "hi";
        QTest::newRow("status line first, CR LF") << plain << ok;

        const QByteArray final = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
        QTest::newRow("after interim responses")
            << LoopbackServer::raw("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n" + final) << final;

        QTest::newRow("lines ending in LF alone") << LoopbackServer::raw("HTTP/1.1 200 OK\nX-One: 1\nContent-Length: 0\n\n")
                                                  << QByteArray("HTTP/1.1 200 OK\r\nX-One: 1\r\nContent-Length: 0\r\n\r\n");
        QTest::newRow("LF alone after interim responses")
            << LoopbackServer::raw("HTTP/1.1 100 Continue\n\nHTTP/1.1 404 Not Found\nContent-Length: 0\n\n")
            << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");

        Reply trickled = LoopbackServer::raw("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        trickled.trickleMilliseconds = 3;
        QTest::newRow("trickled within the time-out") << trickled << trickled.head;

        Reply headersThenStall = LoopbackServer::raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc", Reply::After::Hang);
        QTest::newRow("body stalls after the headers") << headersThenStall << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n");

        // The close ends the response, as curl and HTTP/1.0 take it: what came
        // of the header block is the block.
        QTest::newRow("status line, then the connection closes")
            << LoopbackServer::raw("HTTP/1.1 200\r\n", Reply::After::Close) << QByteArray("HTTP/1.1 200\r\n");
        QTest::newRow("a header line, then the connection closes")
            << LoopbackServer::raw("HTTP/1.1 404 Not Found\r\nX-One: 1\r\n", Reply::After::Close)
            << QByteArray("HTTP/1.1 404 Not Found\r\nX-One: 1\r\n");

    }
    void headerBlockIsTheFinalResponseAsReceived()
    {
        QFETCH(Reply, reply);
        QFETCH(QByteArray, expected);
        LoopbackServer server;
        server.route("/a", reply);
        CurlTransfer transfer(testOptions());

        QElapsedTimer clock;
        clock.start();
        transfer.request(server.url("/a"));
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(transfer.responseHeaders().toLatin1(), expected);
    }

    // The window's one request follows redirects inside the transfer: the
    // header block read is the last answer's, or there is none where they
    // led nowhere. /hop/N leads to /hop/N-1, /hop/0 answers 200.
    void redirectsFollowedWithinTheRequest_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("statusLine");  // empty: no response
        QTest::addColumn<int>("requests");
        QTest::newRow("no redirect") << "/hop/0" << QByteArray("HTTP/1.1 200 OK") << 1;
        QTest::newRow("ten hops") << "/hop/10" << QByteArray("HTTP/1.1 200 OK") << 11;
        QTest::newRow("eleven hops") << "/hop/11" << QByteArray() << 11;
        QTest::newRow("to a 404") << "/to-missing" << QByteArray("HTTP/1.1 404 Not Found") << 2;
        QTest::newRow("a loop") << "/loop" << QByteArray() << 2;
        QTest::newRow("to ftp") << "/to-ftp" << QByteArray() << 1;
        QTest::newRow("to an address with a backslash") << "/to-backslash" << QByteArray() << 1;
    }
    void redirectsFollowedWithinTheRequest()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, statusLine);
        QFETCH(int, requests);
        LoopbackServer server;
        server.route("/hop/0", LoopbackServer::answer("HTTP/1.1 200 OK"));
        for (int hop = 1; hop <= 11; ++hop)
            server.route("/hop/" + QByteArray::number(hop),
                         LoopbackServer::answer("HTTP/1.1 302 Found", "Location: " + QByteArray::number(hop - 1) + "\r\n"));
        server.route("/to-missing", LoopbackServer::answer("HTTP/1.1 301 Moved Permanently", "Location: /missing\r\n"));
        server.route("/loop", LoopbackServer::answer("HTTP/1.1 302 Found", "Location: /loop-back\r\n"));
        server.route("/loop-back", LoopbackServer::answer("HTTP/1.1 302 Found", "Location: /loop\r\n"));
        server.route("/to-ftp", LoopbackServer::answer("HTTP/1.1 302 Found", "Location: ftp://127.0.0.1/f\r\n"));
        server.route("/to-backslash", LoopbackServer::answer("HTTP/1.1 302 Found", "Location: /a\\b\r\n"));
        CurlTransfer transfer(testOptions());
        transfer.request(server.url(path));
        QCOMPARE(hasResponse(transfer), !statusLine.isEmpty());
        if (!statusLine.isEmpty())
            QVERIFY(transfer.responseHeaders().toLatin1().startsWith(statusLine + "\r\n"));
        QCOMPARE(server.requests().size(), requests);
    }

    void networkOutcomesLeaveNoResponse_data()
    {
        QTest::addColumn<Reply>("reply");

        // Refusals, time-outs, trickles, resets, garbage and oversized headers
        // are the hostile-server suite's, judged through the window.
        QTest::newRow("status line, then silence")
            << LoopbackServer::raw("HTTP/1.1 200 OK\r\n", Reply::After::Hang);
        QTest::newRow("closed without a word") << LoopbackServer::raw({}, Reply::After::Close);
    }
    void networkOutcomesLeaveNoResponse()
    {
        QFETCH(Reply, reply);
        LoopbackServer server;
        server.route("/a", reply);
        CurlTransfer transfer(testOptions());
        const QString address = server.url("/a");

        QElapsedTimer clock;
        clock.start();
        transfer.request(address);  // no Failure: the network said no
        QVERIFY2(clock.elapsed() < ShortTimeout.count() + 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!hasResponse(transfer));
        QVERIFY_THROWS_EXCEPTION(Failure, transfer.responseHeaders());
    }

    // A connection is kept while its origin has an address to come, and
    // closed after the last one; one never announced may have more to come.
    void connectionKeptWhileItsOriginHasAddressesAhead_data()
    {
        QTest::addColumn<QStringList>("ahead");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QList<bool>>("lastOfOrigin");
        QTest::addColumn<QList<int>>("originsLeft");
        const QString a = QStringLiteral("http://a/1");
        const QString b = QStringLiteral("http://b/1");
        QTest::newRow("taking turns") << QStringList{a, b, a, b} << QStringList{a, b, a, b}
                                      << QList<bool>{false, false, true, true} << QList<int>{2, 2, 1, 0};
        QTest::newRow("one after the other") << QStringList{a, a, b} << QStringList{a, a, b}
                                             << QList<bool>{false, true, true} << QList<int>{2, 1, 0};
        QTest::newRow("paths, queries, case and user apart")
            << QStringList{"HTTP://A/x?y", "http://me@a#z", "http://a"} << QStringList{"http://a/", "http://a/", "http://a/"}
            << QList<bool>{false, false, true} << QList<int>{1, 1, 0};
        QTest::newRow("ports and schemes are origins of their own")
            << QStringList{"http://a/", "http://a:81/", "https://a/"} << QStringList{"http://a/", "https://a/"}
            << QList<bool>{true, true} << QList<int>{2, 1};
        QTest::newRow("an origin never announced") << QStringList{a} << QStringList{"http://c/", a}
                                                   << QList<bool>{false, true} << QList<int>{1, 0};
        QTest::newRow("asked more often than announced") << QStringList{a} << QStringList{a, a}
                                                         << QList<bool>{true, false} << QList<int>{0, 0};
    }
    void connectionKeptWhileItsOriginHasAddressesAhead()
    {
        QFETCH(QStringList, ahead);
        QFETCH(QStringList, asked);
        QFETCH(QList<bool>, lastOfOrigin);
        QFETCH(QList<int>, originsLeft);
        OriginsAhead origins;
        for (const QString& address : ahead)
            origins.add(address.toUtf8());
        for (qsizetype i = 0; i < asked.size(); ++i) {
            QCOMPARE(origins.removeAndTellIfLast(asked[i].toUtf8()), lastOfOrigin[i]);
            QCOMPARE(origins.origins(), originsLeft[i]);
        }
    }

    // Why a request got no response, and what asking again could do: a
    // machine's own fault is never a verdict, a passing one is asked again, a
    // lasting one or an answer that is no HTTP response is judged at once.
    void noResponseExplained_data()
    {
        using Fault = CurlRequest::Fault;
        QTest::addColumn<int>("curlResult");
        QTest::addColumn<int>("osError");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("requestSent");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<Fault>("fault");
        QTest::newRow("refused") << int(CURLE_COULDNT_CONNECT) << ECONNREFUSED << QByteArray() << false << "refused"
                                 << Fault::Passing;
        QTest::newRow("no file descriptor for a socket")
            << int(CURLE_COULDNT_CONNECT) << EMFILE << QByteArray() << false
            << "no connection could be made here: Too many open files" << Fault::ThisMachine;
        QTest::newRow("none in the whole system") << int(CURLE_COULDNT_CONNECT) << ENFILE << QByteArray() << false
                                                  << "no connection could be made here: Too many open files in system"
                                                  << Fault::ThisMachine;
        QTest::newRow("no free local port") << int(CURLE_COULDNT_CONNECT) << EADDRNOTAVAIL << QByteArray() << false
                                            << "no connection could be made here: Cannot assign requested address"
                                            << Fault::ThisMachine;
        QTest::newRow("no memory before the request") << int(CURLE_OUT_OF_MEMORY) << 0 << QByteArray() << false
                                                      << "out of memory" << Fault::ThisMachine;
        QTest::newRow("curl's own start failed") << int(CURLE_FAILED_INIT) << 0 << QByteArray() << false
                                                 << "failed initialization" << Fault::Lasting;
        QTest::newRow("no thread for the lookup") << int(CURLE_COULDNT_RESOLVE_HOST) << 0
                                                  << QByteArray("getaddrinfo() thread failed to start") << false
                                                  << "no thread for the name lookup" << Fault::ThisMachine;
        QTest::newRow("no descriptor for the resolver")
            << int(CURLE_COULDNT_RESOLVE_HOST) << EMFILE << QByteArray("Could not resolve host: vm") << false
            << "no name lookup could be made here: Too many open files" << Fault::ThisMachine;
        QTest::newRow("no such host") << int(CURLE_COULDNT_RESOLVE_HOST) << 0
                                      << QByteArray("Could not resolve host: a.invalid") << false << "no such host"
                                      << Fault::Lasting;
        QTest::newRow("an endless header line") << int(CURLE_OUT_OF_MEMORY) << 0 << QByteArray("Out of memory") << true
                                                << "header too long" << Fault::BadAnswer;
        QTest::newRow("too many header lines") << int(CURLE_RECV_ERROR) << 0
                                               << QByteArray("Too large response headers: 308159 > 307200") << true
                                               << "header too long" << Fault::BadAnswer;
        QTest::newRow("reset") << int(CURLE_RECV_ERROR) << ECONNRESET << QByteArray("Recv failure: Connection reset by peer")
                               << true << "connection reset" << Fault::Passing;
        QTest::newRow("time-out") << int(CURLE_OPERATION_TIMEDOUT) << 0 << QByteArray() << true << "time-out"
                                  << Fault::Passing;
        QTest::newRow("empty reply") << int(CURLE_GOT_NOTHING) << 0 << QByteArray() << true << "empty reply"
                                     << Fault::Passing;
        QTest::newRow("handshake failed") << int(CURLE_SSL_CONNECT_ERROR) << 0 << QByteArray() << false
                                          << "secure connection failed" << Fault::Passing;
        QTest::newRow("certificate not trusted") << int(CURLE_PEER_FAILED_VERIFICATION) << 0 << QByteArray() << false
                                                 << "certificate not trusted" << Fault::Lasting;
        QTest::newRow("another protocol") << int(CURLE_WEIRD_SERVER_REPLY) << 0 << QByteArray() << true
                                          << "not an HTTP response" << Fault::BadAnswer;
    }
    void noResponseExplained()
    {
        QFETCH(int, curlResult);
        QFETCH(int, osError);
        QFETCH(QByteArray, message);
        QFETCH(bool, requestSent);
        QFETCH(QString, reason);
        QFETCH(CurlRequest::Fault, fault);
        const CurlRequest::NoResponse explained = CurlRequest::explain(curlResult, osError, message, requestSent);
        QCOMPARE(explained.reason, reason);
        QCOMPARE(explained.fault, fault);
    }

    // A request the batch's lane could not start is this machine's fault,
    // with curl's words, until it is prepared again.
    void refusedRequestFailedHere()
    {
        CurlRequest request(testOptions());
        request.prepare(QStringLiteral("http://127.0.0.1:1/"));
        request.refuse(QStringLiteral("out of memory"));
        QVERIFY(!request.haveResponse());
        QVERIFY(request.failedHere());
        QCOMPARE(request.failureReason(), QStringLiteral("the transfer could not be started: out of memory"));
        request.prepare(QStringLiteral("http://127.0.0.1:1/"));
        QVERIFY(!request.failedHere());
    }

    void failedRequestIsNeverJudgedByThePreviousResponse()
    {
        LoopbackServer server;
        server.route("/present", LoopbackServer::answer("HTTP/1.1 200 OK"));
        server.route("/reset", LoopbackServer::raw("HTTP/1.1 200 OK\r\n", Reply::After::Reset));
        CurlTransfer transfer(testOptions());

        transfer.request(server.url("/present"));
        QVERIFY(hasResponse(transfer));
        transfer.request(server.url("/reset"));
        QVERIFY(!hasResponse(transfer));
        transfer.request(server.url("/present"));
        QVERIFY(hasResponse(transfer));
        transfer.request(QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::refusedPort()));
        QVERIFY(!hasResponse(transfer));
        transfer.request(server.url("/present"));
        QVERIFY_THROWS_EXCEPTION(Failure, transfer.request(QStringLiteral("ftp://127.0.0.1/")));
        QVERIFY(!hasResponse(transfer));
    }

    void unusableAddressesRaiseFailure_data()
    {
        QTest::addColumn<QString>("address");
        // Other schemes, blanks, line breaks and backslashes are refused through
        // the window in tst_hostile_inputs.
        QTest::newRow("empty") << QString();
        QTest::newRow("no scheme") << QStringLiteral("127.0.0.1/index.html");
        QTest::newRow("no host") << QStringLiteral("http://");
        QTest::newRow("a tab") << QStringLiteral("http://127.0.0.1/\t");
    }
    void unusableAddressesRaiseFailure()
    {
        QFETCH(QString, address);
        LoopbackServer server;
        CurlTransfer transfer(testOptions());
        transfer.request(server.url("/"));
        QVERIFY_THROWS_EXCEPTION(Failure, transfer.request(address));
        QVERIFY(!hasResponse(transfer));
        QCOMPARE(server.requests().size(), 1);
    }

    void smallBodiesKeepOneConnection()
    {
        LoopbackServer server;
        server.route("/a", LoopbackServer::answer("HTTP/1.1 200 OK", {}, QByteArray(10000, 'a')));
        server.route("/b", LoopbackServer::answer("HTTP/1.1 404 Not Found", {}, QByteArray(30000, 'b')));
        // A body that comes a moment after its headers is still on its way when
        // the next address is requested.
        Reply lateBody = LoopbackServer::answer("HTTP/1.1 200 OK", {}, QByteArray(5000, 'c'));
        lateBody.bodyDelayMilliseconds = 50;
        server.route("/late-body", lateBody);
        CurlTransfer transfer(testOptions());

        // No pause between the addresses: each new request lets the last body end.
        for (const char* path : {"/a", "/late-body", "/b", "/late-body", "/missing", "/b"}) {
            transfer.request(server.url(QString::fromLatin1(path)));
            QVERIFY(hasResponse(transfer));
        }
        QCOMPARE(server.requests().size(), 6);
        QCOMPARE(server.connectionsAccepted(), 1);
        QCOMPARE(transfer.connectionsOpened(), 1);
        QVERIFY(server.requests().first().startsWith("GET /a HTTP/1.1\r\n"));
    }

    // Told the run's list, the transfer keeps a connection for each host
    // still to be asked, past the 64 it keeps otherwise, and closes each
    // host's after its last address; not told, it keeps them as before.
    void connectionsKeptForTheHostsAhead_data()
    {
        QTest::addColumn<int>("hosts");
        QTest::addColumn<bool>("told");
        QTest::addColumn<int>("leftOpen");
        QTest::newRow("80 hosts taking turns") << 80 << true << 0;
        QTest::newRow("2 hosts taking turns") << 2 << true << 0;
        QTest::newRow("not told") << 2 << false << 2;
    }
    void connectionsKeptForTheHostsAhead()
    {
        QFETCH(int, hosts);
        QFETCH(bool, told);
        QFETCH(int, leftOpen);
        LoopbackServer server;
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        QList<QByteArray> list;
        for (int round = 0; round < 3; ++round) {
            for (int host = 0; host < hosts; ++host)
                list << server.urlOn(QStringLiteral("h%1.localhost").arg(host), QStringLiteral("/%1").arg(round)).toUtf8();
        }
        CurlTransfer transfer(testOptions());
        if (told)
            transfer.expectAddresses(list.size(), [&](qsizetype index) { return QByteArrayView(list[index]); });
        for (const QByteArray& address : list) {
            transfer.request(QString::fromUtf8(address));
            QVERIFY(hasResponse(transfer));
        }
        QCOMPARE(server.connectionsAccepted(), hosts);
        QTRY_COMPARE_WITH_TIMEOUT(establishedConnectionsTo(server.port()), leftOpen, 5000);
    }

    void windowStaysLiveWhileWaiting()
    {
        LoopbackServer server;
        Reply late = LoopbackServer::answer("HTTP/1.1 200 OK");
        late.delayMilliseconds = 400;
        server.route("/late", late);
        CurlTransfer transfer(testOptions());

        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        int ticks = 0;
        QTimer ticker;
        ticker.callOnTimeout([&] {
            if (ticks++ > 0)
                longestGap = std::max(longestGap, sinceTick.elapsed());
            sinceTick.start();
        });
        ticker.start(10);
        transfer.request(server.url("/late"));
        ticker.stop();
        QVERIFY(hasResponse(transfer));
        QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
        QVERIFY2(longestGap < 150, qPrintable(QString::number(longestGap)));
    }

    void closedConnectionIsReplacedForTheNextAddress()
    {
        LoopbackServer server;
        Reply closing = LoopbackServer::answer("HTTP/1.1 200 OK", "Connection: close\r\n");
        closing.after = Reply::After::Close;
        server.route("/closing", closing);
        CurlTransfer transfer(testOptions());
        for (int i = 0; i < 3; ++i) {
            transfer.request(server.url("/closing"));
            QVERIFY(hasResponse(transfer));
            Pause(0.05);
        }
        QCOMPARE(server.connectionsAccepted(), 3);
    }

    // Servers keep their side of an idle connection too: the program closes
    // its own after a while rather than only when the next address comes.
    void idleConnectionsAreClosed()
    {
        LoopbackServer server;
        server.route("/a", LoopbackServer::answer("HTTP/1.1 200 OK"));
        CurlTransfer transfer(testOptions());
        // Long enough that a loaded machine still finds the connection open
        // right after the answer.
        transfer.setIdleConnectionAge(2s);
        transfer.request(server.url("/a"));
        QVERIFY(hasResponse(transfer));
        // The table is read a page at a time while other tests open and close
        // sockets: a line may slip by once.
        QTRY_COMPARE_WITH_TIMEOUT(establishedConnectionsTo(server.port()), 1, 1000);
        QTRY_COMPARE_WITH_TIMEOUT(establishedConnectionsTo(server.port()), 0, 10000);

        transfer.request(server.url("/a"));
        QVERIFY(hasResponse(transfer));
        QCOMPARE(server.connectionsAccepted(), 2);
    }

    void tlsCertificatesAreVerified()
    {
        const auto& tls = m_tls;
        if (!tls)
            QSKIP("the openssl command is not there to make a certificate");
        LoopbackServer server(*tls);
        server.route("/a", LoopbackServer::answer("HTTP/1.1 200 OK"));

        // Not in the system's store: the handshake fails, which is no response.
        CurlTransfer untrusting(testOptions());
        untrusting.request(server.url("/a"));
        QVERIFY(!hasResponse(untrusting));

        CurlTransfer trusting({ShortTimeout, false, tls->certificateFile});
        for (int i = 0; i < 2; ++i) {
            trusting.request(server.url("/a"));
            QVERIFY(trusting.responseHeaders().startsWith(u"HTTP/1.1 200 OK\r\n"));
        }
        QCOMPARE(trusting.connectionsOpened(), 1);
    }

    // curl may keep the first connection's trust store on the multi handle and
    // put it back for later ones: a request that trusts only the system's
    // store must not be judged by one another request trusted.
    void requestsOnOneBatchKeepTheirOwnAuthorities()
    {
        const auto& tls = m_tls;
        if (!tls)
            QSKIP("the openssl command is not there to make a certificate");
        LoopbackServer server(*tls);
        // Each answer closes its connection: every request makes a new one.
        server.route("/a", LoopbackServer::answer("HTTP/1.1 200 OK", "Connection: close\r\n"));
        CurlBatch batch;
        CurlRequest trusting({ShortTimeout, false, tls->certificateFile});
        CurlRequest untrusting({ShortTimeout, false, {}});

        QVERIFY(answeredOnBatch(batch, trusting, server.url("/a")));
        QVERIFY(!answeredOnBatch(batch, untrusting, server.url("/a")));
        QCOMPARE(untrusting.connectionsOpened(), 1);
        QVERIFY(answeredOnBatch(batch, trusting, server.url("/a")));
    }

    // A CA file that changes is read again for later connections: a bundle
    // replaced (a security update dropping a root) stops trusting the server;
    // one caught half rewritten, or left broken, is no reason to trust
    // nothing, and the store in use stays.
    void changedAuthoritiesAreReadAgain_data()
    {
        QTest::addColumn<bool>("broken");
        QTest::newRow("replaced by another root") << false;
        QTest::newRow("caught broken") << true;
    }
    void changedAuthoritiesAreReadAgain()
    {
        QFETCH(bool, broken);
        QTemporaryDir folder;
        const auto& tls = m_tls;
        const auto other = LoopbackServer::selfSignedCertificate(folder.path());
        if (!tls || !other)
            QSKIP("the openssl command is not there to make a certificate");
        LoopbackServer server(*tls);
        // Each answer closes its connection: every request makes a new one,
        // which looks at the file again.
        server.route("/a", LoopbackServer::answer("HTTP/1.1 200 OK", "Connection: close\r\n"));
        const QString authorities = folder.filePath(QStringLiteral("authorities.pem"));
        QVERIFY(QFile::copy(tls->certificateFile, authorities));
        CurlTransfer transfer({ShortTimeout, false, authorities});
        transfer.request(server.url("/a"));
        QVERIFY(hasResponse(transfer));

        const QString replacement = folder.filePath(QStringLiteral("replacement.pem"));
        if (broken) {
            QFile file(replacement);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("-----BEGIN CERTIFICATE-----\nnot base64 at all\n");
        } else {
            QVERIFY(QFile::copy(other->certificateFile, replacement));
        }
        QVERIFY(std::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(authorities).constData()) == 0);
        if (!broken) {
            // The connection that notices the change still has the old store;
            // one after the new store is read has that.
            QTRY_VERIFY_WITH_TIMEOUT((transfer.request(server.url("/a")), !hasResponse(transfer)), 10000);
            return;
        }
        // The re-read is done well within the second.
        QElapsedTimer clock;
        clock.start();
        while (!clock.hasExpired(1000)) {
            transfer.request(server.url("/a"));
            QVERIFY(hasResponse(transfer));
            QTest::qWait(50);
        }
    }

    // A plain address through a proxy spoken to over TLS needs the trust
    // store as much as an https address does: the window waits for it live.
    void windowStaysLiveWhileTheTrustStoreIsRead()
    {
        const auto& tls = m_tls;
        if (!tls)
            QSKIP("the openssl command is not there to make a certificate");
        LoopbackServer proxy(*tls);
        proxy.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        // A bundle long enough to take a while to read, which trusts the proxy.
#if defined(__SANITIZE_ADDRESS__)
        // Under AddressSanitizer reading this bundle takes longer than the
        // time-out on a loaded machine; the plain build measures it.
        QSKIP("the sanitized build reads a large trust store too slowly for this test");
#endif
        QFile system(QStringLiteral("/etc/ssl/certs/ca-certificates.crt"));
        QFile certificate(tls->certificateFile);
        if (!system.open(QIODevice::ReadOnly) || !certificate.open(QIODevice::ReadOnly))
            QSKIP("no certificate bundle to read");
        QTemporaryDir folder;
        QFile bundle(folder.filePath(QStringLiteral("bundle.pem")));
        QVERIFY(bundle.open(QIODevice::WriteOnly));
        bundle.write(certificate.readAll());
        const QByteArray authorities = system.readAll();
        for (int i = 0; i < 20; ++i)
            bundle.write(authorities);
        bundle.close();

        qputenv("http_proxy", QStringLiteral("https://127.0.0.1:%1").arg(proxy.port()).toLatin1());
        const auto restore = qScopeGuard([] { qunsetenv("http_proxy"); });
        CurlTransfer transfer({30s, true, bundle.fileName()});
        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        QTimer ticker;
        ticker.callOnTimeout([&] {
            longestGap = std::max(longestGap, sinceTick.restart());
        });
        sinceTick.start();
        ticker.start(10);
        QElapsedTimer clock;
        clock.start();
        transfer.request(QStringLiteral("http://127.0.0.1:%1/a").arg(LoopbackServer::refusedPort()));
        ticker.stop();
        QVERIFY2(hasResponse(transfer), qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(longestGap < 250, qPrintable(QString::number(longestGap)));
    }

    // Each lane drives its requests on a thread of its own: one held up in
    // a callback holds back only the requests of its own lane, and the
    // others come back meanwhile.
    void lanesGoOnWhileOneIsHeldUp()
    {
        LoopbackServer server;
        // The others answer once the held one is held up.
        Reply later = LoopbackServer::answer("HTTP/1.1 200 OK");
        later.delayMilliseconds = 1000;
        server.setFallback(later);
        server.route("/held", LoopbackServer::answer("HTTP/1.1 200 OK"));
        const auto onHost = [&](int host, const QString& path = QStringLiteral("/")) {
            return server.urlOn(QStringLiteral("h%1.localhost").arg(host), path);
        };
        // The batch comes after what its lanes drive, and goes before them.
        // Time enough for the answers' second however loaded the machine.
        const CurlRequest::Options patient{20s, false, {}};
        CurlRequest held(patient);
        std::atomic<bool> holding = false;
        std::atomic<bool> released = false;
        std::vector<std::unique_ptr<CurlRequest>> others;
        CurlBatch batch(QString(), 2);
        // A failed check leaves no lane held up while the batch stops.
        const auto release = qScopeGuard([&] { released = true; });
        held.setOnResponse([&] {
            holding = true;
            QDeadlineTimer longest(5s);
            while (!released && !longest.hasExpired())
                std::this_thread::sleep_for(1ms);
            holding = false;
        });
        held.prepare(onHost(0, QStringLiteral("/held")));
        batch.add(held);
        for (int host = 1; host <= 16; ++host) {
            others.push_back(std::make_unique<CurlRequest>(patient));
            others.back()->prepare(onHost(host));
            batch.add(*others.back());
        }
        int backWhileHeld = 0;
        QDeadlineTimer deadline(30s);
        while (batch.running() > 0 && !deadline.hasExpired()) {
            for (CurlRequest* request : batch.wait(100ms)) {
                QVERIFY(request->haveResponse());
                backWhileHeld += request != &held && holding;
            }
            released = backWhileHeld > 0;
        }
        released = true;
        QCOMPARE(batch.running(), 0);
        QVERIFY(backWhileHeld > 0);
    }

    // As many lanes as cores this process may run on, up to the jobs.
    void lanesFollowTheCoresAllowed_data()
    {
        QTest::addColumn<int>("cores");  // allowed to this thread; 0: all it had
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("lanes");
        cpu_set_t had;
        QCOMPARE(::sched_getaffinity(0, sizeof had, &had), 0);
        const int all = std::min(CPU_COUNT(&had), 4);
        QTest::newRow("one core allowed") << 1 << 64 << 1;
        QTest::newRow("every core") << 0 << 64 << all;
        QTest::newRow("one job") << 0 << 1 << 1;
        if (CPU_COUNT(&had) >= 2)
            QTest::newRow("two cores allowed, one job each") << 2 << 2 << 2;
    }
    void lanesFollowTheCoresAllowed()
    {
        QFETCH(int, cores);
        QFETCH(int, jobs);
        QFETCH(int, lanes);
        cpu_set_t had;
        QCOMPARE(::sched_getaffinity(0, sizeof had, &had), 0);
        const auto restore = qScopeGuard([&] { ::sched_setaffinity(0, sizeof had, &had); });
        if (cores > 0) {
            cpu_set_t some;
            CPU_ZERO(&some);
            for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < cores; ++cpu) {
                if (CPU_ISSET(cpu, &had)) {
                    CPU_SET(cpu, &some);
                    ++taken;
                }
            }
            QCOMPARE(::sched_setaffinity(0, sizeof some, &some), 0);
        }
        QCOMPARE(CurlBatch::lanesFor(jobs), lanes);
    }

    // A request added again while under way is refused, on one lane as on
    // more, and the one under way goes on.
    void requestAddedTwiceIsRefused_data()
    {
        QTest::addColumn<int>("lanes");
        QTest::newRow("one lane") << 1;
        QTest::newRow("two lanes") << 2;
    }
    void requestAddedTwiceIsRefused()
    {
        QFETCH(int, lanes);
        LoopbackServer server;
        Reply late = LoopbackServer::answer("HTTP/1.1 200 OK");
        late.delayMilliseconds = 300;
        server.route("/late", late);
        CurlRequest request(testOptions());
        CurlBatch batch(QString(), lanes);
        request.prepare(server.url("/late"));
        batch.add(request);
        QVERIFY_THROWS_EXCEPTION(Failure, batch.add(request));
        QCOMPARE(batch.running(), 1);
        QDeadlineTimer deadline(ShortTimeout * 4);
        while (batch.running() > 0 && !deadline.hasExpired())
            batch.wait(100ms);
        QVERIFY(request.haveResponse());
    }

    // Requests on both lanes, some under way and some finished but not yet
    // handed back, removed together: none is handed back, and each can be
    // asked again at once.
    void requestsRemovedTogetherAreNotHandedBack()
    {
        LoopbackServer server;
        Reply late = LoopbackServer::answer("HTTP/1.1 200 OK");
        late.delayMilliseconds = 3000;
        server.route("/late", late);
        server.route("/now", LoopbackServer::answer("HTTP/1.1 200 OK"));
        server.route("/again", LoopbackServer::answer("HTTP/1.1 404 Not Found"));
        const auto onHost = [&](int host, const char* path) {
            return server.urlOn(QStringLiteral("h%1.localhost").arg(host), QString::fromLatin1(path));
        };
        std::vector<std::unique_ptr<CurlRequest>> requests;
        std::vector<CurlRequest*> all;
        for (int host = 0; host < 8; ++host) {
            requests.push_back(std::make_unique<CurlRequest>(testOptions()));
            all.push_back(requests.back().get());
        }
        CurlBatch batch(QString(), 2);
        for (int host = 0; host < 8; ++host) {
            requests[host]->prepare(onHost(host, host % 2 ? "/late" : "/now"));
            batch.add(*requests[host]);
        }
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 8, 3000);
        std::this_thread::sleep_for(200ms);
        batch.remove(all);
        QCOMPARE(batch.running(), 0);
        QVERIFY(batch.wait(100ms).empty());
        for (int host = 0; host < 8; ++host) {
            QVERIFY(answeredOnBatch(batch, *requests[host], onHost(host, "/again")));
            QCOMPARE(HeaderBlock::statusCode(requests[host]->headers()), 404);
        }
    }

    // A wait() that finds requests already handed back takes the lane's
    // wake-up with them: the next one sleeps as long as it is told, not
    // waking at once for nothing.
    void waitAfterOneThatTookRequestsSleeps()
    {
        LoopbackServer server;
        server.route("/now", LoopbackServer::answer("HTTP/1.1 200 OK"));
        CurlRequest request(testOptions());
        CurlBatch batch(QString(), 2);
        request.prepare(server.url("/now"));
        batch.add(request);
        // However slow the machine, until the lane has handed it back.
        std::vector<CurlRequest*> back;
        for (QDeadlineTimer deadline(5s); back.empty() && !deadline.hasExpired();) {
            back = batch.wait(0ms);
            if (back.empty())
                std::this_thread::sleep_for(10ms);
        }
        QCOMPARE(back.size(), 1u);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(batch.wait(300ms).empty());
        QCOMPARE_GE(clock.elapsed(), 250);
    }

    // An idle lane looks at its commands once a second, and the caller's
    // wait() sleeps as long as it is told: each side rouses the other, so a
    // request added to an idle lane comes back, and the removal of one under
    // way returns, in a small part of that second; a lost wake-up costs the
    // rest of it (or the caller's whole wait). The median of a few, so that
    // a loaded machine's odd slow turn does not count.
    void lanesAreRousedAtOnce_data()
    {
        QTest::addColumn<bool>("removing");
        QTest::newRow("a request added to an idle lane comes back") << false;
        QTest::newRow("a request under way is removed") << true;
    }
    void lanesAreRousedAtOnce()
    {
        QFETCH(bool, removing);
        LoopbackServer server;
        // Late enough that the caller is asleep in wait() when it comes.
        Reply soon = LoopbackServer::answer("HTTP/1.1 200 OK");
        soon.delayMilliseconds = 100;
        server.route("/soon", soon);
        Reply late = LoopbackServer::answer("HTTP/1.1 200 OK");
        late.delayMilliseconds = 3000;
        server.route("/late", late);
        CurlRequest request({20s, false, {}});
        CurlBatch batch(QString(), 2);
        const auto removeOnExit = qScopeGuard([&] { batch.remove(request); });
        std::vector<qint64> took;
        for (int turn = 0; turn < 5; ++turn) {
            request.prepare(server.url(removing ? "/late" : "/soon"));
            const qsizetype asked = server.requests().size();
            if (removing) {
                batch.add(request);
                QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), asked + 1, 3000);
            }
            // The lane is back in its wait by now, past curl's own first
            // timers of a new transfer.
            std::this_thread::sleep_for(removing ? 400ms : 50ms);
            QElapsedTimer clock;
            clock.start();
            if (removing) {
                batch.remove(request);
            } else {
                batch.add(request);
                QDeadlineTimer deadline(5s);
                while (batch.running() > 0 && !deadline.hasExpired())
                    batch.wait(3s);
                QVERIFY(request.haveResponse());
            }
            took.push_back(clock.elapsed());
        }
        QStringList times;
        for (const qint64 each : took)
            times << QString::number(each);
        std::sort(took.begin(), took.end());
        // A removal that is heard takes a few milliseconds, one that is not
        // the rest of the lane's second after the 400 ms above.
        QVERIFY2(took[took.size() / 2] < (removing ? 250 : 500), qPrintable(times.join(u' ')));
    }

    // Closing the kept connections closes those of every lane: the same
    // hosts asked again each open a new one.
    void idleConnectionsCloseOnEveryLane()
    {
        LoopbackServer server;
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        constexpr int Hosts = 8;
        std::vector<std::unique_ptr<CurlRequest>> requests;
        for (int host = 0; host < Hosts; ++host)
            requests.push_back(std::make_unique<CurlRequest>(testOptions()));
        CurlBatch batch(QString(), 2);
        const auto askEach = [&] {
            for (int host = 0; host < Hosts; ++host) {
                requests[host]->prepare(server.urlOn(QStringLiteral("h%1.localhost").arg(host)));
                batch.add(*requests[host]);
            }
            QDeadlineTimer deadline(ShortTimeout * 4);
            while (batch.running() > 0 && !deadline.hasExpired())
                batch.wait(100ms);
            return std::all_of(requests.begin(), requests.end(), [](const auto& request) { return request->haveResponse(); });
        };
        QVERIFY(askEach());
        QVERIFY(askEach());
        QCOMPARE(server.connectionsAccepted(), Hosts);
        QCOMPARE(establishedConnectionsTo(server.port()), Hosts);

        batch.closeIdleConnections();
        QVERIFY(!batch.connectionsKept());
        QTRY_COMPARE_WITH_TIMEOUT(establishedConnectionsTo(server.port()), 0, 2000);
        QVERIFY(askEach());
        QCOMPARE(server.connectionsAccepted(), 2 * Hosts);
    }

    void theCommandLineDriverReadsItsTrustStoreAhead()
    {
        // A file nobody asked for before; that it cannot be read is an outcome too.
        QTemporaryDir folder;
        const QString authorities = folder.filePath(QStringLiteral("authorities.pem"));
        const CurlBatch batch(authorities);
        QTRY_VERIFY(TrustStore::ready(authorities));
    }

    // Whether a header block that came back through a proxy is the proxy's
    // own answer for a server it could not reach, as the proxies send them,
    // or the server's answer passed on.
    void proxysOwnAnswer_data()
    {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<bool>("proxys");
        QTest::newRow("tinyproxy, unable to connect")
            << QByteArray("HTTP/1.1 500 Unable to connect\r\nServer: tinyproxy/1.11.1\r\nContent-Type: text/html\r\n"
                          "Connection: close\r\n\r\n")
            << true;
        QTest::newRow("tinyproxy passing on a server's 500")
            << QByteArray("HTTP/1.1 500 Internal Server Error\r\nServer: nginx/1.22.1\r\nContent-Length: 0\r\n"
                          "Via: 1.1 gateway (tinyproxy/1.11.1)\r\n\r\n")
            << false;
        QTest::newRow("squid, connection refused")
            << QByteArray("HTTP/1.1 503 Service Unavailable\r\nServer: squid/5.7\r\nMime-Version: 1.0\r\n"
                          "Content-Type: text/html;charset=utf-8\r\nX-Squid-Error: ERR_CONNECT_FAIL 111\r\n"
                          "Via: 1.1 gateway (squid/5.7)\r\nConnection: keep-alive\r\n\r\n")
            << true;
        QTest::newRow("squid, the server closed mid-answer")
            << QByteArray("HTTP/1.1 502 Bad Gateway\r\nServer: squid/5.7\r\nX-Squid-Error: ERR_READ_ERROR 0\r\n"
                          "X-Cache: MISS from gateway\r\n\r\n")
            << true;
        QTest::newRow("squid passing on a server's 502")
            << QByteArray("HTTP/1.1 502 Bad Gateway\r\nServer: Apache\r\nX-Cache: MISS from gateway\r\n"
                          "Via: 1.1 gateway (squid/5.7)\r\n\r\n")
            << false;
        QTest::newRow("Proxy-Status with an error")
            << QByteArray("HTTP/1.1 504 Gateway Timeout\r\nProxy-Status: gateway; error=connection_timeout\r\n\r\n")
            << true;
        QTest::newRow("Proxy-Status with an error and details")
            << QByteArray("HTTP/1.1 502 Bad Gateway\r\nProxy-Status: gateway; error=dns_error; rcode=NXDOMAIN\r\n\r\n")
            << true;
        QTest::newRow("Proxy-Status passing on the server's status")
            << QByteArray("HTTP/1.1 502 Bad Gateway\r\nProxy-Status: gateway; received-status=502\r\n\r\n") << false;
        QTest::newRow("header names in capitals")
            << QByteArray("HTTP/1.1 503 Service Unavailable\r\nX-SQUID-ERROR: ERR_DNS_FAIL 0\r\n\r\n") << true;
        QTest::newRow("header names in lower case")
            << QByteArray("HTTP/1.1 502 Bad Gateway\r\nproxy-status: gateway; error=destination_ip_unroutable\r\n\r\n")
            << true;
        QTest::newRow("a server's own 502") << QByteArray("HTTP/1.1 502 Bad Gateway\r\nServer: nginx\r\n\r\n") << false;
        QTest::newRow("an error page that names a proxy in its headers' values")
            << QByteArray("HTTP/1.1 502 Bad Gateway\r\nX-Note: X-Squid-Error: none\r\nX-Server: tinyproxy/1.0\r\n\r\n")
            << false;
    }
    void proxysOwnAnswer()
    {
        QFETCH(QByteArray, headers);
        QFETCH(bool, proxys);
        QCOMPARE(isProxysOwnAnswer(headers), proxys);
    }
};

QTEST_MAIN(TransferTest)
#include "tst_transfer.moc"
