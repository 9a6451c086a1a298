#include "window/lists/ListFiles.h"

#include "window/app/ErrorReport.h"
#include "window/app/Form1.h"

#include <array>

namespace {
const QString AddPrompt = QStringLiteral("Enter website address to add: ");
const QString NoUrlSelected = QStringLiteral("No URL selected above.");

// The web site of a well-known search engine, then another public site.
const std::array<QString, 4> SampleAddresses{
    QStringLiteral("http://www.google.com/"),
    QStringLiteral("http://www.google.com/chuck/"),
    QStringLiteral("http://www.wikipedia.org"),
    QStringLiteral("http://www.wikipedia.org/chuck.htm"),
};

StepTrap trapFor(Form1& form, const char* handler)
{
    return StepTrap(form.platform().dialogs, ErrorReport::Form1Location + QLatin1String(handler) + u' ');
}

// The single-item removals: refused while the window is busy, and a list with
// items but none selected loses nothing.
void removeSelectedItem(const Form1& form, ListView& list)
{
    if (form.isBusy() || list.count() == 0)
        return;
    // The position alone: an item's text can be many megabytes.
    if (const auto position = list.selectedPosition())
        list.remove(*position);
}

void removeOnDelete(const char* handler, const Form1& form, ListView& list, int keyCode)
{
    if (keyCode != ListView::KeyDelete)
        return;
    untrapped(handler, [&] { removeSelectedItem(form, list); });
}
}  // namespace

// The step numbers are the ones the error report shows.
void Form1::PushButton5_Click()
{
    StepTrap trap = trapFor(*this, "PushButton5_Click");
    QString answer;
    trap.step(100, [&] { answer = m_platform.dialogs.inputBox(AddPrompt, {}, {}); });
    if (!trap.opens(102, [&] { return !answer.isEmpty(); }))
        return;
    trap.step(104, [&] { ListView1->add(answer); });
}

void Form1::PushButton8_Click()
{
    StepTrap trap = trapFor(*this, "PushButton8_Click");
    trap.step(100, [&] { ListView1->add(SampleAddresses[0]); });
    trap.step(102, [&] { ListView1->add(SampleAddresses[1]); });
    trap.step(104, [&] { ListView1->add(SampleAddresses[2]); });
    trap.step(106, [&] { ListView1->add(SampleAddresses[3]); });
}

void Form1::PushButton11_Click()
{
    StepTrap trap = trapFor(*this, "PushButton11_Click");
    // One step: the test of the pointer and the clear.
    if (trap.opens(100, [&] { return !isBusy(); }))
        trap.step(100, [&] { ListView1->clear(); });
}

void Form1::PushButton9_Click()
{
    StepTrap trap = trapFor(*this, "PushButton9_Click");
    trap.step(100, [&] { ListView2->clear(); });
}

void Form1::PushButton2_Click()
{
    StepTrap trap = trapFor(*this, "PushButton2_Click");
    trap.step(100, [&] { ListView3->clear(); });
}

// Only the URL list's selection is ever opened. The shell takes the quoted
// text apart itself and opens nothing but a web address.
void Form1::PushButton7_Click()
{
    StepTrap trap = trapFor(*this, "PushButton7_Click");
    if (trap.opens(100, [&] { return ListView1->count() >= 1; })) {
        trap.step(102, [&] {
            const auto selected = ListView1->selectedItem();
            if (!selected)
                throw Failure(QStringLiteral("No item is selected"));
            m_platform.shell.open(u'"' + selected->text + u'"');
        });
    } else {
        trap.step(104, [&] { m_platform.dialogs.messageBox(NoUrlSelected); });
    }
}

void Form1::ListView1_KeyDown(int keyCode, int) { removeOnDelete("ListView1_KeyDown", *this, *ListView1, keyCode); }

void Form1::ListView2_KeyDown(int keyCode, int) { removeOnDelete("ListView2_KeyDown", *this, *ListView2, keyCode); }

void Form1::ListView3_KeyDown(int keyCode, int) { removeOnDelete("ListView3_KeyDown", *this, *ListView3, keyCode); }

void Form1::ListView1_DblClick()
{
    untrapped("ListView1_DblClick", [&] { removeSelectedItem(*this, *ListView1); });
}

void Form1::ListView2_DblClick()
{
    untrapped("ListView2_DblClick", [&] { removeSelectedItem(*this, *ListView2); });
}

// A double click on the invalid list begins with a click, which has already
// removed the item pointed at; removing the selection again would take the
// item that moved up into its place as well.
void Form1::ListView3_DblClick() {}

void Form1::ListView3_Click()
{
    untrapped("ListView3_Click", [&] { removeSelectedItem(*this, *ListView3); });
}
