// Saving over a file that is there: what the file was besides its bytes
// stays, and a disk that fails part-way leaves the old file as it was.

#include "AsNobody.h"
#include "WindowTesting.h"

#include "engine/lists/ListFormat.h"
#include "engine/lists/FileChannel.h"
#include "InjectedFileFaults.h"

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>

#include <sys/resource.h>
#include <sys/xattr.h>

namespace {
// Writes the UTF-8 texts, one line each, as the whole content of the file at
// the path, byte for byte as the save buttons write a list. The file is
// replaced only once every line is out and stays the file it was (see
// FileChannel); a failure raises Failure and leaves it as it was.
template <class Utf8Lines>
void writeListFile(const QString& path, const Utf8Lines& lines)
{
    FileChannel channel;
    channel.openForWriting(path);
    for (const auto& line : lines)
        ListFormat::writeLine(channel, QByteArrayView(line));
    channel.close();
}

// Which block of a save the disk refuses.
enum class FailingBlock { First, PartWay, Last };
// What the file saved over is besides its bytes.
enum class Existing { HardLinked, SymbolicLink, OwnedByAnother, Attributes, InLockedFolder, OthersInSharedFolder };

// Everything a save must leave as it was, as text: the kind of the name (a
// link stays a link), and the owner, group, mode, link count and extended
// attributes of the file it leads to.
QString identityOf(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat link {
    }, file{};
    if (::lstat(name.constData(), &link) != 0 || ::stat(name.constData(), &file) != 0)
        return QStringLiteral("missing");
    QString identity = QStringLiteral("kind %1 owner %2:%3 mode %4 links %5")
                           .arg(link.st_mode & S_IFMT, 0, 8)
                           .arg(file.st_uid)
                           .arg(file.st_gid)
                           .arg(file.st_mode, 0, 8)
                           .arg(file.st_nlink);
    QByteArray names(4096, '\0');
    names.truncate(std::max<ssize_t>(::listxattr(name.constData(), names.data(), names.size()), 0));
    QByteArrayList sorted = names.split('\0');
    std::sort(sorted.begin(), sorted.end());
    for (const QByteArray& attribute : sorted) {
        QByteArray value(4096, '\0');
        value.truncate(std::max<ssize_t>(::getxattr(name.constData(), attribute.constData(), value.data(), value.size()), 0));
        if (!attribute.isEmpty())
            identity += u' ' + QString::fromLatin1(attribute) + u'=' + QString::fromLatin1(value.toHex());
    }
    return identity;
}

// An access ACL in the kernel's form: the owner reads and writes, user
// `reader` and the group read, others nothing.
QByteArray aclGrantingRead(uid_t reader)
{
    struct Entry {
        quint16 tag, permissions;
        quint32 id;
    };
    constexpr quint32 Anyone = 0xFFFFFFFF;
    const Entry entries[] = {{0x01, 6, Anyone}, {0x02, 4, reader}, {0x04, 4, Anyone}, {0x10, 4, Anyone}, {0x20, 0, Anyone}};
    const quint32 version = 2;
    return QByteArray(reinterpret_cast<const char*>(&version), sizeof version)
         + QByteArray(reinterpret_cast<const char*>(entries), sizeof entries);
}

bool setAttribute(const QString& path, const char* name, const QByteArray& value)
{
    return ::setxattr(QFile::encodeName(path).constData(), name, value.constData(), value.size(), 0) == 0;
}

// Writes the lines to the path. Gives the failure's text, or an empty one
// when the file was written.
QString save(const QString& path, const QByteArrayList& lines)
{
    try {
        writeListFile(path, lines);
        return {};
    } catch (const Failure& failure) {
        return failure.description();
    }
}
}  // namespace

class SaveOverTest : public QObject {
    Q_OBJECT

private slots:
    void saveKeepsWhatTheFileWas_data()
    {
        QTest::addColumn<Existing>("existing");
        QTest::newRow("a hard-linked file: both names see the new content") << Existing::HardLinked;
        QTest::newRow("a symbolic link: its target is written") << Existing::SymbolicLink;
        QTest::newRow("another user's file, saved by root") << Existing::OwnedByAnother;
        QTest::newRow("extended attributes and an ACL") << Existing::Attributes;
        QTest::newRow("a writable file in a folder without write access") << Existing::InLockedFolder;
        QTest::newRow("root's file in a folder all may write, saved by another") << Existing::OthersInSharedFolder;
    }
    // Saving over a file replaces its content and nothing else. The cases of
    // other users run as a real other user, root included.
    void saveKeepsWhatTheFileWas()
    {
        QFETCH(Existing, existing);
        const bool asNobody = existing == Existing::InLockedFolder || existing == Existing::OthersInSharedFolder;
        if ((asNobody || existing == Existing::OwnedByAnother) && !runsAsRoot())
            QSKIP("giving files to other users takes root");
        QTemporaryDir dir;
        // Others may pass through the folder; only in the shared case write in it.
        const bool shared = existing == Existing::OthersInSharedFolder;
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                      | QFileDevice::ReadOther | QFileDevice::ExeOther
                                                      | (shared ? QFileDevice::WriteOther : QFileDevice::Permissions())));
        const QString file = dir.filePath(QStringLiteral("results.txt"));
        QString saved = file;
        // Longer than the new content, which must not keep its tail.
        QVERIFY(writeBytes(file, "the old content\r\n"));
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                                | QFileDevice::ReadOther | QFileDevice::WriteOther));
        const QString otherName = dir.filePath(QStringLiteral("other name.txt"));
        switch (existing) {
        case Existing::HardLinked:
            QCOMPARE(::link(QFile::encodeName(file).constData(), QFile::encodeName(otherName).constData()), 0);
            break;
        case Existing::SymbolicLink:
            QVERIFY(QFile::link(QStringLiteral("results.txt"), otherName));
            saved = otherName;
            break;
        case Existing::OwnedByAnother:
            QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
            QVERIFY(changeOwner(file, NobodyId));
            break;
        case Existing::Attributes:
            QVERIFY(setAttribute(file, "user.origin", "checked list"));
            QVERIFY(setAttribute(file, "system.posix_acl_access", aclGrantingRead(NobodyId)));
            break;
        case Existing::InLockedFolder:
            QVERIFY(changeOwner(file, NobodyId));
            break;
        case Existing::OthersInSharedFolder:
            break;
        }
        const QString before = identityOf(saved);
        const QStringList names = filesIn(dir);

        const QByteArrayList lines{"new", ""};
        QCOMPARE(asNobody ? runAsNobody([&] { return save(saved, lines); }) : save(saved, lines), QString());

        QCOMPARE(readBytes(file), "new\r\n\r\n");
        QCOMPARE(identityOf(saved), before);
        QCOMPARE(filesIn(dir), names);
        if (existing == Existing::HardLinked)
            QCOMPARE(readBytes(otherName), "new\r\n\r\n");
    }

    void writeFailingPartWayKeepsTheOldFile_data()
    {
        QTest::addColumn<bool>("injected");
        QTest::addColumn<int>("items");
        QTest::addColumn<FailingBlock>("failing");
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("hardLinked");
        QTest::newRow("a full disk part-way, injected") << true << 20000 << FailingBlock::PartWay << 136 << false;
        QTest::newRow("a full disk at the first block") << true << 20000 << FailingBlock::First << 136 << false;
        QTest::newRow("a full disk at the last block, sent at the close")
            << true << 20000 << FailingBlock::Last << 140 << false;
        QTest::newRow("a short list's one block, sent at the close") << true << 10 << FailingBlock::First << 140 << false;
        QTest::newRow("the process's file-size limit part-way") << false << 20000 << FailingBlock::PartWay << 136 << false;
        QTest::newRow("the file-size limit at the last block") << false << 20000 << FailingBlock::Last << 140 << false;
        // A file with another name is written over at the close.
        QTest::newRow("written over: a full disk part-way puts the old bytes back")
            << true << 20000 << FailingBlock::PartWay << 140 << true;
        QTest::newRow("written over: a full disk at the last block") << true << 20000 << FailingBlock::Last << 140 << true;
        QTest::newRow("written over: the file-size limit leaves the file untouched")
            << false << 20000 << FailingBlock::PartWay << 140 << true;
    }
    // The disk refuses a block part-way: one report, and the old file is as
    // it was, with nothing left beside it.
    void writeFailingPartWayKeepsTheOldFile()
    {
        QFETCH(bool, injected);
        QFETCH(int, items);
        QFETCH(FailingBlock, failing);
        QFETCH(int, step);
        QFETCH(bool, hardLinked);
        QTemporaryDir dir;
        TestWindow window;
        qint64 bytes = 0;
        for (int i = 0; i < items; ++i) {
            const QString item = QStringLiteral("http://www.example.org/page/%1").arg(i);
            window.form.ListView2->add(item);
            bytes += item.size() + 2;
        }
        // The disk takes this much and refuses the block that goes past it.
        const qint64 room = failing == FailingBlock::First   ? 0
                          : failing == FailingBlock::PartWay ? 2 * FileChannel::WriteBlockBytes + 100
                                                             : bytes - 100;
        InjectedFileFaults faults;
        faults.failWritesPast(room);
        if (injected)
            window.form.fileChannel.setFaults(&faults);
        const QString path = dir.filePath(QStringLiteral("results.txt"));
        const QString otherName = dir.filePath(QStringLiteral("other name.txt"));
        QVERIFY(writeBytes(path, "old\r\n"));
        if (hardLinked)
            QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(otherName).constData()), 0);
        const QStringList names = filesIn(dir);
        window.test.commonDialog.expectChoice({path});
        window.dialogs().expectMessage(Dialogs::Answer::Yes);
        window.dialogs().expectMessage();
        {
            // A limit that binds root too; the write past it fails with EFBIG.
            rlimit saved{};
            QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
            rlimit limited = saved;
            if (!injected)
                limited.rlim_cur = static_cast<rlim_t>(room);
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
            window.form.PushButton6_Click();
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &saved), 0);
        }
        QCOMPARE(window.dialogs().shown.size(), 2);
        QVERIFY(isReport(window.dialogs().shown.last(), "Form1.PushButton6_Click", step));
        if (injected) {
            QVERIFY(window.dialogs().shown.last().text.startsWith(QStringLiteral("No space left on device\r\n")));
            QCOMPARE(faults.refused, 1);
            QVERIFY(faults.written <= room && faults.written > room - FileChannel::WriteBlockBytes);
        }
        QCOMPARE(readBytes(path), "old\r\n");
        QCOMPARE(filesIn(dir), names);
        if (hardLinked)
            QCOMPARE(readBytes(otherName), "old\r\n");
        QCOMPARE(window.form.MousePointer(), Form1::PointerStandard);
        QVERIFY(!window.form.fileChannel.isOpen());
    }
};

QTEST_MAIN(SaveOverTest)
#include "tst_save_over.moc"
