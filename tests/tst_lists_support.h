#pragma once

// What the list, load and save tests share: a window on the stand-ins, and
// files written and read byte for byte.

#include "app/ErrorReport.h"
#include "app/Form1.h"
#include "lists/ListFiles.h"
#include "platform/testing/TestPlatform.h"

#include <QFile>
#include <QTest>

#include <unistd.h>

struct TestWindow {
    TestPlatform test;
    Form1 form{test.platform()};
    TestWindow() { form.Form_Load(); }
    ScriptedDialogs& dialogs() { return test.dialogs; }
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

inline bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// The error report of a handler of the window at a step, whatever the
// platform's own description of the failure.
inline bool isReport(const ShownBox& box, const QString& handler, int step)
{
    return box.title == ErrorReport::Title && box.icon == Dialogs::Icon::Warning
        && box.text.contains(QStringLiteral("\r\n") + ListFiles::Location + handler + QStringLiteral(" at line ")
                             + QString::number(step) + QStringLiteral("\r\r"));
}

// Permission bits do not stop root; those cases run only for other users.
inline bool runsAsRoot()
{
    return ::geteuid() == 0;
}
