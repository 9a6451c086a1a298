// The main window: its layout, its start-up steps and the end of the program.
#include "WindowTesting.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QPushButton>
#include <QScreen>

namespace {
const QString SettingKey = MemorySettingsStore::keyOf(QStringLiteral("Velmora"), QStringLiteral("Tessaly Software"),
                                                      QStringLiteral("Text1"));

QString headerOf(ListView* list) { return list->model().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(); }
}  // namespace

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    // Each control where the layout puts it, with its caption, its font, and
    // the control the Tab key goes on to (none for the frame, which takes no
    // focus; the last goes back to the first).
    void controlsStandWhereTheLayoutPutsThem_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("next");
        // Twips from the layout table, 15 to the pixel.
        auto row = [](const char* name, int l, int t, int w, int h, const char* text, const char* next) {
            QTest::newRow(name) << QString::fromLatin1(name) << QRect(l / 15, t / 15, w / 15, h / 15)
                                << QString::fromUtf8(text) << QString::fromLatin1(next);
        };
        row("Frame1", 120, 4080, 7800, 765, "Pause For Increased Accuracy (Seconds)", "");
        row("Text1", 240, 270, 6615, 345, "Text1", "PushButton7");
        row("PushButton12", 6960, 270, 600, 345, "?", "ListView1");
        row("ListView1", 120, 120, 7800, 2385, "", "ListView2");
        row("ListView2", 8040, 120, 7800, 2070, "", "ListView3");
        row("ListView3", 8040, 2790, 7800, 2070, "", "PushButton5");
        row("PushButton5", 120, 2595, 3840, 405, "Add URL To List", "PushButton3");
        row("PushButton3", 4080, 2595, 3840, 405, "Load URLs From Text File", "PushButton11");
        row("PushButton11", 120, 3105, 3840, 405, "Clear List", "PushButton6");
        row("PushButton6", 8040, 2280, 3840, 405, "Save Results As Text File", "PushButton1");
        row("PushButton1", 8040, 4950, 3840, 405, "Save Results As Text File", "PushButton9");
        row("PushButton9", 12000, 2280, 3840, 405, "Clear List", "PushButton2");
        row("PushButton2", 12000, 4950, 3840, 405, "Clear List", "PushButton4");
        row("PushButton4", 120, 4950, 7800, 405, "Start Checking", "PushButton8");
        row("PushButton8", 4080, 3105, 3840, 405, "Load Sample/Example URLs", "Text1");
        row("PushButton7", 120, 3615, 3840, 405, "Open Selected URL", "PushButton10");
        row("PushButton10", 4080, 3615, 3840, 405, "Help", "PushButton12");
    }
    void controlsStandWhereTheLayoutPutsThem()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(QString, next);
        TestPlatform desktop;
        Form1 form(desktop.platform());
        auto* control = form.findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->geometry(), geometry);
        auto* button = qobject_cast<QPushButton*>(control);
        if (button)
            QCOMPARE(button->text(), text);
        else if (auto* frame = qobject_cast<QGroupBox*>(control))
            QCOMPARE(frame->title(), text);
        else if (auto* field = qobject_cast<QLineEdit*>(control))
            QCOMPARE(field->text(), text);
        else
            QCOMPARE(qobject_cast<ListView*>(control)->toolTip(),
                     QStringLiteral("Double-click item to remove it. Move | line to right and out of window to reveal full names."));
        // The pause field and its "?" lie inside the frame.
        if (name == u"Text1" || name == u"PushButton12")
            QCOMPARE(control->parentWidget(), form.Frame1);
        QCOMPARE(control->font().family(), QStringLiteral("Arial"));
        QCOMPARE(control->font().pointSizeF(), button ? 11.25 : 9.0);
        QVERIFY(control->font().bold());
        QCOMPARE(bool(control->focusPolicy() & Qt::TabFocus), !next.isEmpty());
        if (next.isEmpty())
            return;
        QWidget* following = control->nextInFocusChain();
        while (following != control && !(following->focusPolicy() & Qt::TabFocus))
            following = following->nextInFocusChain();
        QCOMPARE(following->objectName(), next);
    }

    void windowIsFixedWithMinimiseAndCloseOnly()
    {
        TestPlatform desktop;
        Form1 form(desktop.platform());
        QCOMPARE(form.size(), QSize(1064, 364));
        QCOMPARE(form.minimumSize(), QSize(1064, 364));
        QCOMPARE(form.maximumSize(), QSize(1064, 364));
        const Qt::WindowFlags flags = form.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(form.Frame1->palette().color(QPalette::Window), QColor(Qt::white));
    }

    void startUpSetsCaptionTitleAndHeaders()
    {
        TestPlatform desktop;
        Form1 form(desktop.platform());
        form.Form_Load();
        QCOMPARE(form.windowTitle(), QStringLiteral("Tessaly Software"));
        QCOMPARE(desktop.dialogs.applicationTitle(), QStringLiteral("Tessaly"));
        QCOMPARE(headerOf(form.ListView1), QStringLiteral("URL(s)"));
        QCOMPARE(headerOf(form.ListView2), QStringLiteral(" Valid URL(s)"));
        QCOMPARE(headerOf(form.ListView3), QStringLiteral("Invalid URL(s)"));
        for (ListView* list : {form.ListView1, form.ListView2, form.ListView3}) {
            QCOMPARE(list->header()->count(), 1);
            QCOMPARE(list->columnWidth(0), 467);  // 7000 twips
            QCOMPARE(list->count(), 0);
        }
        QVERIFY(desktop.dialogs.shown.isEmpty());
    }

    // A missing icon file still gives a non-null icon: what counts is that
    // each size has a picture with something drawn in it.
    void startUpSetsTheApplicationIconInEverySize()
    {
        TestPlatform desktop;
        Form1 form(desktop.platform());
        form.Form_Load();
        for (int size : {32, 48, 128, 256}) {
            const QImage image = form.windowIcon().pixmap(QSize(size, size)).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            const QColor centre = image.pixelColor(size / 2, size / 2);
            QVERIFY2(centre.alpha() > 0, qPrintable(QStringLiteral("size %1 is blank").arg(size)));
        }
    }

    void applicationTitleDropsAtLeastTheLastWord_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("title");
        QTest::newRow("product name") << "Tessaly Software"
                                      << "Tessaly";
        QTest::newRow("three words") << "Tessaly Link Checker"
                                     << "Tessaly Link";
        QTest::newRow("long name cut until it fits") << "Tessaly Professional Address Verification Suite For Everyone"
                                                     << "Tessaly Professional Address";
        QTest::newRow("one word kept") << "Tessaly"
                                       << "Tessaly";
    }
    void applicationTitleDropsAtLeastTheLastWord()
    {
        QFETCH(QString, product);
        QFETCH(QString, title);
        QCOMPARE(Form1::ApplicationTitleOf(product), title);
    }

    void pauseFieldComesFromTheStore_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("writes");
        QTest::newRow("first start") << false << QString() << "1" << QStringList{"1"};
        QTest::newRow("a number") << true << ".5"
                                  << ".5" << QStringList{".5"};
        QTest::newRow("letters shown unchanged") << true << "abc"
                                                 << "abc" << QStringList{"abc"};
        QTest::newRow("empty stays empty") << true << ""
                                           << "" << QStringList{""};
        QTest::newRow("the initial text changes nothing") << true << "Text1"
                                                          << "Text1" << QStringList{};
    }
    void pauseFieldComesFromTheStore()
    {
        QFETCH(bool, stored);
        QFETCH(QString, value);
        QFETCH(QString, shown);
        QFETCH(QStringList, writes);
        TestPlatform desktop;
        if (stored)
            desktop.settings.entries.insert(SettingKey, value);
        Form1 form(desktop.platform());
        form.Form_Load();
        QCOMPARE(form.Text1->text(), shown);
        QCOMPARE(desktop.settings.writes, writes);
        QCOMPARE(desktop.settings.entries.value(SettingKey, QStringLiteral("<absent>")),
                 stored || !writes.isEmpty() ? shown : "<absent>");

        // Typing writes on every change; the store ends with the final text.
        QTest::keyClicks(form.Text1, QStringLiteral("25"));
        QCOMPARE(desktop.settings.writes.mid(writes.size()), (QStringList{shown + "2", shown + "25"}));
        QCOMPARE(desktop.settings.entries.value(SettingKey), shown + "25");
    }

    void unreadableStoreKeepsTheInitialText()
    {
        TestPlatform desktop;
        desktop.settings.failReads = true;
        desktop.dialogs.expectMessage();
        Form1 form(desktop.platform());
        form.Form_Load();
        QCOMPARE(form.Text1->text(), QStringLiteral("Text1"));
        QCOMPARE(desktop.dialogs.texts(),
                 QStringList{QStringLiteral("The settings store cannot be read\r\nin Orrinth2021/08/31.Form1.Form_Load at line 140\r\r"
                                            "Please email screenshot of this message to support@velmora.example")});
    }

    // A cursor file that is no picture is reported, and start-up goes on
    // (one that is, or none, tst_appearance's).
    void cursorFileThatIsNoPicture()
    {
        TestPlatform desktop;
        QVERIFY(writeBytes(desktop.programFolder.path() + QStringLiteral("/HAND-M.CUR"), "this is no cursor"));
        desktop.dialogs.expectMessage();
        Form1 form(desktop.platform());
        form.Form_Load();
        QVERIFY(!form.customPointerPicture().has_value());
        QCOMPARE(desktop.dialogs.shown.size(), 1);
        QVERIFY(isReport(desktop.dialogs.shown.front(), "Form1.Form_Load", 106));
        QCOMPARE(form.windowTitle(), QStringLiteral("Tessaly Software"));
        QCOMPARE(form.Text1->text(), QStringLiteral("1"));
    }

    void homePageOpensOnADrawOfSeven_data()
    {
        QTest::addColumn<double>("fraction");
        QTest::addColumn<bool>("opens");
        QTest::newRow("draw 1") << 0.0 << false;
        QTest::newRow("draw 7, lowest fraction") << 0.06 << true;
        QTest::newRow("draw 7, highest fraction") << 0.0699 << true;
        QTest::newRow("draw 8") << 0.07 << false;
        QTest::newRow("draw 100") << 0.9999 << false;
    }
    void homePageOpensOnADrawOfSeven()
    {
        QFETCH(double, fraction);
        QFETCH(bool, opens);
        TestPlatform desktop;
        desktop.random.fraction = fraction;
        Form1 form(desktop.platform());
        form.Form_Load();
        QCOMPARE(desktop.random.seeds, 1);
        QCOMPARE(desktop.shell.opened,
                 opens ? QList<QUrl>{QUrl(QStringLiteral("http://www.velmora.example/"))} : QList<QUrl>{});
    }

    void homePageThatCannotBeOpenedIsReported()
    {
        TestPlatform desktop;
        desktop.random.fraction = 0.06;  // the draw of seven
        desktop.shell.failOpens = true;
        desktop.dialogs.expectMessage();
        Form1 form(desktop.platform());
        form.Form_Load();
        QCOMPARE(desktop.dialogs.shown.size(), 1);
        QVERIFY(isReport(desktop.dialogs.shown.front(), "Form1.Form_Load", 108));
        // Start-up went on with the caption.
        QCOMPARE(form.windowTitle(), QStringLiteral("Tessaly Software"));
    }

    void helpNamesTheContactPage()
    {
        TestPlatform desktop;
        Form1 form(desktop.platform());
        form.Form_Load();
        desktop.dialogs.expectMessage();
        QTest::mouseClick(form.PushButton10, Qt::LeftButton);
        QCOMPARE(desktop.dialogs.shown.size(), 1);
        const ShownBox& box = desktop.dialogs.shown.front();
        QCOMPARE(box.text, QStringLiteral("Questions? Please contact Team Velmora at http://www.velmora.example/contact/"));
        QCOMPARE(box.title, QStringLiteral("Tessaly"));
        QCOMPARE(box.icon, Dialogs::Icon::None);
        QCOMPARE(box.buttons, Dialogs::Buttons::Ok);
    }

    // The Delete key pressed in each list reaches the window's handler (what
    // other keys read as, tst_listview's; what the handlers do, tst_lists').
    void theDeleteKeyRemovesFromEachList_data()
    {
        QTest::addColumn<QString>("list");
        for (const char* list : {"ListView1", "ListView2", "ListView3"})
            QTest::newRow(list) << QString::fromLatin1(list);
    }
    void theDeleteKeyRemovesFromEachList()
    {
        QFETCH(QString, list);
        TestWindow window;
        auto* view = window.form.findChild<ListView*>(list);
        fill(*view, {QStringLiteral("http://a.example/"), QStringLiteral("http://b.example/")});
        view->select(1);
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(itemsOf(*view), QStringList{"http://b.example/"});
    }

    void closingTheWindowEndsTheProgram()
    {
        TestPlatform desktop;
        Form1 form(desktop.platform());
        form.start();
        QVERIFY(form.close());
        QCOMPARE(desktop.exit.exits, 1);
    }

    void startShowsTheWindowCentredWithFocusOnTheUrlList()
    {
        TestPlatform desktop;
        Form1 form(desktop.platform());
        form.start();
        QVERIFY(form.isVisible());
        QCOMPARE(form.focusWidget(), form.ListView1);
        const QRect screen = form.screen()->availableGeometry();
        // The frame, title bar and borders included, is what is centred.
        QVERIFY(qAbs(form.frameGeometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(form.frameGeometry().center().y() - screen.center().y()) <= 1);
    }
};

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"
