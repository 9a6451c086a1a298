// The check run through the main window: its messages, the order of filing,
// the count taken once, the pause read per address, the running flag and the
// busy pointer.
#include "LoopbackServer.h"
#include "app/ErrorReport.h"
#include "app/Form1.h"
#include "platform/CurlTransfer.h"
#include "platform/testing/TestPlatform.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace std::chrono_literals;

namespace {
const QString Done = QStringLiteral("Done.");
const QString NoUrls = QStringLiteral("No URL(s) added.");
const QString PauseNotNumber = QStringLiteral("Pause must be a number. For example: 1 or .5 or 0");
const QString Ok = QStringLiteral("HTTP/1.1 200 OK\r\n\r\n");
const QString Missing = QStringLiteral("HTTP/1.1 404 Not Found\r\n\r\n");

QStringList itemsOf(const ListView* list)
{
    QStringList texts;
    for (int position = 1; position <= list->count(); ++position)
        texts << list->text(position);
    return texts;
}

struct Window {
    TestPlatform test;
    std::unique_ptr<Form1> form;
    ScriptedTransferControl* transfer = nullptr;

    explicit Window(const QString& pause = QStringLiteral("0"))
    {
        form = std::make_unique<Form1>(test.platform());
        transfer = test.transfer;
        form->Form_Load();
        form->Text1->setText(pause);
    }
    void addUrls(const QStringList& urls)
    {
        for (const QString& url : urls)
            form->ListView1->add(url);
    }
};
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
        QTest::newRow("a word") << QStringList{"http://a/"} << "one" << PauseNotNumber;
        QTest::newRow("inf") << QStringList{"http://a/"} << "inf" << PauseNotNumber;
    }
    void refusedRuns()
    {
        QFETCH(QStringList, urls);
        QFETCH(QString, pause);
        QFETCH(QString, message);
        Window window(pause);
        window.addUrls(urls);
        window.test.dialogs.expectMessage();
        // While the box is up the run still holds its flag: a second click does nothing.
        window.test.dialogs.whileShown = [&](const ShownBox&) {
            QCOMPARE(window.form->MousePointer(), Form1::PointerStandard);
            window.form->PushButton4_Click();
        };

        window.form->PushButton4_Click();
        QCOMPARE(window.test.dialogs.texts(), QStringList{message});
        const ShownBox& box = window.test.dialogs.shown[0];
        QCOMPARE(box.title, QStringLiteral("Tessaly"));
        QCOMPARE(box.icon, Dialogs::Icon::None);
        QVERIFY(window.transfer->requested.isEmpty());
        QCOMPARE(window.form->ListView2->count() + window.form->ListView3->count(), 0);

        // The flag is cleared at the end: the next run starts.
        window.test.dialogs.whileShown = nullptr;
        window.test.dialogs.expectMessage();
        window.form->PushButton4_Click();
        QCOMPARE(window.test.dialogs.shown.size(), 2);
    }

    void judgesEveryAddressInOrder()
    {
        Window window;
        const QStringList urls{"http://a/", "http://b/", "", "http://bad/", "http://c/", "http://a/", "http://gone/"};
        window.addUrls(urls);
        window.transfer->headersFor = {{"http://a/", Ok}, {"http://b/", Missing}, {"http://c/", Ok}};
        window.transfer->unusable = {"http://bad/"};
        window.transfer->duringRequest = [&](const QString&) { QCOMPARE(window.form->MousePointer(), Form1::PointerBusy); };
        window.test.dialogs.expectMessages(2);  // the probe's own report, then "Done."
        window.test.dialogs.whileShown = [&](const ShownBox& box) {
            if (box.text == Done)
                QCOMPARE(window.form->MousePointer(), Form1::PointerStandard);
        };

        window.form->PushButton4_Click();
        QCOMPARE(window.transfer->requested,
                 (QStringList{"http://a/", "http://b/", "http://bad/", "http://c/", "http://a/", "http://gone/"}));
        QCOMPARE(itemsOf(window.form->ListView2), (QStringList{"http://a/", "http://c/", "http://a/"}));
        QCOMPARE(itemsOf(window.form->ListView3), (QStringList{"http://b/", "", "http://bad/", "http://gone/"}));
        QCOMPARE(itemsOf(window.form->ListView1), urls);
        QCOMPARE(window.test.dialogs.shown.size(), 2);
        QVERIFY(window.test.dialogs.shown[0].text.contains(
            QStringLiteral("in Orrinth2021/08/31.Valid.CheckURL at line 112\r\r")));
        QCOMPARE(window.test.dialogs.shown[1].text, Done);
        QCOMPARE(window.form->MousePointer(), Form1::PointerStandard);
    }

    void secondRunAppendsAgain()
    {
        Window window;
        window.addUrls({"http://a/", "http://b/"});
        window.transfer->headersFor = {{"http://a/", Ok}};
        window.test.dialogs.expectMessages(2);
        window.form->PushButton4_Click();
        window.form->PushButton4_Click();
        QCOMPARE(itemsOf(window.form->ListView2), (QStringList{"http://a/", "http://a/"}));
        QCOMPARE(itemsOf(window.form->ListView3), (QStringList{"http://b/", "http://b/"}));
        QCOMPARE(window.test.dialogs.texts(), (QStringList{Done, Done}));
    }

    void clickDuringRunDoesNothing()
    {
        Window window;
        window.addUrls({"http://a/", "http://b/"});
        window.transfer->duringRequest = [&](const QString&) { window.form->PushButton4->click(); };
        window.test.dialogs.expectMessage();
        window.form->PushButton4_Click();
        QCOMPARE(window.transfer->requested, (QStringList{"http://a/", "http://b/"}));
        QCOMPARE(window.test.dialogs.texts(), QStringList{Done});
    }

    void addressesAddedDuringRunWaitForTheNext()
    {
        Window window;
        window.addUrls({"http://a/", "http://b/"});
        window.transfer->duringRequest = [&](const QString& address) {
            if (address == QStringLiteral("http://a/"))
                window.form->ListView1->add(QStringLiteral("http://late/"));
        };
        window.test.dialogs.expectMessage();
        window.form->PushButton4_Click();
        QCOMPARE(window.transfer->requested, (QStringList{"http://a/", "http://b/"}));
        QCOMPARE(window.form->ListView3->count(), 2);
    }

    void pauseIsReadForEveryAddress()
    {
        Window window(QStringLiteral("0"));
        window.addUrls({"http://a/", "http://b/"});
        window.transfer->duringRequest = [&](const QString& address) {
            if (address == QStringLiteral("http://a/"))
                window.form->Text1->setText(QStringLiteral(" .3 "));
        };
        window.test.dialogs.expectMessage();
        QElapsedTimer clock;
        clock.start();
        window.form->PushButton4_Click();
        // The first address was read with no pause, the second waits the new one.
        QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(window.test.settings.entries.value(
                     MemorySettingsStore::keyOf(Form1::SettingsApplication, Form1::SettingsSection, "Text1")),
                 QStringLiteral(" .3 "));
    }

    void pauseThatStopsBeingANumberMeansNoPause()
    {
        Window window(QStringLiteral("0"));
        window.addUrls({"http://a/", "http://b/", "http://c/"});
        window.transfer->headersFor = {{"http://a/", Ok}, {"http://c/", Ok}};
        window.transfer->duringRequest = [&](const QString&) { window.form->Text1->setText(QStringLiteral("later")); };
        window.test.dialogs.expectMessage();
        window.form->PushButton4_Click();
        // Every address is still probed and filed by its own verdict, without a report.
        QCOMPARE(window.transfer->requested.size(), 3);
        QCOMPARE(itemsOf(window.form->ListView2), (QStringList{"http://a/", "http://c/"}));
        QCOMPARE(itemsOf(window.form->ListView3), QStringList{"http://b/"});
        QCOMPARE(window.test.dialogs.texts(), QStringList{Done});
    }

    void listThatShrinksIsNotJudgedPastItsEnd()
    {
        Window window;
        window.addUrls({"http://a/", "http://b/", "http://c/", "http://d/"});
        window.transfer->duringRequest = [&](const QString& address) {
            if (address == QStringLiteral("http://b/")) {
                window.form->ListView1->remove(4);
                window.form->ListView1->remove(3);
            }
        };
        window.test.dialogs.expectMessage();
        window.form->PushButton4_Click();
        QCOMPARE(window.transfer->requested, (QStringList{"http://a/", "http://b/"}));
        QCOMPARE(itemsOf(window.form->ListView3), (QStringList{"http://a/", "http://b/"}));
        QCOMPARE(window.test.dialogs.texts(), QStringList{Done});
    }

    void closingTheWindowEndsTheProgramMidRun()
    {
        Window window;
        window.addUrls({"http://a/"});
        window.transfer->duringRequest = [&](const QString&) { window.form->close(); };
        window.test.dialogs.expectMessage();  // the stand-in exit returns, so the run ends
        window.form->PushButton4_Click();
        QCOMPARE(window.test.exit.exits, 1);
    }

    void pauseHelp()
    {
        Window window;
        window.test.dialogs.expectMessage();
        window.form->PushButton12->click();
        QCOMPARE(window.test.dialogs.texts(),
                 QStringList{"You can set the pause here to: 0, 1, .5, or 3 etc.\r\n\r\nThe default for this software used to "
                             "be 0 but some users noticed that some results were inaccurate so I added this pause to help "
                             "ensure accuracy."});
        QCOMPARE(window.test.dialogs.shown[0].title, QStringLiteral("Tessaly"));
        QCOMPARE(window.test.dialogs.shown[0].icon, Dialogs::Icon::None);
    }

    void runThroughTheRealTransfer()
    {
        LoopbackServer server;
        server.fallback = LoopbackServer::answer("HTTP/1.1 404 Not Found", {}, "<html>missing</html>");
        for (const char* path : {"/one", "/two", "/three"})
            server.route(path, LoopbackServer::answer("HTTP/1.1 200 OK", {}, "<html>here</html>"));
        CurlTransfer* transfer = nullptr;
        TestPlatform test;
        test.platform().makeTransferControl = [&] {
            auto made = std::make_unique<CurlTransfer>(CurlTransfer::Options{1500ms, false, {}});
            transfer = made.get();
            return made;
        };
        Form1 form(test.platform());
        form.Form_Load();
        form.Text1->setText(QStringLiteral("0"));
        const QString refused = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::refusedPort());
        for (const QString& url : {server.url("/one"), server.url("/nothing"), server.url("/two"), refused,
                                   server.url("/three"), server.url("/gone")})
            form.ListView1->add(url);
        test.dialogs.expectMessage();

        form.PushButton4_Click();
        QCOMPARE(itemsOf(form.ListView2), (QStringList{server.url("/one"), server.url("/two"), server.url("/three")}));
        QCOMPARE(itemsOf(form.ListView3), (QStringList{server.url("/nothing"), refused, server.url("/gone")}));
        QCOMPARE(test.dialogs.texts(), QStringList{Done});
        // One connection serves every address on the one host.
        QCOMPARE(server.connectionsAccepted(), 1);
        QCOMPARE(server.requests.size(), 5);
        QVERIFY(transfer);
    }
};

QTEST_MAIN(CheckRunTest)
#include "tst_checking_run.moc"
