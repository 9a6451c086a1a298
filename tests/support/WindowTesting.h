#pragma once

// What the window tests share: a started window on the stand-ins or on curl,
// its lists as text and the error report check, besides the files of
// TestFiles.h.

#include "window/app/ErrorReport.h"
#include "window/app/Form1.h"
#include "engine/transfer/QtLoopTransfer.h"
#include "TestFiles.h"
#include "TestPlatform.h"

#include <QLineEdit>
#include <QTest>

#include <chrono>
#include <functional>
#include <memory>

// The window after Form_Load, with the pause field set when one is given,
// on the transfer control `makeTransfer` makes, or on the scripted one.
struct TestWindow {
    using MakeTransfer = std::function<std::unique_ptr<TransferControl>()>;
    TestPlatform test;
    Form1 form;
    explicit TestWindow(const QString& pause = {}, const MakeTransfer& makeTransfer = {})
        : form(withTransfer(test, makeTransfer))
    {
        form.Form_Load();
        if (!pause.isNull())
            form.Text1->setText(pause);
    }
    ScriptedDialogs& dialogs() { return test.dialogs; }
    // The scripted transfer control the window made at start-up.
    ScriptedTransferControl& transfer() { return *test.transfer; }

private:
    static Platform& withTransfer(TestPlatform& test, const MakeTransfer& makeTransfer)
    {
        if (makeTransfer)
            test.platform().makeTransferControl = makeTransfer;
        return test.platform();
    }
};

// The real curl transfer, reaching the loopback servers directly.
inline TestWindow::MakeTransfer curlTransfer(std::chrono::milliseconds timeout)
{
    return [timeout] { return std::make_unique<QtLoopTransfer>(QtLoopTransfer::Options{timeout, false, {}}); };
}

// The time-out of a run through curl among misbehaving servers, and the
// longest the window may stall meanwhile: a wait that held the event loop
// would stall it for the whole time-out, and half of that leaves room for a
// loaded machine, where the first https connection (curl reading the
// system's certificate bundle) alone can take 250 ms.
inline constexpr auto HostileTimeout = std::chrono::milliseconds(1000);
inline constexpr qint64 StallLimitMilliseconds = HostileTimeout.count() / 2;

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
