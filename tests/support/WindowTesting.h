#pragma once

// What the window tests share: a started window on the stand-ins, its lists
// as text and the error report check, besides the files of TestFiles.h.

#include "window/app/ErrorReport.h"
#include "window/app/Form1.h"
#include "TestFiles.h"
#include "TestPlatform.h"

#include <QLineEdit>
#include <QTest>

// The window after Form_Load, with the pause field set when one is given.
struct TestWindow {
    TestPlatform test;
    Form1 form{test.platform()};
    explicit TestWindow(const QString& pause = {})
    {
        form.Form_Load();
        if (!pause.isNull())
            form.Text1->setText(pause);
    }
    ScriptedDialogs& dialogs() { return test.dialogs; }
    // The scripted transfer control the window made at start-up.
    ScriptedTransferControl& transfer() { return *test.transfer; }
};

inline QStringList itemsOf(const ListView& list)
{
    QStringList items;
    for (int position = 1; position <= list.count(); ++position)
        items << list.text(position);
    return items;
}

inline void fill(ListView& list, const QStringList& items)
{
    for (const QString& item : items)
        list.add(item);
}

// The error report of a failure in `where` ("Form1.PushButton3_Click",
// "Valid.CheckURL") at a step, whatever the platform's own description of it.
inline bool isReport(const ShownBox& box, const QString& where, int step)
{
    return box.title == ErrorReport::Title && box.icon == Dialogs::Icon::Warning
        && box.text.contains(QStringLiteral("\r\nin Orrinth2021/08/31.") + where + QStringLiteral(" at line ")
                             + QString::number(step) + QStringLiteral("\r\r"));
}
