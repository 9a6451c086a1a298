// The command line's queue, in process, against the loopback server: how
// many requests it runs at once, within the files it may open and per host,
// the pause between two requests to one host, the list order it hands the
// outcomes on in, what an earlier run recorded, the connections it keeps,
// the addresses it asks again and the hosts that ask it to slow down.
#include "LoopbackServer.h"
#include "cli/CheckQueue.h"

#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <map>
#include <thread>

#include <unistd.h>

using namespace std::chrono_literals;

namespace {
// An address of the server on a host of its own, as a list holds it.
QByteArray on(const LoopbackServer& server, const QString& host, const QString& path)
{
    return server.urlOn(host, path).toUtf8();
}

// One run of a queue over a list, and what it handed on.
struct QueueRun {
    // A time-out far beyond any answer here (the machine may be loaded), and
    // no address asked again unless a test says so.
    CheckQueue::Settings settings = [] {
        CheckQueue::Settings settings;
        settings.jobs = 4;
        settings.request = {std::chrono::seconds(20), false, {}};
        settings.retries = 0;
        return settings;
    }();
    std::map<qint64, Outcome> recorded;  // what an earlier run recorded, by position
    std::function<void(qint64 position)> onJudged;

    QList<qint64> inOrder;  // positions as handed on in list order
    QByteArrayList inOrderAddresses;
    QStringList statusLines;  // of the outcomes handed on
    QList<qint64> judged;     // positions as the answers came
    QList<bool> fresh;
    QList<Outcome> outcomes;  // handed on, in list order
    int slowedDown = 0;
    // Each address comes only once the one before it is judged, as from a
    // pipe fed slowly: the queue sees nothing ahead.
    bool slowly = false;
    std::chrono::milliseconds gapAfterJudged{0};  // before the next address comes
    std::function<bool()> stopWhen;  // asked between rounds
    bool finishes = true;  // what finish() is to give: false once stopped
    std::atomic<int> judgedCount = 0;

    void run(const QByteArrayList& addresses)
    {
        CheckQueue::Callbacks callbacks;
        callbacks.inOrder = [&](qint64 position, QByteArrayView address, const Outcome& outcome) {
            inOrder << position;
            inOrderAddresses << address.toByteArray();
            statusLines << (outcome.statusLine.isEmpty() ? outcome.reason : outcome.statusLine);
            outcomes << outcome;
        };
        callbacks.slowedDown = [&](const QString&) { ++slowedDown; };
        callbacks.judged = [&](qint64 position, QByteArrayView, const Outcome&, bool isFresh) {
            judged << position;
            ++judgedCount;
            fresh << isFresh;
            if (onJudged)
                onJudged(position);
        };
        callbacks.recorded = [&](qint64 position, QByteArrayView address) -> std::optional<Outcome> {
            const auto found = recorded.find(position);
            if (found == recorded.end() || address != addresses.at(position))
                return std::nullopt;
            return found->second;
        };
        callbacks.stopping = [&] { return stopWhen && stopWhen(); };
        CheckQueue queue(settings, callbacks, -1);
        for (const QByteArray& address : addresses) {
            const int judgedBefore = judgedCount;
            QVERIFY(queue.add(address));
            if (slowly)
                awaitJudged(queue, judgedBefore + 1);
        }
        QCOMPARE(queue.finish(), finishes);
    }

    // Lets the queue work, as while it waits for its input, until this many
    // addresses are judged: a thread makes the input readable then.
    void awaitJudged(CheckQueue& queue, int count)
    {
        int pipe[2];
        QCOMPARE(::pipe(pipe), 0);
        std::thread writer([&] {
            for (int wait = 0; judgedCount < count && wait < 3000; ++wait)
                std::this_thread::sleep_for(10ms);
            std::this_thread::sleep_for(gapAfterJudged);
            [[maybe_unused]] const auto written = ::write(pipe[1], "x", 1);
        });
        QVERIFY(queue.awaitInput(pipe[0]));
        writer.join();
        ::close(pipe[0]);
        ::close(pipe[1]);
    }
};

QList<qint64> upTo(qsizetype count)
{
    QList<qint64> positions;
    for (qint64 position = 0; position < count; ++position)
        positions << position;
    return positions;
}
}  // namespace

class CheckQueueTest : public QObject {
    Q_OBJECT
private slots:
    // Requests under way, each with its connection, a lookup's socket pair
    // and the resolver's own files, and the idle connections kept: together
    // never more than the free descriptors, less a few kept spare, and every
    // descriptor left over open to idle connections; none at all when not
    // even one request fits.
    void requestsAtOnceFitTheOpenFiles_data()
    {
        QTest::addColumn<long>("freeFiles");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("atOnce");
        QTest::addColumn<long>("idle");
        QTest::addColumn<int>("mostLanes");
        QTest::addColumn<int>("lanes");
        QTest::newRow("plenty") << 20000L << 64 << 64 << 19672L << 1 << 1;
        QTest::newRow("ulimit -n 1024") << 1010L << 1024 << 167 << 167L << 1 << 1;
        QTest::newRow("ulimit -n 64") << 50L << 64 << 7 << 7L << 1 << 1;
        QTest::newRow("fewer than asked for") << 50L << 4 << 4 << 22L << 1 << 1;
        QTest::newRow("just one") << 14L << 16 << 1 << 1L << 1 << 1;
        QTest::newRow("too few for one") << 13L << 16 << 0 << 0L << 1 << 0;
        // Each lane beyond the first: 6 descriptors, and 2 between them all.
        QTest::newRow("four lanes, plenty") << 20000L << 64 << 64 << 19652L << 4 << 4;
        QTest::newRow("four cores, ulimit -n 1024") << 1009L << 1024 << 163 << 166L << 4 << 4;
        QTest::newRow("a lane kept over a job more") << 395L << 64 << 63 << 64L << 2 << 2;
        QTest::newRow("no more lanes than jobs") << 1000L << 2 << 2 << 974L << 4 << 2;
        QTest::newRow("four cores, ulimit -n 64: three lanes") << 50L << 64 << 4 << 8L << 4 << 3;
        QTest::newRow("two cores, two jobs fit on one lane") << 20L << 64 << 2 << 2L << 2 << 1;
        QTest::newRow("two cores, one job fits") << 18L << 64 << 1 << 5L << 2 << 1;
        QTest::newRow("four cores, too few for one") << 13L << 16 << 0 << 0L << 4 << 0;
        QTest::newRow("no lane count: one") << 50L << 64 << 7 << 7L << 0 << 1;
        QTest::newRow("no free files") << -5L << 16 << 0 << 0L << 2 << 0;
    }
    void requestsAtOnceFitTheOpenFiles()
    {
        QFETCH(long, freeFiles);
        QFETCH(int, jobs);
        QFETCH(int, atOnce);
        QFETCH(long, idle);
        QFETCH(int, mostLanes);
        QFETCH(int, lanes);
        const std::optional<CheckQueue::FileBudget> budget = CheckQueue::budgetWithin(freeFiles, jobs, mostLanes);
        QCOMPARE(budget.has_value(), atOnce > 0);
        if (!budget)
            return;
        QCOMPARE(budget->jobs, atOnce);
        QCOMPARE(budget->lanes, lanes);
        QCOMPARE(budget->idleConnections, idle);
        QCOMPARE_LE(CheckQueue::SpareFiles + CurlBatch::filesBeyondOneLane(lanes) + atOnce * CheckQueue::FilesPerRequest + idle,
                    freeFiles);
    }

    // More hosts than connections used to be kept, each asked several times
    // in turn: one connection each all the same.
    void oneConnectionForEachHostAskedAgain()
    {
        LoopbackServer server;
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        constexpr int Hosts = 80;
        QByteArrayList addresses;
        for (int round = 0; round < 3; ++round) {
            for (int host = 0; host < Hosts; ++host)
                addresses << on(server, QStringLiteral("h%1.localhost").arg(host), QStringLiteral("/%1").arg(round));
        }
        QueueRun run;
        run.settings.jobs = 8;
        run.run(addresses);
        QCOMPARE(run.inOrder.size(), addresses.size());
        QCOMPARE(server.connectionsAccepted(), Hosts);
    }

    // A list that comes slowly (a pipe) shows nothing of what is ahead: a
    // host's connection is kept all the same, until the list ends.
    void connectionKeptWhileTheListComesSlowly()
    {
        LoopbackServer server;
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        QueueRun run;
        run.slowly = true;
        run.run({server.url("/0").toUtf8(), server.url("/1").toUtf8(), server.url("/2").toUtf8()});
        QCOMPARE(run.inOrder, upTo(3));
        QCOMPARE(server.connectionsAccepted(), 1);
    }

    // A host that keeps asking to slow down keeps its doubled pause even
    // when its queue ran dry, and its rest ended, before its next address.
    void slowedHostKeepsItsPaceWhileTheListComesSlowly()
    {
        LoopbackServer server;
        server.setFallback(LoopbackServer::raw("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n"));
        server.route("/next", LoopbackServer::answer("HTTP/1.1 200 OK"));
        QueueRun run;
        run.slowly = true;
        run.gapAfterJudged = 1300ms;
        run.run({server.url("/busy1").toUtf8(), server.url("/busy2").toUtf8(), server.url("/next").toUtf8()});
        QCOMPARE(run.slowedDown, 1);
        const QList<qint64> arrivals = server.arrivalTimes();
        QCOMPARE(arrivals.size(), 3);
        // The second 503 doubles the first's second of rest.
        QCOMPARE_GE(arrivals[2] - arrivals[1], 2000 - 2);
    }

    // An address that got no answer is asked again, after a wait, on a new
    // connection, as often as asked for; one that got a status line never is.
    void askedAgainAfterNoAnswer_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<QString>("said");
        QTest::newRow("reset, once more") << QByteArray("/reset") << 1 << 2 << "connection reset";
        QTest::newRow("reset, twice more") << QByteArray("/reset") << 2 << 3 << "connection reset";
        QTest::newRow("reset, no retries") << QByteArray("/reset") << 0 << 1 << "connection reset";
        QTest::newRow("an empty reply") << QByteArray("/empty") << 1 << 2 << "empty reply";
        QTest::newRow("a server error is an answer") << QByteArray("/error") << 3 << 1 << "HTTP/1.1 500 Internal Server Error";
        QTest::newRow("not HTTP is an answer") << QByteArray("/other") << 3 << 1 << "not an HTTP response";
    }
    void askedAgainAfterNoAnswer()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, retries);
        QFETCH(int, attempts);
        QFETCH(QString, said);
        LoopbackServer server;
        server.route("/reset", LoopbackServer::raw({}, LoopbackServer::Reply::After::Reset));
        server.route("/empty", LoopbackServer::raw({}, LoopbackServer::Reply::After::Close));
        server.route("/error", LoopbackServer::answer("HTTP/1.1 500 Internal Server Error"));
        server.route("/other", LoopbackServer::raw("SSH-2.0-OpenSSH_9.2\r\n", LoopbackServer::Reply::After::Close));
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        QueueRun run;
        run.settings.retries = retries;
        run.settings.longestWait = 300ms;
        // The other host goes on while this one waits.
        run.run({on(server, "a.localhost", QString::fromLatin1(path)), on(server, "b.localhost", "/page")});
        QCOMPARE(run.statusLines.value(0), said);
        QCOMPARE(run.outcomes.value(0).attempts, attempts);
        QCOMPARE(run.outcomes.value(1).attempts, 1);
        QCOMPARE(server.requests().size(), attempts + 1);
        QCOMPARE(server.connectionsAccepted(), attempts + 1);
        // Each attempt waits (here the longest wait, 300 ms) after the last.
        QList<qint64> arrivals;
        for (qsizetype request = 0; request < server.requests().size(); ++request) {
            if (server.requestedPaths()[request] == path)
                arrivals << server.arrivalTimes()[request];
        }
        for (qsizetype attempt = 1; attempt < arrivals.size(); ++attempt)
            QCOMPARE_GE(arrivals[attempt] - arrivals[attempt - 1], 300 - 2);
    }

    // A redirect leads on to the answer judged, each hop asked in its own
    // host's turn (never two at once to a host), a hop to an address judged
    // already taking its outcome. Each line: "path" on a.localhost, or
    // "host path"; each expected line "class hops tries".
    void redirectsFollowedInTheirHostsTurn_data()
    {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<int>("redirects");
        QTest::addColumn<QStringList>("judged");
        QTest::addColumn<int>("requests");
        QTest::newRow("301 to a 404") << QStringList{"/to-missing"} << 10 << QStringList{"not-found 1 2"} << 2;
        QTest::newRow("302 to a 200 on another host") << QStringList{"/to-b"} << 10 << QStringList{"ok 1 2"} << 2;
        QTest::newRow("301 to a 200 is moved") << QStringList{"/moved"} << 10 << QStringList{"moved 1 2"} << 2;
        QTest::newRow("a loop") << QStringList{"/loop"} << 10 << QStringList{"redirect 1 2"} << 2;
        QTest::newRow("past the limit") << QStringList{"/loop"} << 1 << QStringList{"redirect 1 2"} << 2;
        QTest::newRow("none followed") << QStringList{"/moved"} << 0 << QStringList{"redirect 0 1"} << 1;
        QTest::newRow("to a line judged already")
            << QStringList{"b.localhost /fast", "/to-fast"} << 10 << QStringList{"ok 0 1", "ok 1 1"} << 2;
        QTest::newRow("a line the hop judged already")
            << QStringList{"/to-b", "b.localhost /page"} << 10 << QStringList{"ok 1 1", "ok 0 1"} << 2;
        QTest::newRow("two lines leading to each other")
            << QStringList{"/to-b-loop", "b.localhost /to-a-loop"} << 10 << QStringList{"redirect 2 1", "redirect 1 2"} << 3;
        QTest::newRow("two hosts leading to one address")
            << QStringList{"/to-b", "c.localhost /to-b-later"} << 10 << QStringList{"ok 1 2", "ok 1 1"} << 3;
        // The list comes slowly: the line is judged before the next comes.
        QTest::newRow("a line the redirects of an earlier one passed through")
            << QStringList{"/to-mid", "b.localhost /mid", "slowly"} << 10 << QStringList{"ok 2 3", "ok 1 1"} << 3;
        QTest::newRow("many hosts leading to one")
            << QStringList{"/to-b", "c.localhost /to-b2", "d.localhost /to-b3", "b.localhost /4"} << 10
            << QStringList{"ok 1 2", "ok 1 2", "ok 1 2", "ok 0 1"} << 7;
    }
    void redirectsFollowedInTheirHostsTurn()
    {
        QFETCH(QStringList, list);
        QFETCH(int, redirects);
        QFETCH(QStringList, judged);
        QFETCH(int, requests);
        LoopbackServer server;
        // Late answers, so that two requests to one host would overlap.
        const auto late = [](const QByteArray& status, const QByteArray& headers = {}) {
            LoopbackServer::Reply reply = LoopbackServer::answer(status, headers);
            reply.delayMilliseconds = 100;
            return reply;
        };
        const auto b = [&](const char* path) { return server.urlOn("b.localhost", QString::fromLatin1(path)).toUtf8(); };
        server.route("/to-missing", late("HTTP/1.1 301 Moved Permanently", "Location: /missing\r\n"));
        server.route("/moved", late("HTTP/1.1 301 Moved Permanently", "Location: /page\r\n"));
        server.route("/to-b", late("HTTP/1.1 302 Found", "Location: " + b("/page") + "\r\n"));
        server.route("/to-b2", late("HTTP/1.1 302 Found", "Location: " + b("/2") + "\r\n"));
        server.route("/to-b3", late("HTTP/1.1 307 Temporary Redirect", "Location: " + b("/3") + "\r\n"));
        server.route("/loop", late("HTTP/1.1 302 Found", "Location: /loop-back\r\n"));
        server.route("/loop-back", late("HTTP/1.1 302 Found", "Location: /loop\r\n"));
        server.route("/missing", late("HTTP/1.1 404 Not Found"));
        server.route("/fast", LoopbackServer::answer("HTTP/1.1 200 OK"));
        LoopbackServer::Reply later = late("HTTP/1.1 302 Found", "Location: " + b("/page") + "\r\n");
        later.delayMilliseconds = 150;  // while the first hop to /page is under way
        server.route("/to-b-later", later);
        server.route("/to-mid", late("HTTP/1.1 302 Found", "Location: " + b("/mid") + "\r\n"));
        server.route("/mid", late("HTTP/1.1 302 Found", "Location: /page\r\n"));
        server.route("/to-b-loop", late("HTTP/1.1 302 Found", "Location: " + b("/to-a-loop") + "\r\n"));
        // Answered later than the line leading to it, which then waits for it.
        LoopbackServer::Reply backToA =
            late("HTTP/1.1 302 Found", "Location: " + server.urlOn("a.localhost", "/to-b-loop").toUtf8() + "\r\n");
        backToA.delayMilliseconds = 400;
        server.route("/to-a-loop", backToA);
        server.route("/to-fast", late("HTTP/1.1 302 Found", "Location: " + b("/fast") + "\r\n"));
        server.setFallback(late("HTTP/1.1 200 OK"));
        QueueRun run;
        QByteArrayList addresses;
        for (const QString& line : list) {
            run.slowly |= line == u"slowly";
            if (line == u"slowly")
                continue;
            const QStringList parts = line.split(u' ');
            addresses << on(server, parts.size() > 1 ? parts[0] : QStringLiteral("a.localhost"), parts.last());
        }
        run.settings.redirects = redirects;
        run.run(addresses);
        QStringList got;
        for (const Outcome& outcome : run.outcomes)
            got << QStringLiteral("%1 %2 %3").arg(AnswerClasses::nameOf(outcome.answerClass)).arg(outcome.hops).arg(outcome.attempts);
        QCOMPARE(got, judged);
        QCOMPARE(server.requests().size(), requests);
        for (const int atOnce : server.mostAtOnceByHost())
            QCOMPARE(atOnce, 1);
        // The verdict is the last answer's; redirects that led nowhere have none.
        const Outcome& first = run.outcomes.value(0);
        QCOMPARE(first.valid, first.answerClass == AnswerClass::Ok || first.answerClass == AnswerClass::Moved
                                  || (redirects == 0 && first.answerClass == AnswerClass::Redirect));
        if (first.hops > 0 && first.answerClass != AnswerClass::Redirect)
            QVERIFY2(first.finalAddress.contains(u"/page") || first.finalAddress.endsWith(u"/missing"),
                     qPrintable(first.finalAddress));
    }

    // A Location is reported as sent: UTF-8 where it is UTF-8, each byte a
    // character where it is not.
    void locationAsSent_data()
    {
        QTest::addColumn<QByteArray>("location");
        QTest::addColumn<QString>("reported");
        QTest::newRow("UTF-8") << QByteArray("/caf\xc3\xa9") << QStringLiteral("/café");
        QTest::newRow("Latin-1") << QByteArray("/caf\xe9") << QStringLiteral("/café");
        QTest::newRow("broken UTF-8") << QByteArray("/caf\xc3") << QString::fromLatin1("/caf\xc3");
    }
    void locationAsSent()
    {
        QFETCH(QByteArray, location);
        QFETCH(QString, reported);
        LoopbackServer server;
        server.setFallback(LoopbackServer::answer("HTTP/1.1 302 Found", "Location: " + location + "\r\n"));
        QueueRun run;
        run.settings.redirects = 0;
        run.run({server.url("/").toUtf8()});
        QCOMPARE(run.outcomes.value(0).location, reported);
    }

    // One host under several spellings is one host: never two requests to it
    // at once, and one address under several spellings is asked once.
    void oneHostUnderEverySpelling_data()
    {
        QTest::addColumn<QStringList>("hosts");
        QTest::addColumn<int>("requests");
        QTest::newRow("IPv4 written four ways") << QStringList{"127.0.0.1", "127.1", "0x7f.0.0.1", "2130706433"} << 4;
        QTest::newRow("capitals, fullwidth")
            << QStringList{"localhost", "LOCALHOST", "LocalHost", QStringLiteral("ｌｏｃａｌｈｏｓｔ")} << 4;
        QTest::newRow("a name and its ASCII form") << QStringList{QStringLiteral("bücher.localhost"), "xn--bcher-kva.localhost"} << 2;
        QTest::newRow("IPv4-mapped IPv6 two ways") << QStringList{"[::ffff:127.0.0.1]", "[::FFFF:7f00:1]"} << 2;
        QTest::newRow("one address, two spellings") << QStringList{"127.0.0.1", "127.1", "=127.0.0.1", "=127.1"} << 2;
    }
    void oneHostUnderEverySpelling()
    {
        QFETCH(QStringList, hosts);
        QFETCH(int, requests);
        LoopbackServer server;
        LoopbackServer::Reply late = LoopbackServer::answer("HTTP/1.1 200 OK");
        late.delayMilliseconds = 150;
        server.setFallback(late);
        QByteArrayList addresses;
        for (qsizetype i = 0; i < hosts.size(); ++i) {
            // "=host": the first path again, under this spelling.
            const bool again = hosts[i].startsWith(u'=');
            addresses << QStringLiteral("http://%1:%2/%3").arg(hosts[i].mid(again ? 1 : 0)).arg(server.port()).arg(again ? 0 : i).toUtf8();
        }
        QueueRun run;
        run.run(addresses);
        QCOMPARE(run.outcomes.size(), hosts.size());
        for (qsizetype i = 0; i < run.outcomes.size(); ++i)
            QVERIFY2(!run.outcomes[i].statusLine.isEmpty(), qPrintable(run.inOrderAddresses[i] + ": " + run.outcomes[i].reason));
        QCOMPARE(server.requests().size(), requests);
        QCOMPARE(server.mostAtOnce(), 1);
    }

    // A kept connection that closes under a request gets no second request
    // from curl: only the tries the queue counts go out.
    void everyRequestIsCounted_data()
    {
        QTest::addColumn<int>("retries");
        QTest::newRow("no retries") << 0;
        QTest::newRow("one retry") << 1;
    }
    void everyRequestIsCounted()
    {
        QFETCH(int, retries);
        LoopbackServer server;
        server.route("/closes", LoopbackServer::raw({}, LoopbackServer::Reply::After::Close));
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        QueueRun run;
        run.settings.jobs = 1;
        run.settings.retries = retries;
        run.settings.longestWait = 100ms;
        run.run({server.url("/first").toUtf8(), server.url("/closes").toUtf8()});
        QCOMPARE(run.outcomes.value(1).attempts, retries + 1);
        QCOMPARE(server.requestedPaths().count("/closes"), retries + 1);
        QVERIFY(!run.outcomes.value(1).valid);
    }

    // A host that answers 429 or 503 gets its next request no sooner than its
    // Retry-After, or a rest of its own, within the longest wait; the other
    // hosts go on meanwhile.
    void hostThatAsksToSlowDownRests_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("longestWait");
        QTest::addColumn<int>("fewestMilliseconds");  // between the two requests to the host
        QTest::addColumn<int>("mostMilliseconds");
        QTest::addColumn<int>("slowedDown");
        QTest::newRow("429 with Retry-After") << QByteArray("HTTP/1.1 429 Too Many Requests\r\nRetry-After: 2\r\n")
                                              << 60000 << 2000 << 10000 << 1;
        QTest::newRow("503 without") << QByteArray("HTTP/1.1 503 Service Unavailable\r\n") << 60000 << 1000 << 10000 << 1;
        QTest::newRow("Retry-After past the longest wait")
            << QByteArray("HTTP/1.1 429 Too Many Requests\r\nRetry-After: 3600\r\n") << 300 << 300 << 3000 << 1;
        QTest::newRow("Retry-After on a 200") << QByteArray("HTTP/1.1 200 OK\r\nRetry-After: 3600\r\n") << 60000 << 0 << 500 << 0;
    }
    void hostThatAsksToSlowDownRests()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, longestWait);
        QFETCH(int, fewestMilliseconds);
        QFETCH(int, mostMilliseconds);
        QFETCH(int, slowedDown);
        LoopbackServer server;
        server.route("/busy", LoopbackServer::raw(head + "Content-Length: 0\r\n\r\n"));
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        QueueRun run;
        run.settings.longestWait = std::chrono::milliseconds(longestWait);
        run.run({on(server, "a.localhost", "/busy"), on(server, "a.localhost", "/next"), on(server, "b.localhost", "/other")});
        QCOMPARE(run.slowedDown, slowedDown);
        QCOMPARE(run.outcomes.value(0).statusLine, QString::fromLatin1(head.left(head.indexOf('\r'))));
        QCOMPARE(server.requestedPaths().size(), 3);
        const QList<qint64> arrivals = server.arrivalTimes();
        const qint64 busy = arrivals[server.requestedPaths().indexOf("/busy")];
        const qint64 next = arrivals[server.requestedPaths().indexOf("/next")];
        const qint64 other = arrivals[server.requestedPaths().indexOf("/other")];
        QCOMPARE_GE(next - busy, fewestMilliseconds - 2);
        QCOMPARE_LE(next - busy, mostMilliseconds);
        QCOMPARE_LE(other - busy, 500);
    }

    // An address in the list more than once is asked once; each of its lines
    // gets the outcome, in its place.
    void eachDistinctAddressAskedOnce_data()
    {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<int>("requests");
        QTest::newRow("none twice") << QStringList{"/a", "/b", "/c"} << 3;
        QTest::newRow("one three times") << QStringList{"/a", "/b", "/a", "/c", "/a"} << 3;
        QTest::newRow("back to back") << QStringList{"/a", "/a", "/a"} << 1;
        QTest::newRow("an unusable one twice") << QStringList{"/a", "ftp://x/", "ftp://x/"} << 1;
        QTest::newRow("the same but for case") << QStringList{"/a", "/A"} << 2;
    }
    void eachDistinctAddressAskedOnce()
    {
        QFETCH(QStringList, list);
        QFETCH(int, requests);
        LoopbackServer server;
        LoopbackServer::Reply late = LoopbackServer::answer("HTTP/1.1 200 OK");
        late.delayMilliseconds = 100;  // the same address again while the first is under way
        server.setFallback(late);
        QByteArrayList addresses;
        for (const QString& path : list)
            addresses << (path.startsWith(u'/') ? server.url(path).toUtf8() : path.toUtf8());
        QueueRun run;
        run.run(addresses);
        QCOMPARE(server.requests().size(), requests);
        QCOMPARE(run.inOrderAddresses, addresses);
        for (qsizetype position = 0; position < list.size(); ++position)
            QCOMPARE(run.statusLines[position], run.statusLines[list.indexOf(list[position])]);
    }

    // Three addresses on each host, every answer 250 ms late: never two at
    // once to one host, several hosts at once up to the jobs.
    void requestsAtOnce_data()
    {
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("hosts");
        QTest::addColumn<int>("fewest");  // the most under way at once lies between these
        QTest::addColumn<int>("most");
        QTest::addColumn<int>("lanes");
        QTest::newRow("three hosts, eight jobs") << 8 << 3 << 2 << 3 << 1;
        QTest::newRow("three hosts, two jobs") << 2 << 3 << 2 << 2 << 1;
        QTest::newRow("one host, eight jobs") << 8 << 1 << 1 << 1 << 1;
        QTest::newRow("one job") << 1 << 3 << 1 << 1 << 1;
        QTest::newRow("three hosts, eight jobs, two lanes") << 8 << 3 << 2 << 3 << 2;
        QTest::newRow("one host, eight jobs, two lanes") << 8 << 1 << 1 << 1 << 2;
    }
    void requestsAtOnce()
    {
        QFETCH(int, jobs);
        QFETCH(int, hosts);
        QFETCH(int, fewest);
        QFETCH(int, most);
        QFETCH(int, lanes);
        LoopbackServer server;
        LoopbackServer::Reply late = LoopbackServer::answer("HTTP/1.1 200 OK");
        late.delayMilliseconds = 250;
        server.setFallback(late);
        QByteArrayList addresses;
        for (const char* path : {"/1", "/2", "/3"}) {
            for (int host = 0; host < hosts; ++host)
                addresses << on(server, QStringLiteral("%1.localhost").arg(QChar(u'a' + host)), QLatin1String(path));
        }
        QueueRun run;
        run.settings.jobs = jobs;
        run.settings.lanes = lanes;
        run.run(addresses);
        QCOMPARE(run.inOrder.size(), addresses.size());
        QCOMPARE(server.requests().size(), addresses.size());
        const QHash<QByteArray, int> mostByHost = server.mostAtOnceByHost();
        QCOMPARE(mostByHost.size(), hosts);
        for (const int atOnce : mostByHost)
            QCOMPARE(atOnce, 1);
        QCOMPARE_GE(server.mostAtOnce(), fewest);
        QCOMPARE_LE(server.mostAtOnce(), most);
    }

    // Stopped while requests are under way: finish() ends them at once
    // rather than waiting for their answers, and hands on the one answered
    // alone.
    void stoppedWithRequestsUnderWay_data()
    {
        QTest::addColumn<int>("lanes");
        QTest::newRow("one lane") << 1;
        QTest::newRow("two lanes") << 2;
    }
    void stoppedWithRequestsUnderWay()
    {
        QFETCH(int, lanes);
        LoopbackServer server;
        LoopbackServer::Reply late = LoopbackServer::answer("HTTP/1.1 200 OK");
        late.delayMilliseconds = 3000;
        server.setFallback(late);
        server.route("/now", LoopbackServer::answer("HTTP/1.1 200 OK"));
        QByteArrayList addresses;
        for (int host = 0; host < 7; ++host)
            addresses << on(server, QStringLiteral("%1.localhost").arg(QChar(u'a' + host)), "/late");
        addresses << on(server, QStringLiteral("now.localhost"), "/now");
        QueueRun run;
        run.settings.jobs = 8;
        run.settings.lanes = lanes;
        // Timed from the stop, so that a slow start does not count.
        QElapsedTimer clock;
        run.stopWhen = [&] {
            if (run.judgedCount > 0 && !clock.isValid())
                clock.start();
            return run.judgedCount > 0;
        };
        run.finishes = false;
        run.run(addresses);
        QVERIFY(clock.isValid());
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(run.inOrder, QList<qint64>{7});
    }

    // Answers half a second late and a pause of half a second. A pause shows
    // as a gap between the arrivals, on the server's clock, of at least the
    // answer and the pause; no pause, as both requests under way at once.
    void pauseBetweenTwoRequests_data()
    {
        QTest::addColumn<int>("jobs");
        QTest::addColumn<QString>("secondHost");  // the first is a.localhost
        QTest::addColumn<bool>("pausedBetween");
        QTest::newRow("same host") << 4 << "a.localhost" << true;
        QTest::newRow("same host in capitals") << 4 << "A.LOCALHOST" << true;
        QTest::newRow("other hosts") << 4 << "b.localhost" << false;
        QTest::newRow("one at a time: after every request") << 1 << "b.localhost" << true;
    }
    void pauseBetweenTwoRequests()
    {
        QFETCH(int, jobs);
        QFETCH(QString, secondHost);
        QFETCH(bool, pausedBetween);
        LoopbackServer server;
        LoopbackServer::Reply late = LoopbackServer::answer("HTTP/1.1 200 OK");
        late.delayMilliseconds = 500;
        server.setFallback(late);
        QueueRun run;
        run.settings.jobs = jobs;
        run.settings.pause = 500ms;
        run.settings.pauseBetweenAny = jobs == 1;
        run.run({on(server, QStringLiteral("a.localhost"), "/1"), on(server, secondHost, "/2")});
        const QList<qint64> arrivals = server.arrivalTimes();
        QCOMPARE(arrivals.size(), 2);
        if (pausedBetween)
            QCOMPARE_GE(arrivals[1] - arrivals[0], 500 + 500 - 2);  // whole milliseconds on either side
        else
            QCOMPARE(server.mostAtOnce(), 2);
    }

    // Whatever order the answers come in, the outcomes are handed on in list
    // order; the addresses behind a slow one are asked meanwhile, as far as
    // the window reaches.
    void outcomesHandedOnInListOrder_data()
    {
        QTest::addColumn<QStringList>("list");  // host/answer delay in milliseconds
        QTest::addColumn<int>("window");
        QTest::addColumn<int>("askedBeforeTheFirstAnswer");
        QTest::addColumn<int>("lanes");
        const QStringList slowFirst{"slow/1500", "a/0", "b/0", "a/0", "c/0"};
        const QStringList eachLater{"a/1500", "b/1000", "c/500", "d/0"};
        QTest::newRow("one slow host first") << slowFirst << 8192 << 5 << 1;
        QTest::newRow("a window of two holds the rest back") << slowFirst << 2 << 2 << 1;
        QTest::newRow("a slow host again later") << QStringList{"slow/1500", "a/0", "slow/0", "b/0"} << 8192 << 3 << 1;
        QTest::newRow("each answer later than the next") << eachLater << 8192 << 4 << 1;
        QTest::newRow("one slow host first, two lanes") << slowFirst << 8192 << 5 << 2;
        QTest::newRow("each answer later than the next, two lanes") << eachLater << 8192 << 4 << 2;
    }
    void outcomesHandedOnInListOrder()
    {
        QFETCH(QStringList, list);
        QFETCH(int, window);
        QFETCH(int, askedBeforeTheFirstAnswer);
        QFETCH(int, lanes);
        LoopbackServer server;
        QByteArrayList addresses;
        for (const QString& entry : list) {
            const QString path = QStringLiteral("/%1").arg(addresses.size());
            LoopbackServer::Reply reply = LoopbackServer::answer("HTTP/1.1 200 " + path.toUtf8());
            reply.delayMilliseconds = entry.section(u'/', 1).toInt();
            server.route(path.toUtf8(), reply);
            addresses << on(server, entry.section(u'/', 0, 0) + QStringLiteral(".localhost"), path);
        }
        QueueRun run;
        run.settings.lookAhead = window;
        run.settings.lanes = lanes;
        qsizetype asked = -1;
        run.onJudged = [&](qint64 position) {
            if (position == 0)
                asked = server.requests().size();
        };
        run.run(addresses);
        QCOMPARE(asked, askedBeforeTheFirstAnswer);
        QCOMPARE_NE(run.judged, upTo(addresses.size()));  // the answers came out of order
        QCOMPARE(run.inOrder, upTo(addresses.size()));
        QCOMPARE(run.inOrderAddresses, addresses);
        for (qsizetype position = 0; position < addresses.size(); ++position)
            QCOMPARE(run.statusLines[position], QStringLiteral("HTTP/1.1 200 /%1").arg(position));
    }

    // An address an earlier run recorded is handed on as recorded, in its
    // place, and not asked again.
    void recordedOutcomesAreNotAskedAgain_data()
    {
        QTest::addColumn<QList<int>>("recordedAt");  // of four positions
        QTest::newRow("none") << QList<int>{};
        QTest::newRow("the first") << QList<int>{0};
        QTest::newRow("the second and the last") << QList<int>{1, 3};
        QTest::newRow("all: no request") << QList<int>{0, 1, 2, 3};
    }
    void recordedOutcomesAreNotAskedAgain()
    {
        QFETCH(QList<int>, recordedAt);
        LoopbackServer server;
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        QueueRun run;
        Outcome earlier;
        earlier.valid = true;
        earlier.statusCode = 299;
        earlier.statusLine = QStringLiteral("HTTP/1.1 299 Recorded");
        for (const int position : recordedAt)
            run.recorded[position] = earlier;
        QByteArrayList addresses;
        QByteArrayList asked;
        for (int position = 0; position < 4; ++position) {
            const QString path = QStringLiteral("/%1").arg(position);
            addresses << on(server, position % 2 ? QStringLiteral("b.localhost") : QStringLiteral("a.localhost"), path);
            if (!recordedAt.contains(position))
                asked << path.toUtf8();
        }
        run.run(addresses);
        QByteArrayList requested = server.requestedPaths();
        std::sort(requested.begin(), requested.end());
        QCOMPARE(requested, asked);
        QCOMPARE(run.inOrder, upTo(4));
        for (int position = 0; position < 4; ++position) {
            const bool wasRecorded = recordedAt.contains(position);
            QCOMPARE(run.statusLines[position], wasRecorded ? earlier.statusLine : QStringLiteral("HTTP/1.1 200 OK"));
            QCOMPARE(run.fresh.value(run.judged.indexOf(position)), !wasRecorded);
        }
    }
};

QTEST_GUILESS_MAIN(CheckQueueTest)
#include "tst_check_queue.moc"
