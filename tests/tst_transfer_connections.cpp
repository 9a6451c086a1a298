// The connections the transfer keeps, and the trust store they are made
// with: which stay open for the addresses ahead, when idle ones close, and
// which authorities each request trusts.
#include "LoopbackServer.h"
#include "StallMeter.h"
#include "TransferTesting.h"
#include "engine/transfer/LaneBatch.h"
#include "engine/transfer/TrustStore.h"
#include "engine/transfer/QtLoopTransfer.h"
#include "engine/transfer/OriginsAhead.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <optional>

using namespace std::chrono_literals;
using namespace TransferTesting;
using Reply = LoopbackServer::Reply;

class TransferConnectionsTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_certificateFolder;
    std::optional<LoopbackServer::Tls> m_tls;  // for the TLS variant of the server

private slots:
    void initTestCase() { m_tls = LoopbackServer::selfSignedCertificate(m_certificateFolder.path()); }
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
        QTest::newRow("one after the other")
            << QStringList{a, a, b} << QStringList{a, a, b} << QList<bool>{false, true, true} << QList<int>{2, 1, 0};
        QTest::newRow("paths, queries, case and user apart") << QStringList{"HTTP://A/x?y", "http://me@a#z", "http://a"}
                                                             << QStringList{"http://a/", "http://a/", "http://a/"}
                                                             << QList<bool>{false, false, true} << QList<int>{1, 1, 0};
        QTest::newRow("ports and schemes are origins of their own")
            << QStringList{"http://a/", "http://a:81/", "https://a/"} << QStringList{"http://a/", "https://a/"}
            << QList<bool>{true, true} << QList<int>{2, 1};
        QTest::newRow("an origin never announced")
            << QStringList{a} << QStringList{"http://c/", a} << QList<bool>{false, true} << QList<int>{1, 0};
        QTest::newRow("asked more often than announced")
            << QStringList{a} << QStringList{a, a} << QList<bool>{true, false} << QList<int>{0, 0};
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

    // While more may come, the origins asked lately keep their connections
    // too, up to the bound; once the input has ended only those ahead do.
    void connectionsWorthKeeping_data()
    {
        QTest::addColumn<QStringList>("ahead");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<bool>("moreMayCome");
        QTest::addColumn<long>("worth");
        const QStringList three{"http://a/", "http://b/", "http://c/"};
        QTest::newRow("input ended, nothing ahead") << three << three << false << 1L;
        QTest::newRow("more may come, two asked") << three.mid(0, 2) << three.mid(0, 2) << true << 2L;
        QTest::newRow("more may come, three asked, the bound two") << three << three << true << 2L;
        QTest::newRow("input ended, one ahead") << three << three.mid(0, 2) << false << 1L;
        QTest::newRow("more may come, one asked, three ahead")
            << three + QStringList{"http://d/"} << three.mid(0, 1) << true << 3L;
    }
    void connectionsWorthKeeping()
    {
        QFETCH(QStringList, ahead);
        QFETCH(QStringList, asked);
        QFETCH(bool, moreMayCome);
        QFETCH(long, worth);
        OriginsAhead origins;
        for (const QString& address : ahead)
            origins.add(address.toUtf8());
        for (const QString& address : asked)
            origins.removeAndTellIfLast(address.toUtf8());
        QCOMPARE(origins.connectionsWorthKeeping(100, moreMayCome, 2), worth);
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
        QtLoopTransfer transfer(testOptions());

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
                list << server.urlOnHost(host, QStringLiteral("/%1").arg(round)).toUtf8();
        }
        QtLoopTransfer transfer(testOptions());
        if (told)
            transfer.expectAddresses(list.size(), [&](qsizetype index) { return QByteArrayView(list[index]); });
        for (const QByteArray& address : list) {
            transfer.request(QString::fromUtf8(address));
            QVERIFY(hasResponse(transfer));
        }
        QCOMPARE(server.connectionsAccepted(), hosts);
        QTRY_COMPARE_WITH_TIMEOUT(establishedConnectionsTo(server.port()), leftOpen, 5000);
    }

    void closedConnectionIsReplacedForTheNextAddress()
    {
        LoopbackServer server;
        Reply closing = LoopbackServer::answer("HTTP/1.1 200 OK", "Connection: close\r\n");
        closing.after = Reply::After::Close;
        server.route("/closing", closing);
        QtLoopTransfer transfer(testOptions());
        for (int i = 0; i < 3; ++i) {
            transfer.request(server.url("/closing"));
            QVERIFY(hasResponse(transfer));
            QTest::qWait(50);
        }
        QCOMPARE(server.connectionsAccepted(), 3);
    }

    // Servers keep their side of an idle connection too: the program closes
    // its own after a while rather than only when the next address comes.
    void idleConnectionsAreClosed()
    {
        LoopbackServer server;
        server.route("/a", LoopbackServer::answer("HTTP/1.1 200 OK"));
        QtLoopTransfer transfer(testOptions());
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

    // A certificate the transfer is told to trust is verified, and its
    // connection kept (one nobody trusts is tst_hostile_servers' row).
    void trustedCertificateKeepsItsConnection()
    {
        const auto& tls = m_tls;
        if (!tls)
            QSKIP("the openssl command is not there to make a certificate");
        LoopbackServer server(*tls);
        server.route("/a", LoopbackServer::answer("HTTP/1.1 200 OK"));

        QtLoopTransfer trusting({ShortTimeout, false, tls->certificateFile});
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
        LaneBatch batch{QString()};
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
        QtLoopTransfer transfer({ShortTimeout, false, authorities});
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
        QtLoopTransfer transfer({30s, true, bundle.fileName()});
        StallMeter meter;
        meter.start();
        transfer.request(QStringLiteral("http://127.0.0.1:%1/a").arg(LoopbackServer::refusedPort()));
        const qint64 stall = meter.stop();
        QVERIFY(hasResponse(transfer));
        QVERIFY2(stall < 250, qPrintable(QString::number(stall)));
    }

    void theCommandLineDriverReadsItsTrustStoreAhead()
    {
        // A file nobody asked for before; that it cannot be read is an outcome too.
        QTemporaryDir folder;
        const QString authorities = folder.filePath(QStringLiteral("authorities.pem"));
        const LaneBatch batch(authorities);
        QTRY_VERIFY(TrustStore::ready(authorities));
    }
};

QTEST_MAIN(TransferConnectionsTest)
#include "tst_transfer_connections.moc"
