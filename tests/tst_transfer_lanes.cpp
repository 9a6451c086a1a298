// The command line's batch and its lanes, a thread each: how many, what one
// held up holds back, and how requests added, removed and handed back cross
// between the caller and the lanes.
#include "LoopbackServer.h"
#include "TransferTesting.h"
#include "engine/transfer/LaneBatch.h"
#include "engine/transfer/CurlRequest.h"
#include "engine/verdict/Verdict.h"
#include "engine/Failure.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <sched.h>

using namespace std::chrono_literals;
using namespace TransferTesting;
using Reply = LoopbackServer::Reply;

class TransferLanesTest : public QObject {
    Q_OBJECT
private slots:
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
        // The batch comes after what its lanes drive, and goes before them.
        // Time enough for the answers' second however loaded the machine.
        const CurlRequest::Options patient{20s, false, {}};
        CurlRequest held(patient);
        std::atomic<bool> holding = false;
        std::atomic<bool> released = false;
        std::vector<std::unique_ptr<CurlRequest>> others;
        LaneBatch batch(QString(), 2);
        // A failed check leaves no lane held up while the batch stops.
        const auto release = qScopeGuard([&] { released = true; });
        held.setOnResponse([&] {
            holding = true;
            QDeadlineTimer longest(5s);
            while (!released && !longest.hasExpired())
                std::this_thread::sleep_for(1ms);
            holding = false;
        });
        held.prepare(server.urlOnHost(0, QStringLiteral("/held")));
        batch.add(held);
        for (int host = 1; host <= 16; ++host) {
            others.push_back(std::make_unique<CurlRequest>(patient));
            others.back()->prepare(server.urlOnHost(host));
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
        QCOMPARE(LaneBatch::lanesFor(jobs), lanes);
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
        LaneBatch batch(QString(), lanes);
        request.prepare(server.url("/late"));
        batch.add(request);
        QVERIFY_THROWS_EXCEPTION(Failure, batch.add(request));
        QCOMPARE(batch.running(), 1);
        runUntilNoneRunning(batch, ShortTimeout * 4);
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
        std::vector<std::unique_ptr<CurlRequest>> requests;
        std::vector<CurlRequest*> all;
        for (int host = 0; host < 8; ++host) {
            requests.push_back(std::make_unique<CurlRequest>(testOptions()));
            all.push_back(requests.back().get());
        }
        LaneBatch batch(QString(), 2);
        for (int host = 0; host < 8; ++host) {
            requests[host]->prepare(server.urlOnHost(host, QString::fromLatin1(host % 2 ? "/late" : "/now")));
            batch.add(*requests[host]);
        }
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 8, 3000);
        std::this_thread::sleep_for(200ms);
        batch.remove(all);
        QCOMPARE(batch.running(), 0);
        QVERIFY(batch.wait(100ms).empty());
        for (int host = 0; host < 8; ++host) {
            QVERIFY(answeredOnBatch(batch, *requests[host], server.urlOnHost(host, QStringLiteral("/again"))));
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
        LaneBatch batch(QString(), 2);
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
        LaneBatch batch(QString(), 2);
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
                runUntilNoneRunning(batch, 5s, 3s);
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
        LaneBatch batch(QString(), 2);
        const auto askEach = [&] {
            for (int host = 0; host < Hosts; ++host) {
                requests[host]->prepare(server.urlOnHost(host));
                batch.add(*requests[host]);
            }
            runUntilNoneRunning(batch, ShortTimeout * 4);
            return std::all_of(requests.begin(), requests.end(),
                               [](const auto& request) { return request->haveResponse(); });
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
};

QTEST_MAIN(TransferLanesTest)
#include "tst_transfer_lanes.moc"
