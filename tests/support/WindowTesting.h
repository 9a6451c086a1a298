#pragma once

// What the window tests share: a started window on the stand-ins, its lists
// as text, files written and read byte for byte, and the error report check.

#include "window/app/ErrorReport.h"
#include "window/app/Form1.h"
#include "TestPlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

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

// Makes the folder too, so a test can name a file anywhere below its own.
inline bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// A temporary folder whose files a test writes byte for byte.
struct TestFolder : QTemporaryDir {
    QString file(const QString& name, const QByteArray& bytes)
    {
        const QString path = filePath(name);
        [&] { QVERIFY(writeBytes(path, bytes)); }();
        return path;
    }
};

// Everything in a folder, hidden and special files too.
inline QStringList filesIn(const QTemporaryDir& dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// The error report of a failure in `where` ("Form1.PushButton3_Click",
// "Valid.CheckURL") at a step, whatever the platform's own description of it.
inline bool isReport(const ShownBox& box, const QString& where, int step)
{
    return box.title == ErrorReport::Title && box.icon == Dialogs::Icon::Warning
        && box.text.contains(QStringLiteral("\r\nin Orrinth2021/08/31.") + where + QStringLiteral(" at line ")
                             + QString::number(step) + QStringLiteral("\r\r"));
}

// Permission bits do not stop root; those cases run only for other users.
inline bool runsAsRoot()
{
    return ::geteuid() == 0;
}

inline bool isFifo(const QString& path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISFIFO(status.st_mode);
}

// A pipe with nobody at its other end: opening it would wait for the other
// side for ever.
inline QString makeFifo(const QTemporaryDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
}
