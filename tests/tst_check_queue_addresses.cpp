// Which addresses the command line's queue asks, in process, against the
// loopback server: a redirect's hops each in its host's turn, an address
// asked once under every spelling of it and of its host, and every request
// it sends counted.
#include "QueueRun.h"

#include "engine/verdict/AnswerClass.h"

using namespace std::chrono_literals;

class CheckQueueAddressesTest : public QObject {
    Q_OBJECT
private slots:
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
        QTest::newRow("two lines leading to each other") << QStringList{"/to-b-loop", "b.localhost /to-a-loop"} << 10
                                                         << QStringList{"redirect 2 1", "redirect 1 2"} << 3;
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
        LoopbackServer::Reply backToA = late("HTTP/1.1 302 Found",
                                             "Location: " + server.urlOn("a.localhost", "/to-b-loop").toUtf8() + "\r\n");
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
            got << QStringLiteral("%1 %2 %3")
                       .arg(AnswerClasses::nameOf(outcome.answerClass))
                       .arg(outcome.hops)
                       .arg(outcome.attempts);
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
    // at once, and one address under several spellings is asked once. The
    // spellings of a host are tst_address' rows, curl reaching them through
    // the window tst_hostile_inputs'.
    void oneHostUnderEverySpelling_data()
    {
        QTest::addColumn<QStringList>("hosts");
        QTest::addColumn<int>("requests");
        QTest::newRow("IPv4 written four ways") << QStringList{"127.0.0.1", "127.1", "0x7f.0.0.1", "2130706433"} << 4;
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
            addresses << QStringLiteral("http://%1:%2/%3")
                             .arg(hosts[i].mid(again ? 1 : 0))
                             .arg(server.port())
                             .arg(again ? 0 : i)
                             .toUtf8();
        }
        QueueRun run;
        run.run(addresses);
        QCOMPARE(run.outcomes.size(), hosts.size());
        for (qsizetype i = 0; i < run.outcomes.size(); ++i)
            QVERIFY2(!run.outcomes[i].statusLine.isEmpty(),
                     qPrintable(run.inOrderAddresses[i] + ": " + run.outcomes[i].reason));
        QCOMPARE(server.requests().size(), requests);
        QCOMPARE(server.mostAtOnce(), 1);
    }

    // An address in the list more than once is asked once; each of its lines
    // gets the outcome, in its place.
    void eachDistinctAddressAskedOnce_data()
    {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<int>("requests");
        QTest::newRow("one three times") << QStringList{"/a", "/b", "/a", "/c", "/a"} << 3;
        QTest::newRow("back to back") << QStringList{"/a", "/a", "/a"} << 1;
        QTest::newRow("an unusable one twice") << QStringList{"/a", "ftp://x/", "ftp://x/"} << 1;
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
};

QTEST_GUILESS_MAIN(CheckQueueAddressesTest)
#include "tst_check_queue_addresses.moc"
