// The failure report's text and the rules for going on after a failing step.
#include "window/app/ErrorReport.h"
#include "TestPlatform.h"

#include <QTest>

namespace {
const QString Location = QStringLiteral("in Orrinth2021/08/31.Form1.PushButton4_Click ");

[[noreturn]] void fail(const char* description = "Index out of bounds")
{
    throw Failure(QString::fromUtf8(description));
}
}  // namespace

class ErrorReportTest : public QObject {
    Q_OBJECT

private slots:
    void composesTheMessageByteForByte_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("expected");
        const QString request = QStringLiteral("Please email screenshot of this message to support@velmora.example");
        QTest::newRow("ordinary") << QStringLiteral("Index out of bounds") << 104
                                  << QStringLiteral("Index out of bounds\r\nin Orrinth2021/08/31.Form1.PushButton4_Click at line 104\r\r")
                                         + request;
        QTest::newRow("empty description starts with CR LF")
            << QString() << 100
            << QStringLiteral("\r\nin Orrinth2021/08/31.Form1.PushButton4_Click at line 100\r\r") + request;
        QTest::newRow("non-ASCII description kept")
            << QStringLiteral("Fehler: Datei „a“ fehlt") << 142
            << QStringLiteral("Fehler: Datei „a“ fehlt\r\nin Orrinth2021/08/31.Form1.PushButton4_Click at line 142\r\r")
                   + request;
    }
    void composesTheMessageByteForByte()
    {
        QFETCH(QString, description);
        QFETCH(int, step);
        QFETCH(QString, expected);
        QCOMPARE(ErrorReport::compose(Location, step, description).toUtf8(), expected.toUtf8());
    }

    void ordinaryStepFailureGoesOnWithTheNextStep()
    {
        TestPlatform desktop;
        StepTrap trap(desktop.dialogs, Location);
        QStringList ran;
        desktop.dialogs.expectMessage();
        const bool first = trap.step(100, [&] {
            ran << "100 begun";
            fail();
            ran << "100 finished";
        });
        const bool second = trap.step(102, [&] { ran << "102"; });
        QVERIFY(!first);
        QVERIFY(second);
        QCOMPARE(ran, (QStringList{"100 begun", "102"}));
        QCOMPARE(desktop.dialogs.shown.size(), 1);
        QVERIFY(desktop.dialogs.shown.front().text.contains(QStringLiteral("at line 100\r\r")));
    }

    void failingTestRunsTheBlockItOpens()
    {
        TestPlatform desktop;
        StepTrap trap(desktop.dialogs, Location);
        desktop.dialogs.expectMessage();
        QVERIFY(trap.opens(104, [&]() -> bool { fail(); }));
        QVERIFY(!trap.opens(106, [] { return false; }));
        QVERIFY(trap.opens(108, [] { return true; }));
        QCOMPARE(desktop.dialogs.shown.size(), 1);
        QVERIFY(desktop.dialogs.shown.front().text.contains(QStringLiteral("at line 104")));
    }

    void failingLoopHeaderRunsTheBodyOnceAndEndsTheLoop()
    {
        TestPlatform desktop;
        StepTrap trap(desktop.dialogs, Location);
        QList<int> positions;
        desktop.dialogs.expectMessage();
        trap.forEach(
            110, [&]() -> int { fail(); }, 120, [&](int position) { positions << position; });
        QCOMPARE(positions, QList<int>{1});
        QCOMPARE(desktop.dialogs.shown.size(), 1);
        QVERIFY(desktop.dialogs.shown.front().text.contains(QStringLiteral("at line 110")));
    }

    void failingBodyStepGoesOnWithinTheBodyAndTheLoopAdvances()
    {
        TestPlatform desktop;
        StepTrap trap(desktop.dialogs, Location);
        QStringList ran;
        desktop.dialogs.expectMessages(3);
        trap.forEach(
            110, [] { return 3; }, 120,
            [&](int position) {
            trap.step(112, [&] { fail(); });
            trap.step(114, [&] { ran << QString::number(position); });
            });
        QCOMPARE(ran, (QStringList{"1", "2", "3"}));
        QCOMPARE(desktop.dialogs.shown.size(), 3);  // one box per item
    }

    void failingAdvanceEndsTheLoop()
    {
        TestPlatform desktop;
        StepTrap trap(desktop.dialogs, Location);
        int bodies = 0;
        int advances = 0;
        bool afterLoop = false;
        desktop.dialogs.expectMessage();
        trap.loop(
            110, [] { return true; }, 120,
            [&]() -> bool {
                if (++advances == 2)
                    fail("Overflow");
                return true;
            },
            [&] { ++bodies; });
        afterLoop = trap.step(122, [] {});
        QCOMPARE(bodies, 2);
        QVERIFY(afterLoop);
        QVERIFY(desktop.dialogs.shown.front().text.startsWith(QStringLiteral("Overflow\r\n")));
        QVERIFY(desktop.dialogs.shown.front().text.contains(QStringLiteral("at line 120")));
    }

    void forEachTakesTheCountOnce()
    {
        TestPlatform desktop;
        StepTrap trap(desktop.dialogs, Location);
        int items = 2;
        int counted = 0;
        QList<int> positions;
        trap.forEach(
            110,
            [&] {
            ++counted;
            return items;
            },
            120,
            [&](int position) {
            positions << position;
            ++items;  // items appended during the loop are not visited
        });
        QCOMPARE(counted, 1);
        QCOMPARE(positions, (QList<int>{1, 2}));

        positions.clear();
        trap.forEach(
            110, [] { return 0; }, 120, [&](int position) { positions << position; });
        QVERIFY(positions.isEmpty());

        trap.forEach(
            110, [] { return 5; }, 120,
            [&](int position) {
            positions << position;
            return position < 2;
            });
        QCOMPARE(positions, (QList<int>{1, 2}));
    }

    void foreignExceptionsAreReportedToo()
    {
        TestPlatform desktop;
        StepTrap trap(desktop.dialogs, Location);
        desktop.dialogs.expectMessage();
        trap.step(130, [] { throw std::runtime_error("Out of memory"); });
        QVERIFY(desktop.dialogs.shown.front().text.startsWith(QStringLiteral("Out of memory\r\n")));
    }

    void untrappedHandlersSwallowFailures()
    {
        // Reaching the next line at all is the point: nothing escapes into the
        // event loop, and the failure is noted.
        QTest::ignoreMessage(QtWarningMsg, "Handler: Index out of bounds");
        untrapped("Handler", [] { fail(); });
    }
};

QTEST_GUILESS_MAIN(ErrorReportTest)
#include "tst_errorreport.moc"
