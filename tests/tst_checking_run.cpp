// The check run through the main window: its messages, the order of filing,
// the count taken once, the pause read per address, the running flag and the
// busy pointer, on the scripted transfer. (Runs through the real transfer are
// the hostile-server suite's: ordinary servers stand around each hostile one.)
#include "WindowTesting.h"

#include <QElapsedTimer>
#include <QPushButton>

namespace {
const QString Done = QStringLiteral("Done.");
const QString NoUrls = QStringLiteral("No URL(s) added.");
const QString PauseNotNumber = QStringLiteral("Pause must be a number. For example: 1 or .5 or 0");
const QString Ok = QStringLiteral("HTTP/1.1 200 OK\r\n\r\n");
const QString Missing = QStringLiteral("HTTP/1.1 404 Not Found\r\n\r\n");
enum class DuringRun { ClickStart, AddAnAddress, RemoveTheLastTwo };

// No pause, so that the runs take no longer than their probes.
const QString NoPause = QStringLiteral("0");
}  // namespace

class CheckRunTest : public QObject {
    Q_OBJECT
private slots:
    void refusedRuns_data()
    {
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QString>("pause");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty list") << QStringList() << "1" << NoUrls;
        QTest::newRow("empty list, no number") << QStringList() << "soon" << NoUrls;
        QTest::newRow("empty pause") << QStringList{"http://a/"} << "" << PauseNotNumber;
    }
    void refusedRuns()
    {
        QFETCH(QStringList, urls);
        QFETCH(QString, pause);
        QFETCH(QString, message);
        TestWindow window(pause);
        fill(*window.form.ListView1, urls);
        window.test.dialogs.expectMessage();
        // While the box is up the run still holds its flag: a second click does nothing.
        window.test.dialogs.whileShown = [&](const ShownBox&) {
            QCOMPARE(window.form.MousePointer(), Form1::PointerStandard);
            window.form.PushButton4_Click();
        };

        window.form.PushButton4_Click();
        QCOMPARE(window.test.dialogs.texts(), QStringList{message});
        const ShownBox& box = window.test.dialogs.shown[0];
        QCOMPARE(box.title, QStringLiteral("Tessaly"));
        QCOMPARE(box.icon, Dialogs::Icon::None);
        QVERIFY(window.transfer().requested.isEmpty());
        QCOMPARE(window.form.ListView2->count() + window.form.ListView3->count(), 0);

        // The flag is cleared at the end: the next run starts.
        window.test.dialogs.whileShown = nullptr;
        window.test.dialogs.expectMessage();
        window.form.PushButton4_Click();
        QCOMPARE(window.test.dialogs.shown.size(), 2);
    }

    void judgesEveryAddressInOrder()
    {
        TestWindow window(NoPause);
        const QStringList urls{"http://a/", "http://b/", "", "http://bad/", "http://c/", "http://a/", "http://gone/"};
        fill(*window.form.ListView1, urls);
        window.transfer().headersFor = {{"http://a/", Ok}, {"http://b/", Missing}, {"http://c/", Ok}};
        window.transfer().unusable = {"http://bad/"};
        window.transfer().duringRequest = [&](const QString&) {
            QCOMPARE(window.form.MousePointer(), Form1::PointerBusy);
        };
        window.test.dialogs.expectMessages(2);  // the probe's own report, then "Done."
        window.test.dialogs.whileShown = [&](const ShownBox& box) {
            if (box.text == Done)
                QCOMPARE(window.form.MousePointer(), Form1::PointerStandard);
        };

        window.form.PushButton4_Click();
        QCOMPARE(window.transfer().requested,
                 (QStringList{"http://a/", "http://b/", "http://bad/", "http://c/", "http://a/", "http://gone/"}));
        QCOMPARE(itemsOf(*window.form.ListView2), (QStringList{"http://a/", "http://c/", "http://a/"}));
        QCOMPARE(itemsOf(*window.form.ListView3), (QStringList{"http://b/", "", "http://bad/", "http://gone/"}));
        QCOMPARE(itemsOf(*window.form.ListView1), urls);
        // Told the whole list first, the transfer keeps connections for the
        // hosts asked again.
        QCOMPARE(window.transfer().expected, urls);
        QCOMPARE(window.test.dialogs.shown.size(), 2);
        QVERIFY(isReport(window.test.dialogs.shown[0], "Valid.CheckURL", 112));
        QCOMPARE(window.test.dialogs.shown[1].text, Done);
        QCOMPARE(window.form.MousePointer(), Form1::PointerStandard);
    }

    void secondRunAppendsAgain()
    {
        TestWindow window(NoPause);
        fill(*window.form.ListView1, {"http://a/", "http://b/"});
        window.transfer().headersFor = {{"http://a/", Ok}};
        window.test.dialogs.expectMessages(2);
        window.form.PushButton4_Click();
        window.form.PushButton4_Click();
        QCOMPARE(itemsOf(*window.form.ListView2), (QStringList{"http://a/", "http://a/"}));
        QCOMPARE(itemsOf(*window.form.ListView3), (QStringList{"http://b/", "http://b/"}));
        QCOMPARE(window.test.dialogs.texts(), (QStringList{Done, Done}));
    }

    void changeDuringARun_data()
    {
        QTest::addColumn<DuringRun>("during");
        QTest::addColumn<QStringList>("requested");
        const QStringList all{"http://a/", "http://b/", "http://c/", "http://d/"};
        QTest::newRow("a second click does nothing") << DuringRun::ClickStart << all;
        QTest::newRow("an address added waits for the next run") << DuringRun::AddAnAddress << all;
        QTest::newRow("a list that shrinks is not judged past its end")
            << DuringRun::RemoveTheLastTwo << QStringList{"http://a/", "http://b/"};
    }
    // Each change made while the second address is probed.
    void changeDuringARun()
    {
        QFETCH(DuringRun, during);
        QFETCH(QStringList, requested);
        TestWindow window(NoPause);
        fill(*window.form.ListView1, {"http://a/", "http://b/", "http://c/", "http://d/"});
        window.transfer().duringRequest = [&](const QString& address) {
            if (address != QStringLiteral("http://b/"))
                return;
            if (during == DuringRun::ClickStart)
                window.form.PushButton4->click();
            else if (during == DuringRun::AddAnAddress)
                window.form.ListView1->add(QStringLiteral("http://late/"));
            else {
                window.form.ListView1->remove(4);
                window.form.ListView1->remove(3);
            }
        };
        window.test.dialogs.expectMessage();
        window.form.PushButton4_Click();
        QCOMPARE(window.transfer().requested, requested);
        QCOMPARE(itemsOf(*window.form.ListView3), requested);
        QCOMPARE(window.test.dialogs.texts(), QStringList{Done});
    }

    void pauseIsReadForEveryAddress()
    {
        TestWindow window(NoPause);
        fill(*window.form.ListView1, {"http://a/", "http://b/"});
        window.transfer().duringRequest = [&](const QString& address) {
            if (address == QStringLiteral("http://a/"))
                window.form.Text1->setText(QStringLiteral(" .3 "));
        };
        window.test.dialogs.expectMessage();
        QElapsedTimer clock;
        clock.start();
        window.form.PushButton4_Click();
        // The first address was read with no pause, the second waits the new one.
        QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
    }

    void pauseThatStopsBeingANumberMeansNoPause()
    {
        TestWindow window(NoPause);
        fill(*window.form.ListView1, {"http://a/", "http://b/", "http://c/"});
        window.transfer().headersFor = {{"http://a/", Ok}, {"http://c/", Ok}};
        window.transfer().duringRequest = [&](const QString&) { window.form.Text1->setText(QStringLiteral("later")); };
        window.test.dialogs.expectMessage();
        window.form.PushButton4_Click();
        // Every address is still probed and filed by its own verdict, without a report.
        QCOMPARE(window.transfer().requested.size(), 3);
        QCOMPARE(itemsOf(*window.form.ListView2), (QStringList{"http://a/", "http://c/"}));
        QCOMPARE(itemsOf(*window.form.ListView3), QStringList{"http://b/"});
        QCOMPARE(window.test.dialogs.texts(), QStringList{Done});
    }

    void closingTheWindowEndsTheProgramMidRun()
    {
        TestWindow window(NoPause);
        fill(*window.form.ListView1, {"http://a/"});
        window.transfer().duringRequest = [&](const QString&) { window.form.close(); };
        window.test.dialogs.expectMessage();  // the stand-in exit returns, so the run ends
        window.form.PushButton4_Click();
        QCOMPARE(window.test.exit.exits, 1);
    }

    void pauseHelp()
    {
        TestWindow window(NoPause);
        window.test.dialogs.expectMessage();
        window.form.PushButton12->click();
        QCOMPARE(window.test.dialogs.texts(),
                 QStringList{"You can set the pause here to: 0, 1, .5, or 3 etc.\r\n\r\nThe default for this software used to "
                             "be 0 but some users noticed that some results were inaccurate so I added this pause to help "
                             "ensure accuracy."});
        QCOMPARE(window.test.dialogs.shown[0].title, QStringLiteral("Tessaly"));
        QCOMPARE(window.test.dialogs.shown[0].icon, Dialogs::Icon::None);
    }
};

QTEST_MAIN(CheckRunTest)
#include "tst_checking_run.moc"
