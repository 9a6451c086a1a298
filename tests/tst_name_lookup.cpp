// A name lookup that never ends, against a nameserver that never answers:
// the window stays live, the time-out ends the request at once, and the
// transfer serves the next address.
#include "LoopbackServer.h"
#include "PrivateResolver.h"
#include "StallMeter.h"
#include "engine/transfer/QtLoopTransfer.h"
#include "engine/Failure.h"

#include <QElapsedTimer>
#include <QTest>
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
        QtLoopTransfer transfer({Timeout, false, {}});

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
};

QTEST_MAIN_WITH_PRIVATE_RESOLVER(NameLookupTest)
#include "tst_name_lookup.moc"
