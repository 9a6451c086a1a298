// The command line's queue, in process, against the loopback server: how
// many requests it runs at once, per host, the pause between two requests
// to one host, the list order it hands the outcomes on in, what an earlier
// run recorded, the connections it keeps, the addresses it asks again and
// the hosts that ask it to slow down. Which host goes when is HostTurns',
// and its rows are tst_host_turns'.
#include "QueueRun.h"

#include <QElapsedTimer>

using namespace std::chrono_literals;

class CheckQueueTest : public QObject {
    Q_OBJECT
private slots:
    // More hosts than connections used to be kept, each asked several times
    // in turn, or each host's next address beyond the look-ahead (as a
    // document's links to a host come): one connection each all the same.
    void oneConnectionForEachHostAskedAgain_data()
    {
        QTest::addColumn<int>("hosts");
        QTest::addColumn<int>("lookAhead");  // 0: the default
        QTest::newRow("80 hosts") << 80 << 0;
        QTest::newRow("3 hosts, each again beyond a look-ahead of two") << 3 << 2;
    }
    void oneConnectionForEachHostAskedAgain()
    {
        QFETCH(int, hosts);
        QFETCH(int, lookAhead);
        LoopbackServer server;
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        QByteArrayList addresses;
        for (int round = 0; round < 3; ++round) {
            for (int host = 0; host < hosts; ++host)
                addresses << on(server, QStringLiteral("h%1.localhost").arg(host), QStringLiteral("/%1").arg(round));
        }
        QueueRun run;
        run.settings.jobs = 8;
        if (lookAhead > 0)
            run.settings.lookAhead = lookAhead;
        run.run(addresses);
        QCOMPARE(run.inOrder.size(), addresses.size());
        QCOMPARE(server.connectionsAccepted(), hosts);
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

    // An address that got no answer is asked again, after a wait, on a new
    // connection, as often as asked for; one that got a status line never is.
    // (Which faults are asked again, and how often, is the rule's table in
    // tst_answer_rules.)
    void askedAgainAfterNoAnswer_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<QString>("said");
        QTest::newRow("reset, once more") << QByteArray("/reset") << 1 << 2 << "connection reset";
        QTest::newRow("an empty reply") << QByteArray("/empty") << 1 << 2 << "empty reply";
        QTest::newRow("a server error is an answer")
            << QByteArray("/error") << 3 << 1 << "HTTP/1.1 500 Internal Server Error";
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

    // A host that answers 429 gets its next request no sooner than the
    // Retry-After the queue read from the answer, and says it slowed the run
    // down; the other hosts go on meanwhile. Rests without one, and within
    // the longest wait, are tst_host_turns' rows.
    void hostThatAsksToSlowDownRests()
    {
        const QByteArray head = "HTTP/1.1 429 Too Many Requests\r\nRetry-After: 2\r\n";
        LoopbackServer server;
        server.route("/busy", LoopbackServer::raw(head + "Content-Length: 0\r\n\r\n"));
        server.setFallback(LoopbackServer::answer("HTTP/1.1 200 OK"));
        QueueRun run;
        run.settings.longestWait = 60s;
        run.run({on(server, "a.localhost", "/busy"), on(server, "a.localhost", "/next"), on(server, "b.localhost", "/other")});
        QCOMPARE(run.slowedDown, 1);
        QCOMPARE(run.outcomes.value(0).statusLine, QStringLiteral("HTTP/1.1 429 Too Many Requests"));
        QCOMPARE(server.requestedPaths().size(), 3);
        const QList<qint64> arrivals = server.arrivalTimes();
        const qint64 busy = arrivals[server.requestedPaths().indexOf("/busy")];
        const qint64 next = arrivals[server.requestedPaths().indexOf("/next")];
        const qint64 other = arrivals[server.requestedPaths().indexOf("/other")];
        QCOMPARE_GE(next - busy, 2000 - 2);
        QCOMPARE_LE(next - busy, 10000);
        QCOMPARE_LE(other - busy, 500);
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
    // One job pausing after every request is tst_cli_commands'.
    void pauseBetweenTwoRequests_data()
    {
        QTest::addColumn<QString>("secondHost");  // the first is a.localhost
        QTest::addColumn<bool>("pausedBetween");
        QTest::newRow("same host in capitals") << "A.LOCALHOST" << true;
        QTest::newRow("other hosts") << "b.localhost" << false;
    }
    void pauseBetweenTwoRequests()
    {
        QFETCH(QString, secondHost);
        QFETCH(bool, pausedBetween);
        LoopbackServer server;
        LoopbackServer::Reply late = LoopbackServer::answer("HTTP/1.1 200 OK");
        late.delayMilliseconds = 500;
        server.setFallback(late);
        QueueRun run;
        run.settings.pause = 500ms;
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
    // the look-ahead reaches.
    void outcomesHandedOnInListOrder_data()
    {
        QTest::addColumn<QStringList>("list");  // host/answer delay in milliseconds
        QTest::addColumn<int>("lookAhead");
        QTest::addColumn<int>("askedBeforeTheFirstAnswer");
        QTest::addColumn<int>("lanes");
        const QStringList slowFirst{"slow/1500", "a/0", "b/0", "a/0", "c/0"};
        const QStringList eachLater{"a/1500", "b/1000", "c/500", "d/0"};
        QTest::newRow("one slow host first") << slowFirst << 8192 << 5 << 1;
        QTest::newRow("a look-ahead of two holds the rest back") << slowFirst << 2 << 2 << 1;
        QTest::newRow("a slow host again later") << QStringList{"slow/1500", "a/0", "slow/0", "b/0"} << 8192 << 3 << 1;
        QTest::newRow("each answer later than the next") << eachLater << 8192 << 4 << 1;
        QTest::newRow("one slow host first, two lanes") << slowFirst << 8192 << 5 << 2;
        QTest::newRow("each answer later than the next, two lanes") << eachLater << 8192 << 4 << 2;
    }
    void outcomesHandedOnInListOrder()
    {
        QFETCH(QStringList, list);
        QFETCH(int, lookAhead);
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
        run.settings.lookAhead = lookAhead;
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
