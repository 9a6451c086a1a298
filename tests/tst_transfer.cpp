// The curl transfer control against the loopback server: what a request
// leaves to read for every kind of answer. (That it keeps the window live,
// and never judges an address by the answer before, the hostile-server
// suite's runs show.)
#include "LoopbackServer.h"
#include "TransferTesting.h"
#include "engine/address/PrivateAddress.h"
#include "engine/transfer/LaneBatch.h"
#include "engine/transfer/QtLoopTransfer.h"
#include "engine/transfer/ProxyAnswer.h"
#include "engine/verdict/Verdict.h"
#include "engine/Failure.h"

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QScopeGuard>
#include <QTest>

#include <cerrno>

#include <curl/curl.h>

Q_DECLARE_METATYPE(Fault)

using namespace std::chrono_literals;
using namespace TransferTesting;
using Reply = LoopbackServer::Reply;

class TransferTest : public QObject {
    Q_OBJECT
private slots:
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
            << LoopbackServer::raw("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n" + final)
            << final;

        QTest::newRow("lines ending in LF alone")
            << LoopbackServer::raw("HTTP/1.1 200 OK\nX-One: 1\nContent-Length: 0\n\n")
            << QByteArray("HTTP/1.1 200 OK\r\nX-One: 1\r\nContent-Length: 0\r\n\r\n");
        QTest::newRow("LF alone after interim responses")
            << LoopbackServer::raw("HTTP/1.1 100 Continue\n\nHTTP/1.1 404 Not Found\nContent-Length: 0\n\n")
            << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");

        Reply trickled = LoopbackServer::raw("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        trickled.trickleMilliseconds = 3;
        QTest::newRow("trickled within the time-out") << trickled << trickled.head;

        Reply headersThenStall = LoopbackServer::raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc", Reply::After::Hang);
        QTest::newRow("body stalls after the headers")
            << headersThenStall << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n");

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
        QtLoopTransfer transfer(testOptions());

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
        QtLoopTransfer transfer(testOptions());
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
        QTest::newRow("status line, then silence") << LoopbackServer::raw("HTTP/1.1 200 OK\r\n", Reply::After::Hang);
        QTest::newRow("closed without a word") << LoopbackServer::raw({}, Reply::After::Close);
    }
    void networkOutcomesLeaveNoResponse()
    {
        QFETCH(Reply, reply);
        LoopbackServer server;
        server.route("/a", reply);
        QtLoopTransfer transfer(testOptions());
        const QString address = server.url("/a");

        QElapsedTimer clock;
        clock.start();
        transfer.request(address);  // no Failure: the network said no
        QVERIFY2(clock.elapsed() < ShortTimeout.count() + 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!hasResponse(transfer));
        QVERIFY_THROWS_EXCEPTION(Failure, transfer.responseHeaders());
    }

    // Why a request got no response, and what asking again could do: a
    // machine's own fault is never a verdict, a passing one is asked again, a
    // lasting one or an answer that is no HTTP response is judged at once.
    void noResponseExplained_data()
    {
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
        QTest::newRow("none in the whole system")
            << int(CURLE_COULDNT_CONNECT) << ENFILE << QByteArray() << false
            << "no connection could be made here: Too many open files in system" << Fault::ThisMachine;
        QTest::newRow("no free local port")
            << int(CURLE_COULDNT_CONNECT) << EADDRNOTAVAIL << QByteArray() << false
            << "no connection could be made here: Cannot assign requested address" << Fault::ThisMachine;
        QTest::newRow("no memory before the request")
            << int(CURLE_OUT_OF_MEMORY) << 0 << QByteArray() << false << "out of memory" << Fault::ThisMachine;
        QTest::newRow("curl's own start failed")
            << int(CURLE_FAILED_INIT) << 0 << QByteArray() << false << "failed initialization" << Fault::Lasting;
        QTest::newRow("no thread for the lookup")
            << int(CURLE_COULDNT_RESOLVE_HOST) << 0 << QByteArray("getaddrinfo() thread failed to start") << false
            << "no thread for the name lookup" << Fault::ThisMachine;
        QTest::newRow("no descriptor for the resolver")
            << int(CURLE_COULDNT_RESOLVE_HOST) << EMFILE << QByteArray("Could not resolve host: vm") << false
            << "no name lookup could be made here: Too many open files" << Fault::ThisMachine;
        QTest::newRow("no such host") << int(CURLE_COULDNT_RESOLVE_HOST) << 0
                                      << QByteArray("Could not resolve host: a.invalid") << false << "no such host"
                                      << Fault::Lasting;
        QTest::newRow("an endless header line") << int(CURLE_OUT_OF_MEMORY) << 0 << QByteArray("Out of memory") << true
                                                << "header too long" << Fault::BadAnswer;
        QTest::newRow("too many header lines")
            << int(CURLE_RECV_ERROR) << 0 << QByteArray("Too large response headers: 308159 > 307200") << true
            << "header too long" << Fault::BadAnswer;
        QTest::newRow("reset") << int(CURLE_RECV_ERROR) << ECONNRESET
                               << QByteArray("Recv failure: Connection reset by peer") << true << "connection reset"
                               << Fault::Passing;
        QTest::newRow("time-out") << int(CURLE_OPERATION_TIMEDOUT) << 0 << QByteArray() << true << "time-out"
                                  << Fault::Passing;
        QTest::newRow("empty reply") << int(CURLE_GOT_NOTHING) << 0 << QByteArray() << true << "empty reply"
                                     << Fault::Passing;
        QTest::newRow("handshake failed") << int(CURLE_SSL_CONNECT_ERROR) << 0 << QByteArray() << false
                                          << "secure connection failed" << Fault::Passing;
        QTest::newRow("certificate not trusted") << int(CURLE_PEER_FAILED_VERIFICATION) << 0 << QByteArray() << false
                                                 << "certificate not trusted" << Fault::Lasting;
        QTest::newRow("another protocol")
            << int(CURLE_WEIRD_SERVER_REPLY) << 0 << QByteArray() << true << "not an HTTP response" << Fault::BadAnswer;
    }
    void noResponseExplained()
    {
        QFETCH(int, curlResult);
        QFETCH(int, osError);
        QFETCH(QByteArray, message);
        QFETCH(bool, requestSent);
        QFETCH(QString, reason);
        QFETCH(Fault, fault);
        const NoResponse explained = NoResponse::explain(curlResult, osError, message, requestSent);
        QCOMPARE(explained.reason, reason);
        QCOMPARE(explained.fault, fault);
    }

    // With excludePrivate, the addresses a name resolves to are checked on
    // the socket about to connect: a private one gets no connection, and
    // where another address was tried too, that one's failure is the reason.
    // Through a proxy only the proxy's own address may be private.
    void privateAddressesNotConnected_data()
    {
        QTest::addColumn<bool>("excludePrivate");
        QTest::addColumn<bool>("withOutside");  // an address outside the private ranges after 127.0.0.1, refused
        QTest::addColumn<QByteArray>("proxy");  // http_proxy: "server" the loopback server, "refused" one on a
                                                // refused port that no_proxy exempts the address from
        QTest::addColumn<bool>("refusedPrivate");
        QTest::addColumn<int>("connections");  // the loopback server's
        QTest::newRow("loopback only") << true << false << QByteArray() << true << 0;
        QTest::newRow("loopback, then an outside address that refuses") << true << true << QByteArray() << false << 0;
        QTest::newRow("without the option") << false << false << QByteArray() << false << 1;
        QTest::newRow("no_proxy leads straight to loopback") << true << false << QByteArray("refused") << true << 0;
        QTest::newRow("the proxy on loopback") << true << false << QByteArray("server") << false << 1;
    }
    void privateAddressesNotConnected()
    {
        QFETCH(bool, excludePrivate);
        QFETCH(bool, withOutside);
        QFETCH(QByteArray, proxy);
        QFETCH(bool, refusedPrivate);
        QFETCH(int, connections);
        QString outside;
        for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol
                && !PrivateAddress::ofHost(address.toString().toLatin1()).value_or(true))
                outside = address.toString();
        }
        if (withOutside && outside.isEmpty())
            QSKIP("this machine has no address outside the private ranges");
        LoopbackServer server;
        server.route("/", LoopbackServer::answer("HTTP/1.1 200 OK"));
        CurlRequest::Options options = testOptions();
        options.excludePrivate = excludePrivate;
        options.environmentProxy = !proxy.isEmpty();
        const auto unset = qScopeGuard([] {
            qunsetenv("http_proxy");
            qunsetenv("no_proxy");
        });
        if (!proxy.isEmpty()) {
            qputenv("http_proxy",
                    "http://127.0.0.1:"
                        + QByteArray::number(proxy == "server" ? server.port() : LoopbackServer::refusedPort()));
            qputenv("no_proxy", proxy == "refused" ? "resolved.test" : "");
        }
        CurlRequest request(options);
        const QByteArray resolve = QStringLiteral("resolved.test:%1:127.0.0.1%2")
                                       .arg(server.port())
                                       .arg(withOutside ? u',' + outside : QString())
                                       .toLatin1();
        curl_slist* names = curl_slist_append(nullptr, resolve.constData());
        const auto freed = qScopeGuard([&] { curl_slist_free_all(names); });
        QCOMPARE(curl_easy_setopt(request.handle(), CURLOPT_RESOLVE, names), CURLE_OK);
        LaneBatch batch({}, 1);
        const bool answered = answeredOnBatch(batch, request, QStringLiteral("http://resolved.test:%1/").arg(server.port()));
        QCOMPARE(answered, !excludePrivate || proxy == "server");
        QCOMPARE(request.refusedPrivate(), refusedPrivate);
        if (refusedPrivate)
            QCOMPARE(request.failureReason(), "private address 127.0.0.1 not asked (--exclude-private)");
        else if (excludePrivate && proxy.isEmpty())
            QCOMPARE(request.failureReason(), "refused");
        QCOMPARE(server.connectionsAccepted(), connections);
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
        QtLoopTransfer transfer(testOptions());
        transfer.request(server.url("/"));
        QVERIFY_THROWS_EXCEPTION(Failure, transfer.request(address));
        QVERIFY(!hasResponse(transfer));
        QCOMPARE(server.requests().size(), 1);
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
