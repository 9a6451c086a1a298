// The window's look: the skin file, the pointer rules over the real controls
// and the hand pointer file the build puts next to the program.
#include "WindowTesting.h"

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QPushButton>

#include <sys/stat.h>

namespace {
const QString BuiltCursorFile = QStringLiteral(TESSALY_BINARY_DIR "/src/HAND-M.CUR");
const QString Sheet = QStringLiteral("QPushButton { color: #123456; }");

QString skinPathOf(TestPlatform& desktop) { return desktop.programFolder.path() + QStringLiteral("/x/o.cjs"); }

QColor buttonFace() { return QApplication::palette().color(QPalette::Button); }

QColor backgroundOf(const QWidget* widget) { return widget->palette().color(QPalette::Window); }

QString startUpBox(int step)
{
    return QStringLiteral("\r\nin Orrinth2021/08/31.Form1.Form_Load at line %1\r\r").arg(step);
}

// The skinning calls in the order the window makes them.
QStringList skinCalls(TestPlatform& desktop, Form1& form, int optionsBefore = 0)
{
    return {QStringLiteral("loadSkin(%1, \"\")").arg(skinPathOf(desktop)),
            QStringLiteral("options() = %1").arg(optionsBefore),
            QStringLiteral("setOptions(%1)").arg(optionsBefore | 1),
            QStringLiteral("setResolveRelativeUrls(true)"),
            QStringLiteral("setSkinDialogs(true)"),
            QStringLiteral("applyWindow(%1)").arg(form.winId())};
}

void useRealSkinFramework(TestPlatform& desktop)
{
    desktop.platform().makeSkinFramework = [] { return std::make_unique<QtSkinFramework>(); };
}
}  // namespace

class AppearanceTest : public QObject {
    Q_OBJECT

private slots:
    // The colour tests need a button face that differs from the design's white.
    void initTestCase() { QVERIFY(buttonFace() != QColor(Qt::white)); }
    void cleanup() { qApp->setStyleSheet({}); }

    void skinOnlyFromANormalFileOfThatName_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("skinned");
        QTest::newRow("absent") << "none" << false;
        QTest::newRow("a file") << "file" << true;
        QTest::newRow("an empty file") << "empty" << true;
        QTest::newRow("a folder named o.cjs") << "folder" << false;
        QTest::newRow("the name in capitals") << "capitals" << false;
        QTest::newRow("a link to nowhere") << "broken link" << false;
        QTest::newRow("a link to a file") << "link" << true;
        QTest::newRow("a fifo") << "fifo" << false;
    }
    void skinOnlyFromANormalFileOfThatName()
    {
        QFETCH(QString, kind);
        QFETCH(bool, skinned);
        TestPlatform desktop;
        const QString path = skinPathOf(desktop);
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (kind == "file")
            QVERIFY(writeBytes(path, Sheet.toUtf8()));
        else if (kind == "empty")
            QVERIFY(writeBytes(path, {}));
        else if (kind == "folder")
            QVERIFY(QDir().mkpath(path));
        else if (kind == "capitals")
            QVERIFY(writeBytes(desktop.programFolder.path() + QStringLiteral("/x/O.CJS"), Sheet.toUtf8()));
        else if (kind == "broken link")
            QVERIFY(QFile::link(desktop.programFolder.path() + QStringLiteral("/nothing"), path));
        else if (kind == "link") {
            QVERIFY(writeBytes(desktop.programFolder.path() + QStringLiteral("/skin.qss"), Sheet.toUtf8()));
            QVERIFY(QFile::link(desktop.programFolder.path() + QStringLiteral("/skin.qss"), path));
        } else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);

        Form1 form(desktop.platform());
        const QColor before = backgroundOf(&form);
        form.Form_Load();

        QCOMPARE(desktop.dialogs.shown.size(), 0);
        QCOMPARE(desktop.skin.calls, skinned ? skinCalls(desktop, form) : QStringList{});
        QCOMPARE(backgroundOf(&form), skinned ? buttonFace() : before);
        QCOMPARE(backgroundOf(form.Frame1), skinned ? buttonFace() : QColor(Qt::white));
    }

    void coloursChangeBeforeTheSkinLoads_data()
    {
        QTest::addColumn<int>("optionsBefore");
        QTest::newRow("no options yet") << 0;
        QTest::newRow("bit 0 already set") << 1;
        QTest::newRow("other bits kept") << 6;
    }
    void coloursChangeBeforeTheSkinLoads()
    {
        QFETCH(int, optionsBefore);
        TestPlatform desktop;
        QVERIFY(writeBytes(skinPathOf(desktop), Sheet.toUtf8()));
        desktop.skin.options = optionsBefore;
        Form1 form(desktop.platform());
        const QColor fieldBackground = form.Text1->palette().color(QPalette::Base);
        desktop.skin.onCall = [&](const QString& call) {
            if (call.startsWith("loadSkin"))
                desktop.skin.calls << QStringLiteral("window %1, frame %2")
                                          .arg(backgroundOf(&form).name(), backgroundOf(form.Frame1).name());
        };
        form.Form_Load();

        QStringList expected = skinCalls(desktop, form, optionsBefore);
        expected.insert(1, QStringLiteral("window %1, frame %1").arg(buttonFace().name()));
        QCOMPARE(desktop.skin.calls, expected);
        // The pause field, the lists and the buttons keep their own colours.
        QCOMPARE(form.Text1->palette().color(QPalette::Base), fieldBackground);
        QVERIFY(!form.ListView1->testAttribute(Qt::WA_SetPalette));
        QVERIFY(!form.PushButton4->testAttribute(Qt::WA_SetPalette));
    }

    // The skin's calls are one step: the first and the last failing stand for
    // those between.
    void aFailingSkinCallEndsTheSkinAtStep100_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("callsMade");
        QTest::newRow("loading") << "loadSkin" << 1;
        QTest::newRow("applying") << "applyWindow" << 6;
    }
    void aFailingSkinCallEndsTheSkinAtStep100()
    {
        QFETCH(QString, failing);
        QFETCH(int, callsMade);
        TestPlatform desktop;
        QVERIFY(writeBytes(skinPathOf(desktop), Sheet.toUtf8()));
        QFile::copy(BuiltCursorFile, desktop.programFolder.path() + QStringLiteral("/HAND-M.CUR"));
        desktop.skin.failingCall = failing;
        desktop.dialogs.expectMessage();
        Form1 form(desktop.platform());
        form.Form_Load();

        QCOMPARE(desktop.dialogs.texts(),
                 QStringList{QStringLiteral("The skin framework refused ") + failing + startUpBox(100)
                             + QStringLiteral("Please email screenshot of this message to support@velmora.example")});
        QCOMPARE(desktop.skin.calls, skinCalls(desktop, form).mid(0, callsMade));
        // The colours stay; start-up went on with the cursor file and the rest.
        QCOMPARE(backgroundOf(&form), buttonFace());
        QVERIFY(form.customPointerPicture().has_value());
        QCOMPARE(form.windowTitle(), QStringLiteral("Tessaly Software"));
        QCOMPARE(form.Text1->text(), QStringLiteral("1"));
    }

    // An installed program keeps both files in its data folder; one beside
    // the program comes first, so a user's own still wins.
    void optionalFilesBesideTheProgramComeBeforeTheDataFolder_data()
    {
        QTest::addColumn<QString>("beside");
        QTest::addColumn<QString>("inData");
        QTest::addColumn<QString>("used");
        QTest::newRow("neither") << ""
                                 << ""
                                 << "";
        QTest::newRow("beside the program") << "beside"
                                            << ""
                                            << "beside";
        QTest::newRow("in the data folder") << ""
                                            << "data"
                                            << "data";
        QTest::newRow("both") << "beside"
                              << "data"
                              << "beside";
    }
    void optionalFilesBesideTheProgramComeBeforeTheDataFolder()
    {
        QFETCH(QString, beside);
        QFETCH(QString, inData);
        QFETCH(QString, used);
        TestPlatform desktop;
        // Each place has a pointer of its own size.
        const QMap<QString, QString> folders{{QStringLiteral("beside"), desktop.programFolder.path()},
                                             {QStringLiteral("data"), desktop.programFolder.dataFolder()}};
        const QMap<QString, int> sizes{{QStringLiteral("beside"), 32}, {QStringLiteral("data"), 16}};
        for (const QString& place : {beside, inData}) {
            if (place.isEmpty())
                continue;
            QImage hand(sizes[place], sizes[place], QImage::Format_ARGB32);
            hand.fill(Qt::black);
            QVERIFY(hand.save(folders[place] + QStringLiteral("/HAND-M.CUR"), "PNG"));
            QVERIFY(writeBytes(folders[place] + QStringLiteral("/x/o.cjs"), Sheet.toUtf8()));
        }
        Form1 form(desktop.platform());
        form.Form_Load();

        QCOMPARE(form.customPointerPicture().has_value(), !used.isEmpty());
        if (used.isEmpty()) {
            QCOMPARE(desktop.skin.calls, QStringList{});
            return;
        }
        QCOMPARE(form.customPointerPicture()->pixmap().width(), sizes[used]);
        QCOMPARE(desktop.skin.calls.value(0), QStringLiteral("loadSkin(%1/x/o.cjs, \"\")").arg(folders[used]));
    }

    void theSkinFileIsAStyleSheetOnTheWindow()
    {
        TestPlatform desktop;
        useRealSkinFramework(desktop);
        QVERIFY(writeBytes(skinPathOf(desktop), Sheet.toUtf8()));
        Form1 form(desktop.platform());
        form.Form_Load();
        QCOMPARE(desktop.dialogs.shown.size(), 0);
        QCOMPARE(form.styleSheet(), Sheet);
        QCOMPARE(qApp->styleSheet(), Sheet);  // boxes and dialogs too
        QVERIFY(form.testAttribute(Qt::WA_StyledBackground));
        form.ensurePolished();
        form.PushButton4->ensurePolished();
        QCOMPARE(form.PushButton4->palette().color(QPalette::ButtonText), QColor(0x12, 0x34, 0x56));
    }

    void anUnreadableSkinIsReportedAndStartUpGoesOn_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("no read permission") << "mode 000";
        QTest::newRow("reading fails") << "read error";
    }
    void anUnreadableSkinIsReportedAndStartUpGoesOn()
    {
        QFETCH(QString, kind);
        TestPlatform desktop;
        useRealSkinFramework(desktop);
        const QString path = skinPathOf(desktop);
        if (kind == "mode 000") {
            if (runsAsRoot())
                QSKIP("root reads a file whatever its mode");
            QVERIFY(writeBytes(path, Sheet.toUtf8()));
            QVERIFY(QFile::setPermissions(path, {}));
        } else {
            // A regular file that opens but fails on the first read.
            QDir().mkpath(QFileInfo(path).absolutePath());
            QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), path));
        }
        desktop.dialogs.expectMessage();
        Form1 form(desktop.platform());
        form.Form_Load();

        QCOMPARE(desktop.dialogs.shown.size(), 1);
        const QString text = desktop.dialogs.shown.front().text;
        QVERIFY2(text.startsWith(QStringLiteral("Cannot read the skin ") + path), qPrintable(text));
        QVERIFY(text.contains(startUpBox(100)));
        QCOMPARE(form.styleSheet(), QString());
        QCOMPARE(backgroundOf(&form), buttonFace());
        QCOMPARE(form.windowTitle(), QStringLiteral("Tessaly Software"));
    }

    void relativeUrlsPointIntoTheImageFolder_data()
    {
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QString>("resolved");
        QTest::newRow("bare") << "a { image: url(up.png); }"
                              << "a { image: url(\"/skins/up.png\"); }";
        QTest::newRow("quoted, in a subfolder") << "a { image: url( 'img/up.png' ) }"
                                                << "a { image: url(\"/skins/img/up.png\") }";
        QTest::newRow("two") << "url(a.png) url(\"b.png\")"
                             << "url(\"/skins/a.png\") url(\"/skins/b.png\")";
        QTest::newRow("absolute stays") << "url(/usr/share/up.png)"
                                        << "url(/usr/share/up.png)";
        QTest::newRow("resource stays") << "url(:/icons/up.png)"
                                        << "url(:/icons/up.png)";
        QTest::newRow("scheme stays") << "url(file:up.png)"
                                      << "url(file:up.png)";
        QTest::newRow("no url") << "QWidget { color: red; }"
                                << "QWidget { color: red; }";
    }
    void relativeUrlsPointIntoTheImageFolder()
    {
        QFETCH(QString, sheet);
        QFETCH(QString, resolved);
        QCOMPARE(QtSkinFramework::withUrlsResolved(sheet, QStringLiteral("/skins")), resolved);
    }

    // Every pointer movement below goes through the window system to the widget
    // under the pointer, as a real mouse would.
    void hoverFollowsTheControlUnderThePointer_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("idleResult");
        for (int i = 1; i <= 12; ++i)
            QTest::addRow("PushButton%d", i) << QStringLiteral("PushButton%1").arg(i) << int(Form1::PointerHand);
        for (const char* name : {"ListView1", "ListView2", "ListView3", "Frame1", "Form1"})
            QTest::newRow(name) << QString::fromLatin1(name) << int(Form1::PointerStandard);
        QTest::newRow("ListView2's header") << "ListView2 header" << int(Form1::PointerStandard);
    }
    void hoverFollowsTheControlUnderThePointer()
    {
        QFETCH(QString, control);
        QFETCH(int, idleResult);
        TestPlatform desktop;
        Form1 form(desktop.platform());
        form.start();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QWidget* target = control == "Form1"            ? &form
                        : control == "ListView2 header" ? form.ListView2->header()
                                                        : form.findChild<QWidget*>(control);
        QVERIFY(target);
        // A point of the target that no other control covers.
        const QPoint point = control == "Form1"  ? QPoint(3, 3)
                           : control == "Frame1" ? QPoint(4, target->height() - 4)
                                                 : target->rect().center();
        QWidget* hit = form.childAt(target->mapTo(&form, point));
        QVERIFY(control == "Form1" ? hit == nullptr : hit == target || target->isAncestorOf(hit));

        // Idle: from the other value to this control's.
        const int other = idleResult == Form1::PointerHand ? Form1::PointerStandard : Form1::PointerHand;
        form.setMousePointer(other);
        QTest::mouseMove(target, point);
        QCOMPARE(form.MousePointer(), idleResult);
        QTest::mouseMove(target, point + QPoint(1, 0));
        QCOMPARE(form.MousePointer(), idleResult);

        // Busy: nothing replaces the busy pointer.
        form.setMousePointer(Form1::PointerBusy);
        QTest::mouseMove(target, point);
        QCOMPARE(form.MousePointer(), int(Form1::PointerBusy));
    }

    void afterARunTheHandWaitsForTheNextMoveOverAButton()
    {
        TestPlatform desktop;
        Form1 form(desktop.platform());
        form.start();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QPoint centre = form.PushButton4->rect().center();

        form.setMousePointer(Form1::PointerBusy);  // the run starts
        QTest::mouseMove(form.PushButton4, centre);
        QTest::mouseMove(form.ListView1, form.ListView1->rect().center());
        QTest::mouseMove(form.PushButton4, centre);
        QCOMPARE(form.MousePointer(), int(Form1::PointerBusy));

        form.setMousePointer(Form1::PointerStandard);  // the run ends, over a button
        QCoreApplication::processEvents();
        QCOMPARE(form.MousePointer(), int(Form1::PointerStandard));
        QTest::mouseMove(form.PushButton4, centre + QPoint(2, 0));
        QCOMPARE(form.MousePointer(), int(Form1::PointerHand));
    }

    void thePauseFieldKeepsWhateverPointerWasThere()
    {
        TestPlatform desktop;
        Form1 form(desktop.platform());
        form.start();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::mouseMove(form.PushButton12, form.PushButton12->rect().center());
        QCOMPARE(form.MousePointer(), int(Form1::PointerHand));
        QTest::mouseMove(form.Text1, form.Text1->rect().center());
        QTest::mouseMove(form.Text1, form.Text1->rect().center() + QPoint(5, 0));
        QCOMPARE(form.MousePointer(), int(Form1::PointerHand));

        QTest::mouseMove(form.Frame1, QPoint(4, form.Frame1->height() - 4));
        QCOMPARE(form.MousePointer(), int(Form1::PointerStandard));
        QTest::mouseMove(form.Text1, QPoint(10, 5));
        QCOMPARE(form.MousePointer(), int(Form1::PointerStandard));
    }

    void pointerValueMapsToTheCursorShown()
    {
        TestPlatform desktop;
        Form1 form(desktop.platform());
        form.Form_Load();
        QCOMPARE(form.Text1->cursor().shape(), Qt::IBeamCursor);

        form.setMousePointer(Form1::PointerHand);  // no cursor file
        QCOMPARE(form.cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(form.PushButton7->cursor().shape(), Qt::PointingHandCursor);

        form.setMousePointer(Form1::PointerBusy);
        form.setMousePointer(Form1::PointerBusy);  // a second operation starts
        for (QWidget* widget : form.findChildren<QWidget*>())
            QVERIFY2(widget->cursor().shape() == Qt::WaitCursor, qPrintable(widget->objectName()));
        QCOMPARE(form.cursor().shape(), Qt::WaitCursor);

        form.setMousePointer(Form1::PointerStandard);
        QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(form.Text1->cursor().shape(), Qt::IBeamCursor);
        QCOMPARE(form.PushButton7->cursor().shape(), Qt::ArrowCursor);
    }

    void onlyACursorFileGivesAHotspot_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QPoint>("hotspot");
        const QByteArray entry("\x20\x20\0\0\x05\0\x07\0\0\0\0\0\x16\0\0\0", 16);
        QTest::newRow("cursor") << QByteArray("\0\0\2\0\1\0", 6) + entry << QPoint(5, 7);
        QTest::newRow("icon") << QByteArray("\0\0\1\0\1\0", 6) + entry << QPoint(-1, -1);
        QTest::newRow("no images") << QByteArray("\0\0\2\0\0\0", 6) + entry << QPoint(-1, -1);
        QTest::newRow("cut short") << QByteArray("\0\0\2\0\1\0\x20\x20", 8) << QPoint(-1, -1);
        QTest::newRow("a PNG") << QByteArray("\x89PNG\r\n\x1a\n") + entry << QPoint(-1, -1);
    }
    void onlyACursorFileGivesAHotspot()
    {
        QFETCH(QByteArray, head);
        QFETCH(QPoint, hotspot);
        QTemporaryDir folder;
        QVERIFY(writeBytes(folder.filePath("HAND-M.CUR"), head));
        QCOMPARE(Form1::CursorHotspotOf(folder.filePath("HAND-M.CUR")), hotspot);
        QCOMPARE(Form1::CursorHotspotOf(folder.filePath("absent.cur")), QPoint(-1, -1));
    }

    // The hand the build puts next to the program, taken at start-up: a
    // cursor of 32 pixels whose hotspot is the fingertip, drawn there with
    // nothing above it, and whose corners show the screen through.
    void startUpTakesTheBuiltCursorFileAsTheHand()
    {
        TestPlatform desktop;
        QVERIFY2(QFile::copy(BuiltCursorFile, desktop.programFolder.path() + QStringLiteral("/HAND-M.CUR")),
                 qPrintable(BuiltCursorFile));
        Form1 form(desktop.platform());
        form.Form_Load();
        QCOMPARE(desktop.dialogs.shown.size(), 0);
        const QPoint hotspot(11, 1);
        QVERIFY(form.customPointerPicture().has_value());
        QCOMPARE(form.customPointerPicture()->hotSpot(), hotspot);

        form.setMousePointer(Form1::PointerHand);
        QCOMPARE(form.cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(form.cursor().hotSpot(), hotspot);
        const QImage picture = form.cursor().pixmap().toImage();
        QCOMPARE(picture.size(), QSize(32, 32));
        QVERIFY(qAlpha(picture.pixel(hotspot + QPoint(0, 1))) > 200);
        QCOMPARE(qAlpha(picture.pixel(hotspot.x(), 0)), 0);
        QCOMPARE(qAlpha(picture.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(picture.pixel(31, 0)), 0);
    }
};

QTEST_MAIN(AppearanceTest)
#include "tst_appearance.moc"
