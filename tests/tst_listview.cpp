// The list control: positions from 1, items seen at once by the program while
// the view catches up in batches, and the events the window handles.
#include "engine/Failure.h"
#include "window/desktop/ListView.h"

#include "ListViewActions.h"
#include "StallMeter.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

class ListViewTest : public QObject {
    Q_OBJECT

private slots:
    void positionsCountFromOneAndMissingOnesFail()
    {
        ListView list;
        list.add(u"a");
        list.add(u"b");
        QCOMPARE(list.text(1), QStringLiteral("a"));
        QCOMPARE(list.text(2), QStringLiteral("b"));
        QVERIFY_THROWS_EXCEPTION(Failure, list.text(0));
        QVERIFY_THROWS_EXCEPTION(Failure, list.text(3));
        QVERIFY_THROWS_EXCEPTION(Failure, list.remove(3));
        list.remove(1);
        QCOMPARE(list.count(), 1);
        QCOMPARE(list.text(1), QStringLiteral("b"));
        list.clear();
        QCOMPARE(list.count(), 0);
    }

    void appendsAreSeenAtOnceAndShownInABatch()
    {
        ListView list;
        list.addColumn(QStringLiteral("URL(s)"));
        QSignalSpy inserts(&list.model(), &QAbstractItemModel::rowsInserted);
        for (int i = 1; i <= 500; ++i)
            list.add(QStringLiteral("http://127.0.0.1/%1").arg(i));
        QCOMPARE(list.count(), 500);
        QCOMPARE(list.text(500), QStringLiteral("http://127.0.0.1/500"));
        QCOMPARE(list.model().rowCount(), 0);
        QTRY_COMPARE(list.model().rowCount(), 500);
        QCOMPARE(inserts.size(), 1);
        QCOMPARE(list.model().data(list.model().index(499, 0), Qt::DisplayRole).toString(),
                 QStringLiteral("http://127.0.0.1/500"));
    }

    void removingTheSelectedItemSelectsTheNext()
    {
        ListView list;
        list.addColumn(QStringLiteral("URL(s)"));
        for (const char* text : {"a", "b", "c"})
            list.add(QString::fromLatin1(text));
        list.select(2);
        QCOMPARE(list.selectedItem()->text, QStringLiteral("b"));
        list.remove(2);
        QCOMPARE(list.selectedItem()->position, 2);
        QCOMPARE(list.selectedItem()->text, QStringLiteral("c"));
        list.remove(2);
        QCOMPARE(list.selectedItem()->position, 1);
        QCOMPARE(list.selectedItem()->text, QStringLiteral("a"));
    }

    void keysReportTheirKeyCodeWithShiftState_data()
    {
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("shift");
        QTest::newRow("Delete") << Qt::Key_Delete << Qt::KeyboardModifiers() << 46 << 0;
        QTest::newRow("Shift+Delete") << Qt::Key_Delete << Qt::KeyboardModifiers(Qt::ShiftModifier) << 46 << 1;
        QTest::newRow("Ctrl+Alt+Delete") << Qt::Key_Delete
                                         << Qt::KeyboardModifiers(Qt::ControlModifier | Qt::AltModifier) << 46 << 6;
        QTest::newRow("Delete on the keypad, Num Lock off")
            << Qt::Key_Delete << Qt::KeyboardModifiers(Qt::KeypadModifier) << 46 << 0;
        // Qt's own code for the full stop is 46: it must not read as Delete.
        QTest::newRow("full stop") << Qt::Key_Period << Qt::KeyboardModifiers() << 190 << 0;
        QTest::newRow("full stop on the keypad, Num Lock on")
            << Qt::Key_Period << Qt::KeyboardModifiers(Qt::KeypadModifier) << 110 << 0;
        QTest::newRow("Backspace") << Qt::Key_Backspace << Qt::KeyboardModifiers() << 8 << 0;
        QTest::newRow("letter") << Qt::Key_A << Qt::KeyboardModifiers() << 65 << 0;
        QTest::newRow("keypad digit") << Qt::Key_5 << Qt::KeyboardModifiers(Qt::KeypadModifier) << 101 << 0;
    }
    void keysReportTheirKeyCodeWithShiftState()
    {
        QFETCH(Qt::Key, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(int, code);
        QFETCH(int, shift);
        ListView list;
        QSignalSpy keys(&list, &ListView::keyDown);
        QTest::keyClick(&list, key, modifiers);
        // Modifier keys arrive as key downs of their own first, as on the desktop.
        QVERIFY(!keys.isEmpty());
        QCOMPARE(keys.last().at(0).toInt(), code);
        QCOMPARE(keys.last().at(1).toInt(), shift);
    }

    void doubleClickDeliversOneClickThenTheDoubleClick()
    {
        ListView list;
        list.addColumn(QStringLiteral("URL(s)"));
        list.add(u"a");
        list.model().catchUp();
        list.resize(300, 200);
        QStringList events;
        connect(&list, &ListView::click, [&] { events << "click"; });
        connect(&list, &ListView::doubleClick, [&] { events << "double click"; });
        const QPoint onItem = list.visualRect(list.model().index(0, 0)).center();
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, onItem);
        QCOMPARE(events, QStringList{"click"});
        events.clear();
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, onItem);
        QCOMPARE(events, (QStringList{"double click"}));
    }

    void columnWidthNeedsTheColumn()
    {
        ListView list;
        QVERIFY_THROWS_EXCEPTION(Failure, list.setColumnWidthTwips(1, 7000));
        list.addColumn(QStringLiteral("URL(s)"));
        list.setColumnWidthTwips(1, 7000);
        QCOMPARE(list.columnWidth(0), 467);
    }

    // A single line of many megabytes stays whole for the program, while its
    // row shows a bounded start of it: hovering, scrolling and selecting with
    // it on screen keep the window live.
    void aHugeItemKeepsTheListLive()
    {
        const QString huge = QStringLiteral("http://a.example/") + QString(20'000'000, u'x');
        ListView list;
        list.addColumn(QStringLiteral("URL(s)"));
        list.resize(520, 138);
        for (int i = 1; i <= 20; ++i)
            list.add(i == 2 ? QStringView(huge) : QStringView(QStringLiteral("http://127.0.0.1/%1").arg(i)));
        list.model().catchUp();
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));

        StallMeter meter;
        meter.start();
        hoverSelectAndScroll(list, 3);
        const qint64 longest = meter.stop();
        QVERIFY2(longest < 1000, qPrintable(QStringLiteral("the list stalled for %1 ms").arg(longest)));

        QCOMPARE(list.text(2), huge);
        const QString shown = list.model().data(list.model().index(1, 0), Qt::DisplayRole).toString();
        QVERIFY(shown.size() < 10000);
        QVERIFY(huge.startsWith(shown.chopped(1)));
    }

    // The shown start of a long text never ends inside a character.
    void aLongItemIsShownCutAtACharacter()
    {
        ListView list;
        list.addColumn(QStringLiteral("URL(s)"));
        const QString text = QString(ListItemsModel::ShownBytes - 1, u'a') + QString(100, QChar(0x00FC));
        list.add(text);
        list.model().catchUp();
        const QString shown = list.model().data(list.model().index(0, 0), Qt::DisplayRole).toString();
        QCOMPARE(shown, text.left(ListItemsModel::ShownBytes - 1) + QChar(0x2026));
        QCOMPARE(list.text(1), text);
    }

    void removalsLeaveNoWasteBehind()
    {
        ItemStore store;
        for (int i = 0; i < 10000; ++i)
            store.append(QStringLiteral("http://127.0.0.1/%1").arg(i));
        for (int i = 0; i < 9000; ++i)
            store.removeAt(0);
        QCOMPARE(store.size(), 1000);
        QCOMPARE(store.text(0), QStringLiteral("http://127.0.0.1/9000"));
        QCOMPARE(store.text(999), QStringLiteral("http://127.0.0.1/9999"));
    }
};

QTEST_MAIN(ListViewTest)
#include "tst_listview.moc"
