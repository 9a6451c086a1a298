// Whose turn it is to ask, on a clock handed in: the first in the list of the
// hosts free to go, one request at a time to a host, the pause after each
// answer, the rests a host that asks to slow down takes, and when it wakes.
#include "engine/pacing/HostTurns.h"

#include <QTest>

#include <map>

using namespace std::chrono_literals;
using std::chrono::milliseconds;

class HostTurnsTest : public QObject {
    Q_OBJECT
private slots:
    // Each step "<ms> <what> ...", at that many milliseconds from the start:
    //   wait <address> <position>        the position waits in the address's turn
    //   start <position>|-                the position asked next, or none yet
    //   answer <position> <status> [<Retry-After ms>]
    //   done <position>                  its request ended with nothing to pace
    //   again <position> <ms>            no answer: asked again after a wait
    //   back <position>                  never asked, this machine's fault
    //   wakes <ms>|-                     when the next turn that rests wakes
    void turns_data()
    {
        QTest::addColumn<int>("pause");
        QTest::addColumn<bool>("pauseBetweenAny");
        QTest::addColumn<int>("longestWait");
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("the first in the list goes first")
            << 0 << false << 60000
            << QStringList{"0 wait http://a/ 0", "0 wait http://b/ 1", "0 wait http://a/2 2", "0 wait http://c/ 3",
                           "0 start 0",          "0 start 1",          "0 start 3",           "0 start -",
                           "0 answer 0 200",     "0 start 2"};
        QTest::newRow("one request at a time to a host, however spelled")
            << 0 << false << 60000 << QStringList{"0 wait http://a.example/1 0",
                                                  "0 wait http://A.EXAMPLE./2 1",
                                                  "0 start 0",
                                                  "0 start -",
                                                  "5 answer 0 200",
                                                  "5 start 1"};
        QTest::newRow("the pause after each answer, per host")
            << 500 << false << 60000
            << QStringList{"0 wait http://a/ 0", "0 wait http://a/2 1", "0 wait http://b/ 2", "0 start 0",  "0 start 2",
                           "100 answer 0 200",   "100 wakes 600",       "599 start -",        "600 start 1"};
        QTest::newRow("the pause between any two requests")
            << 500 << true << 60000
            << QStringList{"0 wait http://a/ 0", "0 wait http://b/ 1", "0 start 0",  "0 start -",
                           "100 answer 0 200",   "599 start -",        "600 start 1"};
        QTest::newRow("no pause: the next at once")
            << 0 << false << 60000 << QStringList{"0 wait http://a/ 0", "0 wait http://a/2 1", "0 start 0",
                                                  "10 answer 0 404",    "10 wakes -",          "10 start 1"};
        QTest::newRow("Retry-After rests the host, the others go on")
            << 0 << false << 60000 << QStringList{"0 wait http://a/ 0", "0 wait http://a/2 1", "0 wait http://b/ 2",
                                                  "0 start 0",          "0 answer 0 429 2000", "0 wakes 2000",
                                                  "0 start 2",          "1999 start -",        "2000 start 1"};
        QTest::newRow("a 503 again: twice the rest")
            << 0 << false << 60000
            << QStringList{"0 wait http://a/ 0", "0 wait http://a/2 1", "0 wait http://a/3 2", "0 start 0",
                           "0 answer 0 503",     "999 start -",         "1000 start 1",        "1000 answer 1 503",
                           "2999 start -",       "3000 start 2"};
        QTest::newRow("doubling stops at the longest wait")
            << 0 << false << 1500 << QStringList{"0 wait http://a/ 0", "0 wait http://a/2 1", "0 wait http://a/3 2",
                                                 "0 start 0",          "0 answer 0 503",      "1000 start 1",
                                                 "1000 answer 1 503",  "2499 start -",        "2500 start 2"};
        QTest::newRow("Retry-After past the longest wait")
            << 0 << false << 300 << QStringList{"0 wait http://a/ 0",     "0 wait http://a/2 1", "0 start 0",
                                                "0 answer 0 429 3600000", "299 start -",         "300 start 1"};
        QTest::newRow("Retry-After on a 200 is no rest")
            << 0 << false << 60000
            << QStringList{"0 wait http://a/ 0", "0 wait http://a/2 1", "0 start 0", "0 answer 0 200 3600000", "0 start 1"};
        // Its queue ran dry and its rest ended before its next address came.
        QTest::newRow("a slowed host keeps its pace while its list comes slowly")
            << 0 << false << 60000
            << QStringList{"0 wait http://a/ 0",     "0 start 0",    "0 answer 0 503",    "1000 start -",
                           "1300 wait http://a/2 1", "1300 start 1", "1300 answer 1 503", "2600 wait http://a/3 2",
                           "3299 start -",           "3300 start 2"};
        QTest::newRow("a slowed host forgotten a whole pause after its rest")
            << 0 << false << 60000 << QStringList{"0 wait http://a/ 0",     "0 start 0",    "0 answer 0 503",
                                                  "1000 start -",           "2000 start -", "2000 wait http://a/2 1",
                                                  "2000 wait http://a/3 2", "2000 start 1", "2000 answer 1 503",
                                                  "2999 start -",           "3000 start 2"};
        QTest::newRow("no answer: asked again after its wait, first of its host's")
            << 0 << false << 60000
            << QStringList{"0 wait http://a/ 0", "0 wait http://a/2 1", "0 wait http://b/ 2", "0 start 0",
                           "0 start 2",          "0 again 0 300",       "299 start -",        "300 start 0",
                           "300 done 0",         "300 start 1"};
        QTest::newRow("this machine's fault: given back, asked first at once")
            << 0 << false << 60000
            << QStringList{"0 wait http://a/ 0", "0 wait http://a/2 1", "0 start 0", "0 back 0", "0 start 0"};
        QTest::newRow("a redirect's hop waits in its line's place") << 0 << false << 60000
                                                                    << QStringList{"0 wait http://a/ 0",
                                                                                   "0 wait http://a/5 5",
                                                                                   "0 wait http://b/ 4",
                                                                                   "0 start 0",
                                                                                   "0 wait http://a/hop 3",
                                                                                   "0 wait http://b/hop 1",
                                                                                   "0 start 1",
                                                                                   "0 done 0",
                                                                                   "0 start 3",
                                                                                   "0 done 3",
                                                                                   "0 start 5",
                                                                                   "0 done 1",
                                                                                   "0 start 4"};
    }
    void turns()
    {
        QFETCH(int, pause);
        QFETCH(bool, pauseBetweenAny);
        QFETCH(int, longestWait);
        QFETCH(QStringList, steps);
        HostTurns turns(milliseconds(pause), pauseBetweenAny, milliseconds(longestWait));
        std::map<qint64, QString> turnOf;  // of each position
        const HostTurns::Clock::time_point start{};
        for (const QString& step : steps) {
            const QStringList words = step.split(u' ');
            const HostTurns::Clock::time_point now = start + milliseconds(words[0].toInt());
            const QString& what = words[1];
            const qint64 position = words.size() > 2 ? words[2].toLongLong() : -1;
            if (what == u"wait") {
                const qint64 waiting = words[3].toLongLong();
                turnOf[waiting] = turns.turnOf(words[2].toUtf8());
                turns.wait(turnOf[waiting], waiting, now);
            } else if (what == u"start") {
                const std::optional<HostTurns::Next> next = turns.startNext(now);
                QVERIFY2(next.has_value() == (words[2] != u"-"), qPrintable(step));
                if (next) {
                    QCOMPARE(next->position, position);
                    QCOMPARE(next->turn, turnOf.at(position));
                }
            } else if (what == u"answer") {
                const std::optional<milliseconds> retryAfter = words.size() > 4
                                                                 ? std::optional(milliseconds(words[4].toInt()))
                                                                 : std::nullopt;
                const int statusCode = words[3].toInt();
                QCOMPARE(turns.answered(turnOf.at(position), statusCode, retryAfter, now),
                         statusCode == 429 || statusCode == 503);
            } else if (what == u"done") {
                turns.rest(turnOf.at(position), 0ms, now);
            } else if (what == u"again") {
                turns.askAgain(turnOf.at(position), position, milliseconds(words[3].toInt()), now);
            } else if (what == u"back") {
                turns.giveBack(turnOf.at(position), position);
            } else if (what == u"wakes") {
                const std::optional<HostTurns::Clock::time_point> wake = turns.nextWake();
                QVERIFY2(wake.has_value() == (words[2] != u"-"), qPrintable(step));
                if (wake)
                    QCOMPARE((*wake - start).count(), std::chrono::nanoseconds(milliseconds(position)).count());
            } else {
                QFAIL(qPrintable("no such step: " + step));
            }
        }
    }
};

QTEST_GUILESS_MAIN(HostTurnsTest)
#include "tst_host_turns.moc"
