// The probe and verdict, the connected state, the pause and the pause text,
// on the scripted transfer: that curl hands on a header block as it came is
// tst_transfer's, and network outcomes and unusable addresses are judged
// through it in the hostile-server and check-run suites.
#include "WindowTesting.h"
#include "window/checking/Pause.h"
#include "window/checking/PauseText.h"
#include "window/checking/Valid.h"

#include <QElapsedTimer>
#include <QTest>

#include <cmath>

#include <sys/wait.h>
#include <unistd.h>

class CheckingTest : public QObject {
    Q_OBJECT
private slots:
    void verdictFromTheStatusLine_data()
    {
        QTest::addColumn<QString>("statusLine");
        QTest::addColumn<bool>("valid");
        QTest::newRow("200 OK") << "HTTP/1.1 200 OK" << true;
        QTest::newRow("200 without a phrase") << "HTTP/1.1 200" << true;
        QTest::newRow("200 and a blank") << "HTTP/1.1 200 " << true;
        QTest::newRow("301") << "HTTP/1.1 301 Moved Permanently" << true;
        QTest::newRow("403") << "HTTP/1.1 403 Forbidden" << true;
        QTest::newRow("404 Not Found") << "HTTP/1.1 404 Not Found" << false;
        QTest::newRow("404 NOT FOUND, HTTP/1.0") << "HTTP/1.0 404 NOT FOUND" << false;
        QTest::newRow("404 in other words") << "HTTP/1.1 404 File Not Found" << false;
        QTest::newRow("404 without a phrase") << "HTTP/1.1 404" << false;
        QTest::newRow("410") << "HTTP/1.1 410 Gone" << true;
        QTest::newRow("500") << "HTTP/1.1 500 Internal Server Error" << true;
        QTest::newRow("200 with a 404 phrase") << "HTTP/1.1 200 404 Not Found Was Fixed" << true;
        // No three-digit code: the wording decides.
        QTest::newRow("a phrase only") << "HTTP/1.1 Found it" << true;
        QTest::newRow("four characters") << "HTTP/1.1 Okay" << false;
        QTest::newRow("two digits") << "HTTP/1.1 20" << false;
        QTest::newRow("four digits") << "HTTP/1.1 2000 OK" << true;
        QTest::newRow("the words in any case") << "HTTP/1.1 Sorry, 404 nOT fOUND" << false;
        QTest::newRow("a code glued to its phrase") << "HTTP/1.1 404Not Found" << true;
    }
    void verdictFromTheStatusLine()
    {
        QFETCH(QString, statusLine);
        QFETCH(bool, valid);
        TestPlatform test;
        ScriptedTransferControl transfer;
        transfer.headersFor.insert(QStringLiteral("http://host/"), statusLine + "\r\nContent-Length: 4\r\n\r\n");
        const Valid::Probe probe{test.dialogs, test.internet, transfer};
        QCOMPARE(Valid::IsURLValid(probe, QStringLiteral("http://host/"), 0), valid);
        QVERIFY(test.dialogs.shown.isEmpty());
    }

    void headersWithoutAStatusLineGiveTwoReports_data()
    {
        QTest::addColumn<QString>("headers");
        QTest::newRow("an empty header text") << QString();
        QTest::newRow("no carriage return") << QStringLiteral("HTTP/1.1 200 OK\n\n");
        QTest::newRow("a short block") << QStringLiteral("HTTP/1\r\n");
    }
    void headersWithoutAStatusLineGiveTwoReports()
    {
        QFETCH(QString, headers);
        TestPlatform test;
        ScriptedTransferControl transfer;
        transfer.headersFor.insert(QStringLiteral("http://host/"), headers);
        const Valid::Probe probe{test.dialogs, test.internet, transfer};
        test.dialogs.expectMessages(2);

        QVERIFY(!Valid::IsURLValid(probe, QStringLiteral("http://host/"), 0));
        QCOMPARE(test.dialogs.shown.size(), 2);
        QVERIFY(isReport(test.dialogs.shown[0], "Valid.CheckURL", 118));
        QVERIFY(isReport(test.dialogs.shown[1], "Valid.CheckURL", 120));
    }

    void emptyAddressIsNotProbed()
    {
        TestPlatform test;
        ScriptedTransferControl transfer;
        const Valid::Probe probe{test.dialogs, test.internet, transfer};
        QVERIFY(!Valid::IsURLValid(probe, QString(), 1));
        QCOMPARE(test.internet.queries, 0);
        QVERIFY(transfer.requested.isEmpty());
        QVERIFY(test.dialogs.shown.isEmpty());
    }

    void connectedState_data()
    {
        QTest::addColumn<bool>("online");
        QTest::addColumn<bool>("acceptsSwitching");
        QTest::addColumn<int>("queries");
        QTest::addColumn<int>("writes");
        QTest::addColumn<bool>("probed");
        QTest::newRow("already on line") << true << true << 1 << 0 << true;
        QTest::newRow("off line, switched on") << false << true << 2 << 1 << true;
        QTest::newRow("off line, switching refused") << false << false << 2 << 1 << false;
    }
    void connectedState()
    {
        QFETCH(bool, online);
        QFETCH(bool, acceptsSwitching);
        QFETCH(int, queries);
        QFETCH(int, writes);
        QFETCH(bool, probed);
        TestPlatform test;
        test.internet.online = online;
        test.internet.acceptsSwitching = acceptsSwitching;
        ScriptedTransferControl transfer;
        transfer.headersFor.insert(QStringLiteral("http://host/"), QStringLiteral("HTTP/1.1 200 OK\r\n\r\n"));
        const Valid::Probe probe{test.dialogs, test.internet, transfer};

        QCOMPARE(Valid::IsURLValid(probe, QStringLiteral("http://host/"), 0), probed);
        QCOMPARE(test.internet.queries, queries);
        QCOMPARE(test.internet.writes.size(), writes);
        for (const ConnectedStateRecord& record : test.internet.writes) {
            QCOMPARE(record.connectedState, 1u);
            QCOMPARE(record.flags, 0u);
        }
        QCOMPARE(transfer.requested.size(), probed ? 1 : 0);
        QVERIFY(test.dialogs.shown.isEmpty());
    }

    void failingInternetLayerIsReportedAndTheProbeGoesOn()
    {
        TestPlatform test;
        test.internet.failing = true;
        ScriptedTransferControl transfer;
        transfer.headersFor.insert(QStringLiteral("http://host/"), QStringLiteral("HTTP/1.1 200 OK\r\n\r\n"));
        const Valid::Probe probe{test.dialogs, test.internet, transfer};
        test.dialogs.expectMessage();

        QVERIFY(Valid::IsURLValid(probe, QStringLiteral("http://host/"), 0));
        QCOMPARE(test.dialogs.shown.size(), 1);
        QVERIFY(isReport(test.dialogs.shown[0], "Valid.CheckURL", 104));
        QCOMPARE(transfer.requested.size(), 1);
    }

    void pauseOfNothingReturnsAtOnce_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::newRow("zero") << 0.0;
        QTest::newRow("negative") << -3.0;
        QTest::newRow("not a number") << std::nan("");
    }
    void pauseOfNothingReturnsAtOnce()
    {
        QFETCH(double, seconds);
        bool eventsRan = false;
        QTimer::singleShot(0, [&] { eventsRan = true; });
        QElapsedTimer clock;
        clock.start();
        Pause(seconds);
        QVERIFY(clock.elapsed() < 20);
        QVERIFY(!eventsRan);
        QTRY_VERIFY(eventsRan);
    }

    void pauseWaitsWithTheWindowLive()
    {
        int ticks = 0;
        QTimer ticker;
        ticker.callOnTimeout([&] { ++ticks; });
        ticker.start(20);
        QElapsedTimer clock;
        clock.start();
        Pause(0.25);
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed >= 250 && elapsed < 400, qPrintable(QString::number(elapsed)));
        QVERIFY2(ticks >= 8, qPrintable(QString::number(ticks)));
    }

    // A wait as good as endless must still sleep between events, not wake the
    // thread every millisecond. It runs in a child process, which ends from
    // inside the wait as closing the window ends the program.
    void endlessPauseDoesNotPoll()
    {
        const pid_t child = ::fork();
        if (child == 0) {
            ::alarm(20);
            int timerEvents = 0;
            struct Counter : QObject {
                int& count;
                explicit Counter(int& c) : count(c) {}
                bool eventFilter(QObject*, QEvent* event) override
                {
                    count += event->type() == QEvent::Timer;
                    return false;
                }
            } counter(timerEvents);
            QCoreApplication::instance()->installEventFilter(&counter);
            QTimer::singleShot(500, [&] { ::_exit(std::min(timerEvents, 255)); });
            Pause(1e10);
            ::_exit(255);
        }
        QVERIFY(child > 0);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        // Its own end is one timer event; a poll every millisecond is hundreds.
        QVERIFY2(WEXITSTATUS(status) < 20, qPrintable(QStringLiteral("%1 timer events").arg(WEXITSTATUS(status))));
    }

    void pauseText_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isNumber");
        QTest::addColumn<double>("seconds");
        const QLocale c = QLocale::c();
        const QLocale german(QLocale::German, QLocale::Germany);
        QTest::newRow("1") << c << "1" << true << 1.0;
        QTest::newRow(".5") << c << ".5" << true << 0.5;
        QTest::newRow("blanks around") << c << "  3 \t" << true << 3.0;
        QTest::newRow("negative") << c << "-2" << true << -2.0;
        QTest::newRow("empty") << c << "" << false << 0.0;
        QTest::newRow("a word") << c << "one" << false << 0.0;
        QTest::newRow("a number and a word") << c << "1 s" << false << 0.0;
        QTest::newRow("inf") << c << "inf" << false << 0.0;
        QTest::newRow("nan") << c << "nan" << false << 0.0;
        QTest::newRow("too large for a double") << c << "1e999" << false << 0.0;
        QTest::newRow("German decimal comma") << german << "0,5" << true << 0.5;
        QTest::newRow("German, the plain form") << german << ".5" << true << 0.5;
        QTest::newRow("German, plain 2.5") << german << "2.5" << true << 2.5;
    }
    void pauseText()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, text);
        QFETCH(bool, isNumber);
        QFETCH(double, seconds);
        const std::optional<double> value = PauseSecondsOf(text, locale);
        QCOMPARE(value.has_value(), isNumber);
        if (isNumber)
            QCOMPARE(*value, seconds);
    }
};

QTEST_MAIN(CheckingTest)
#include "tst_checking.moc"
