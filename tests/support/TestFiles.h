#pragma once

// Files written and read byte for byte, folders, pipes: what the tests of the
// engine, the command line and the window all use.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

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

// Permission bits do not stop root; those cases run only for other users.
inline bool runsAsRoot() { return ::geteuid() == 0; }

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
