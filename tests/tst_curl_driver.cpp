// The one driver of curl's multi interface, in process against the loopback
// server: what it hands back, what it refuses, and the connections it keeps.
#include "LoopbackServer.h"
#include "engine/transfer/CurlDriver.h"
#include "engine/transfer/CurlRequest.h"

#include <QDeadlineTimer>
#include <QTest>

using namespace std::chrono_literals;

namespace {
CurlRequest::Options options() { return {10s, false, {}}; }

// Drives until the request comes back, or a deadline passes.
bool finished(CurlDriver& driver, CurlRequest& request)
{
    QDeadlineTimer deadline(10s);
    while (!deadline.hasExpired()) {
        for (CurlRequest* done : driver.drive(100ms, {}))
            if (done == &request)
                return true;
    }
    return false;
}
}  // namespace

class CurlDriverTest : public QObject {
    Q_OBJECT
private slots:
    // A request added is due at once and comes back answered; one added
    // again while under way is refused and the first still comes back.
    void addedRequestsComeBackOnce()
    {
        LoopbackServer server;
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        CurlDriver driver;
        CurlRequest request(options());
        request.prepare(server.url("/a"));
        QVERIFY(!driver.add(request));
        QVERIFY(driver.timerDue() && *driver.timerDue() <= CurlDriver::Clock::now());
        QVERIFY(driver.add(request).has_value());
        QCOMPARE(driver.transfers(), 1);
        QVERIFY(finished(driver, request));
        QVERIFY(request.haveResponse());
        QCOMPARE(driver.transfers(), 0);
        // Taken out once it came back, or never added: nothing to do.
        driver.remove(request);
        CurlRequest never(options());
        driver.remove(never);
        QCOMPARE(driver.transfers(), 0);
    }

    // Idle connections are kept between requests, and all go at once when
    // asked with nothing under way; not while a request is.
    void idleConnectionsGoOnlyWhenIdle_data()
    {
        QTest::addColumn<bool>("closeWhileUnderWay");
        QTest::addColumn<bool>("closeAfter");
        QTest::addColumn<int>("connections");
        QTest::newRow("kept") << false << false << 1;
        QTest::newRow("closed when idle") << false << true << 2;
        QTest::newRow("not while under way") << true << false << 1;
    }
    void idleConnectionsGoOnlyWhenIdle()
    {
        QFETCH(bool, closeWhileUnderWay);
        QFETCH(bool, closeAfter);
        QFETCH(int, connections);
        LoopbackServer server;
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        CurlDriver driver;
        CurlRequest request(options());
        for (const char* path : {"/1", "/2"}) {
            request.prepare(server.url(QString::fromLatin1(path)));
            QVERIFY(!driver.add(request));
            if (closeWhileUnderWay)
                driver.closeIdle();
            QVERIFY(finished(driver, request));
            if (closeAfter)
                driver.closeIdle();
        }
        QCOMPARE(server.connectionsAccepted(), connections);
    }
};

QTEST_GUILESS_MAIN(CurlDriverTest)
#include "tst_curl_driver.moc"
