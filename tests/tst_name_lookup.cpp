// Name lookups against a nameserver of the test's own. One that never
// answers: the window stays live, the time-out ends the request at once, and
// the transfer serves the next address. One that answers: the batch asks it
// for every new connection.
#include "LoopbackServer.h"
#include "PrivateResolver.h"
#include "StallMeter.h"
#include "engine/transfer/CurlBatch.h"
#include "engine/transfer/CurlTransfer.h"
#include "engine/Failure.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QDeadlineTimer>
#include <QNetworkDatagram>
#include <QUdpSocket>

using namespace std::chrono_literals;

namespace {
constexpr auto Timeout = 1500ms;
// Generous for a loaded machine; a wait for the lookup's thread lasts as long
// as the nameserver's time-out, 30 seconds here.
constexpr qint64 StallLimitMilliseconds = 1000;
}  // namespace

class NameLookupTest : public QObject {
    Q_OBJECT
private slots:
    void lookupThatNeverEndsLeavesTheWindowLive_data()
    {
        QTest::addColumn<QString>("address");
        // Neither name is in /etc/hosts.
        QTest::newRow("http") << QStringLiteral("http://never-answered.test/");
        QTest::newRow("https") << QStringLiteral("https://never-answered.test:8443/page");
    }
    void lookupThatNeverEndsLeavesTheWindowLive()
    {
        REQUIRE_PRIVATE_RESOLVER();
        QFETCH(QString, address);
        QVERIFY(CurlRequest::resolvesNamesInBackground());
        QUdpSocket silentNameserver;
        QVERIFY2(silentNameserver.bind(PrivateResolver::nameserver(), 53), qPrintable(silentNameserver.errorString()));
        LoopbackServer server;
        server.route("/after", LoopbackServer::answer("HTTP/1.1 200 OK"));
        CurlTransfer transfer({Timeout, false, {}});

        StallMeter meter;
        QElapsedTimer clock;
        meter.start();
        clock.start();
        transfer.request(address);
        const qint64 elapsed = clock.elapsed();
        const qint64 stall = meter.stop();
        qInfo("request returned after %lld ms, longest stall %lld ms", elapsed, stall);
        QVERIFY_THROWS_EXCEPTION(Failure, transfer.responseHeaders());
        QVERIFY2(elapsed < Timeout.count() + 2000, qPrintable(QString::number(elapsed)));
        QVERIFY2(stall < StallLimitMilliseconds, qPrintable(QString::number(stall)));
        QVERIFY(silentNameserver.hasPendingDatagrams() || silentNameserver.waitForReadyRead(1000));

        // The lookup's thread may still wait; the transfer goes on without it.
        meter.start();
        transfer.request(server.url("/after"));
        QVERIFY(transfer.responseHeaders().startsWith(u"HTTP/1.1 200 OK\r\n"));
        QVERIFY2(meter.stop() < StallLimitMilliseconds, qPrintable(QString::number(meter.longestMilliseconds())));
    }

    // The batch keeps no name cache (curl would walk all of it after every
    // transfer): a new connection to a host looks its name up again.
    void batchLooksTheNameUpForEachNewConnection()
    {
        REQUIRE_PRIVATE_RESOLVER();
        QUdpSocket nameserver;
        QVERIFY2(nameserver.bind(PrivateResolver::nameserver(), 53), qPrintable(nameserver.errorString()));
        LoopbackServer server;
        server.route("/a", LoopbackServer::answer("HTTP/1.1 200 OK"));
        const QString address = server.url("/a").replace(QStringLiteral("127.0.0.1"), QStringLiteral("answered.test"));
        CurlBatch batch;
        CurlRequest request({Timeout, false, {}});
        int lookups = 0;
        for (int connection = 0; connection < 2; ++connection) {
            request.prepare(address);
            request.useNewConnection();
            batch.add(request);
            QDeadlineTimer deadline(Timeout * 2);
            while (batch.running() > 0 && !deadline.hasExpired()) {
                batch.wait(10ms);
                while (nameserver.hasPendingDatagrams())
                    lookups += answerWithLoopback(nameserver);
            }
            QVERIFY2(request.haveResponse(), qPrintable(request.failureReason()));
        }
        QCOMPARE(lookups, 2);
        QCOMPARE(server.connectionsAccepted(), 2);
    }

private:
    // Answers a query for an IPv4 address with 127.0.0.1, any other with
    // no address; gives whether it was for an IPv4 address.
    static bool answerWithLoopback(QUdpSocket& nameserver)
    {
        const QNetworkDatagram query = nameserver.receiveDatagram();
        QByteArray answer = query.data();
        // The header, then the question: the name's labels, type, class.
        qsizetype end = 12;
        while (end < answer.size() && answer[end] != 0)
            end += 1 + static_cast<unsigned char>(answer[end]);
        end += 5;
        if (end > answer.size())
            return false;
        answer.truncate(end);
        const bool ipv4 = answer[end - 4] == 0 && answer[end - 3] == 1;
        answer[2] = char(0x81);  // a response, recursion asked
        answer[3] = char(0x80);  // recursion available, no error
        answer[6] = 0;
        answer[7] = ipv4 ? 1 : 0;
        answer[8] = answer[9] = answer[10] = answer[11] = 0;
        if (ipv4)  // the question's name, A, IN, a minute, 4 bytes
            answer.append(QByteArray::fromHex("c00c000100010000003c00047f000001"));
        nameserver.writeDatagram(answer, query.senderAddress(), static_cast<quint16>(query.senderPort()));
        return ipv4;
    }
};

QTEST_MAIN_WITH_PRIVATE_RESOLVER(NameLookupTest)
#include "tst_name_lookup.moc"
