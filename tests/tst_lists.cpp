// Editing the three lists by hand: adding, the samples, clearing, the single
// removals and opening the selected address.

#include "WindowTesting.h"

#include <QRegularExpression>
#include <QTreeView>
#include <QWindow>

namespace {
enum class Action { DeleteKey, DeleteWithModifiers, OtherKey, DoubleClick, Click };

ListView& listOf(Form1& form, int number)
{
    return *std::array{form.ListView1, form.ListView2, form.ListView3}.at(number - 1);
}

void act(Form1& form, int list, Action action)
{
    using Handler = void (Form1::*)();
    using KeyHandler = void (Form1::*)(int, int);
    const std::array<KeyHandler, 3> keyDown{&Form1::ListView1_KeyDown, &Form1::ListView2_KeyDown, &Form1::ListView3_KeyDown};
    const std::array<Handler, 3> doubleClick{&Form1::ListView1_DblClick, &Form1::ListView2_DblClick,
                                             &Form1::ListView3_DblClick};
    switch (action) {
    case Action::DeleteKey:
        return (form.*keyDown.at(list - 1))(ListView::KeyDelete, 0);
    case Action::DeleteWithModifiers:
        return (form.*keyDown.at(list - 1))(ListView::KeyDelete, ListView::ShiftMask | ListView::CtrlMask | ListView::AltMask);
    case Action::OtherKey:
        return (form.*keyDown.at(list - 1))(Qt::Key_Backspace, 0);
    case Action::DoubleClick:
        return (form.*doubleClick.at(list - 1))();
    case Action::Click:
        QCOMPARE(list, 3);
        return form.ListView3_Click();
    }
}

// Where an item of a shown list sits, in the window's coordinates.
QPoint pointAt(Form1& form, ListView& list, int position)
{
    list.model().catchUp();
    const QRect rect = list.visualRect(list.model().index(position - 1, 0));
    return list.viewport()->mapTo(&form, rect.center());
}
}  // namespace

class ListEditingTest : public QObject {
    Q_OBJECT
private slots:
    void addOneAddress_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("Cancel or nothing typed adds nothing") << "" << QStringList{"a"};
        QTest::newRow("blanks are added unchanged") << "  " << QStringList{"a", "  "};
        QTest::newRow("a duplicate goes to the end") << "a" << QStringList{"a", "a"};
        QTest::newRow("no test of the form") << " not an address " << QStringList{"a", " not an address "};
    }
    void addOneAddress()
    {
        QFETCH(QString, answer);
        TestWindow window;
        window.form.ListView1->add(u"a");
        window.dialogs().expectInput(answer);
        window.form.PushButton5_Click();
        QFETCH(QStringList, items);
        QCOMPARE(itemsOf(*window.form.ListView1), items);
        QCOMPARE(window.dialogs().shown.size(), 1);
        const ShownBox& box = window.dialogs().shown.front();
        QCOMPARE(box.text, "Enter website address to add: ");
        QCOMPARE(box.title, "Tessaly");
        QCOMPARE(box.defaultAnswer, "");
    }

    void samplesAppendTheFourAddressesEachTime()
    {
        TestWindow window;
        window.form.ListView1->add(u"mine");
        window.form.PushButton8_Click();
        window.form.PushButton8_Click();
        const QStringList samples{"http://www.google.com/", "http://www.google.com/chuck/", "http://www.wikipedia.org",
                                  "http://www.wikipedia.org/chuck.htm"};
        QCOMPARE(itemsOf(*window.form.ListView1), QStringList{"mine"} + samples + samples);
    }

    void clearList_data()
    {
        QTest::addColumn<int>("list");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<int>("left");
        QTest::newRow("URL list") << 1 << false << 0;
        QTest::newRow("URL list while busy: refused") << 1 << true << 2;
        QTest::newRow("valid list") << 2 << false << 0;
        QTest::newRow("valid list while busy") << 2 << true << 0;
        QTest::newRow("invalid list while busy") << 3 << true << 0;
    }
    void clearList()
    {
        QFETCH(int, list);
        QFETCH(bool, busy);
        QFETCH(int, left);
        TestWindow window;
        for (int number = 1; number <= 3; ++number)
            fill(listOf(window.form, number), {"a", "b"});
        window.form.setMousePointer(busy ? Form1::PointerBusy : Form1::PointerStandard);
        const std::array<void (Form1::*)(), 3> clear{&Form1::PushButton11_Click, &Form1::PushButton9_Click,
                                                     &Form1::PushButton2_Click};
        (window.form.*clear.at(list - 1))();
        for (int number = 1; number <= 3; ++number)
            QCOMPARE(listOf(window.form, number).count(), number == list ? left : 2);
    }

    void removeSelected_data()
    {
        QTest::addColumn<int>("list");
        QTest::addColumn<Action>("action");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<int>("selected");  // 0: none
        QTest::addColumn<QStringList>("left");
        const QStringList all{"a", "b", "c"};
        QTest::newRow("Delete in the URL list") << 1 << Action::DeleteKey << false << 2 << QStringList{"a", "c"};
        QTest::newRow("Delete whatever the modifiers")
            << 2 << Action::DeleteWithModifiers << false << 1 << QStringList{"b", "c"};
        QTest::newRow("another key is left alone") << 3 << Action::OtherKey << false << 1 << all;
        QTest::newRow("double click in the valid list") << 2 << Action::DoubleClick << false << 3 << QStringList{"a", "b"};
        QTest::newRow("click in the invalid list") << 3 << Action::Click << false << 2 << QStringList{"a", "c"};
        QTest::newRow("nothing selected: nothing removed") << 1 << Action::DeleteKey << false << 0 << all;
        QTest::newRow("nothing selected, click") << 3 << Action::Click << false << 0 << all;
        for (int list = 1; list <= 3; ++list)
            QTest::addRow("Delete while busy, list %d", list) << list << Action::DeleteKey << true << 1 << all;
        for (int list = 1; list <= 2; ++list)
            QTest::addRow("double click while busy, list %d", list) << list << Action::DoubleClick << true << 1 << all;
        // The click that began the double click has removed the item already.
        QTest::newRow("double click in the invalid list removes nothing more")
            << 3 << Action::DoubleClick << false << 2 << all;
        QTest::newRow("click while busy") << 3 << Action::Click << true << 1 << all;
    }
    void removeSelected()
    {
        QFETCH(int, list);
        QFETCH(Action, action);
        QFETCH(bool, busy);
        QFETCH(int, selected);
        QFETCH(QStringList, left);
        TestWindow window;
        for (int number = 1; number <= 3; ++number)
            fill(listOf(window.form, number), {"a", "b", "c"});
        if (selected)
            listOf(window.form, list).select(selected);
        window.form.setMousePointer(busy ? Form1::PointerBusy : Form1::PointerStandard);
        act(window.form, list, action);
        for (int number = 1; number <= 3; ++number)
            QCOMPARE(itemsOf(listOf(window.form, number)), number == list ? left : QStringList({"a", "b", "c"}));
    }

    // The last item removed, the list is empty and nothing is selected: the
    // same action again removes nothing and raises nothing, which the
    // handlers would only log.
    void removalEmptiesTheListQuietly_data()
    {
        QTest::addColumn<int>("list");
        QTest::addColumn<Action>("action");
        QTest::newRow("Delete in the URL list") << 1 << Action::DeleteKey;
        QTest::newRow("double click in the valid list") << 2 << Action::DoubleClick;
        QTest::newRow("click in the invalid list") << 3 << Action::Click;
    }
    void removalEmptiesTheListQuietly()
    {
        QFETCH(int, list);
        QFETCH(Action, action);
        TestWindow window;
        for (int number = 1; number <= 3; ++number)
            fill(listOf(window.form, number), {"a"});
        listOf(window.form, list).select(1);
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        act(window.form, list, action);
        QCOMPARE(listOf(window.form, list).count(), 0);
        QVERIFY(!listOf(window.form, list).selectedItem());
        act(window.form, list, action);
        for (int number = 1; number <= 3; ++number)
            QCOMPARE(listOf(window.form, number).count(), number == list ? 0 : 1);
        QVERIFY(window.dialogs().shown.isEmpty());
    }

    // The real mouse: a double click delivers press, release (a click), press,
    // double click, release.
    void mouseRemovesOnlyTheItemPointedAt_data()
    {
        QTest::addColumn<int>("list");
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("double click, invalid list") << 3 << true << QStringList{"a", "c", "d"};
        QTest::newRow("double click, URL list") << 1 << true << QStringList{"a", "c", "d"};
        QTest::newRow("click, invalid list") << 3 << false << QStringList{"a", "c", "d"};
        QTest::newRow("click, valid list only selects") << 2 << false << QStringList{"a", "b", "c", "d"};
    }
    void mouseRemovesOnlyTheItemPointedAt()
    {
        QFETCH(int, list);
        QFETCH(bool, doubleClick);
        QFETCH(QStringList, left);
        TestWindow window;
        window.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window.form));
        ListView& view = listOf(window.form, list);
        fill(view, {"a", "b", "c", "d"});
        const QPoint point = pointAt(window.form, view, 2);
        if (doubleClick)
            QTest::mouseDClick(window.form.windowHandle(), Qt::LeftButton, {}, point);
        else
            QTest::mouseClick(window.form.windowHandle(), Qt::LeftButton, {}, point);
        QCOMPARE(itemsOf(view), left);
    }

    void openSelected_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("opened");  // empty: nothing opened
        QTest::newRow("web address") << "http://www.wikipedia.org/chuck.htm"
                                     << "http://www.wikipedia.org/chuck.htm";
        QTest::newRow("https, any case") << "HTTPS://www.example.org/a?b=c"
                                         << "https://www.example.org/a?b=c";
        QTest::newRow("bare host reads as http") << "www.example.org"
                                                 << "http://www.example.org";
        QTest::newRow("blanks around") << "  http://www.example.org/  "
                                       << "http://www.example.org/";
        // Local files, javascript:, quotes and line breaks inside web addresses are
        // opened after a check run in tst_hostile_inputs.
        const char* hostile[] = {
            "C:\\Windows\\System32\\calc.exe",
            "\\\\server\\share\\setup.exe",
            "../../bin/sh",
            "mailto:someone@example.org",
            "\" & calc & \"",
            "\"",
            "www.example.org\tcalc",
            "http://www.example.org/\x01",
            "calc",
            "cmd /c calc",
            "-remote openURL(x)",
            "http:///etc/passwd",
            "http://",
            "www.example.org:99999",
            "",
            "   ",
        };
        for (const char* text : hostile)
            QTest::addRow("hostile: %s", QByteArray(text).toPercentEncoding(" /:.\\").constData())
                << QString::fromUtf8(text) << "";
    }
    void openSelected()
    {
        QFETCH(QString, text);
        QFETCH(QString, opened);
        TestWindow window;
        fill(*window.form.ListView1, {"first", text});
        window.form.ListView1->select(2);
        window.form.PushButton7_Click();
        QVERIFY(window.dialogs().shown.isEmpty());  // nothing is reported either way
        if (opened.isEmpty()) {
            QVERIFY(window.test.shell.opened.isEmpty());
        } else {
            QCOMPARE(window.test.shell.opened.size(), 1);
            QCOMPARE(window.test.shell.opened.front().toString(), opened);
        }
    }

    void openWithAnEmptyUrlListSaysSoAndNeverUsesTheOtherLists()
    {
        TestWindow window;
        fill(*window.form.ListView2, {"http://www.example.org/"});
        window.form.ListView2->select(1);
        window.dialogs().expectMessage();
        window.form.PushButton7_Click();
        QCOMPARE(window.dialogs().shown.size(), 1);
        QCOMPARE(window.dialogs().shown.front().text, "No URL selected above.");
        QCOMPARE(window.dialogs().shown.front().title, "Tessaly");
        QCOMPARE(window.dialogs().shown.front().buttons, Dialogs::Buttons::Ok);
        QVERIFY(window.test.shell.opened.isEmpty());
    }

    void openWithNothingSelectedIsReportedAtTheOpeningStep()
    {
        TestWindow window;
        fill(*window.form.ListView1, {"http://www.example.org/"});
        window.dialogs().expectMessage();
        window.form.PushButton7_Click();
        QCOMPARE(window.dialogs().shown.size(), 1);
        QVERIFY(isReport(window.dialogs().shown.front(), "Form1.PushButton7_Click", 102));
        QVERIFY(window.test.shell.opened.isEmpty());
    }
};

QTEST_MAIN(ListEditingTest)
#include "tst_lists.moc"
