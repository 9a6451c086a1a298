// Saving a result list: the bytes written, the overwrite question, the files
// that cannot be written, a failing disk, what runs while a save lets events
// through, and tessaly-check's result files, the same bytes.

#include "AsNobody.h"
#include "LoopbackServer.h"
#include "WindowTesting.h"

#include "window/app/Globals.h"
#include "engine/lists/ListFormat.h"
#include "window/lists/ListFiles.h"
#include "engine/lists/FileChannel.h"
#include "engine/transfer/CurlTransfer.h"
#include "InjectedFileFaults.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
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

enum class DuringSave { Load, SecondSave, ClearAndRefill, WindowCloses };
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
    struct stat link {}, file {};
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

bool changeOwner(const QString& path, uid_t owner)
{
    return ::chown(QFile::encodeName(path).constData(), owner, owner) == 0;
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

// Gives the folder and everything below it to "nobody", as if that user had
// made them.
bool giveToNobody(const QString& folder)
{
    if (!changeOwner(folder, NobodyId))
        return false;
    QDirIterator below(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDirIterator::Subdirectories);
    while (below.hasNext())
        if (!changeOwner(below.next(), NobodyId))
            return false;
    return true;
}

}  // namespace

class SaveTest : public QObject {
    Q_OBJECT

private slots:
    void writesEachItemAndCrLf_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty list: 0 bytes") << QStringList{} << QByteArray("");
        QTest::newRow("blanks and an empty item kept") << QStringList{" a ", "", "b\t"} << QByteArray(" a \r\n\r\nb\t\r\n");
        QTest::newRow("UTF-8, no byte-order mark") << QStringList{u"caf\u00e9"_qs, u"\u4f8b"_qs}
                                                   << QByteArray("caf\xC3\xA9\r\n\xE4\xBE\x8B\r\n");
    }
    // A new name, typed without an extension: written as typed, no question.
    void writesEachItemAndCrLf()
    {
        QFETCH(QStringList, items);
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        TestWindow window;
        fill(*window.form.ListView2, items);
        window.test.commonDialog.expectChoice({dir.filePath(QStringLiteral("results"))});
        window.form.PushButton6_Click();
        QVERIFY(window.dialogs().shown.isEmpty());
        QCOMPARE(filesIn(dir), QStringList{"results"});
        QCOMPARE(readBytes(dir.filePath(QStringLiteral("results"))), bytes);
        QCOMPARE(window.form.MousePointer(), Form1::PointerStandard);
    }

    void eachButtonSavesItsOwnList_data()
    {
        QTest::addColumn<bool>("invalidList");
        QTest::newRow("valid list, PushButton6") << false;
        QTest::newRow("invalid list, PushButton1") << true;
    }
    void eachButtonSavesItsOwnList()
    {
        QFETCH(bool, invalidList);
        QTemporaryDir dir;
        TestWindow window;
        fill(*window.form.ListView1, {"url"});
        fill(*window.form.ListView2, {"valid"});
        fill(*window.form.ListView3, {"invalid"});
        const QString path = dir.filePath(QStringLiteral("out.txt"));
        window.test.commonDialog.setFileName(QStringLiteral("left over"));
        window.test.commonDialog.expectChoice({path});
        invalidList ? window.form.PushButton1_Click() : window.form.PushButton6_Click();
        QCOMPARE(readBytes(path), invalidList ? QByteArray("invalid\r\n") : QByteArray("valid\r\n"));
        const ScriptedCommonDialog::Shown& shown = window.test.commonDialog.shown.value(0);
        QVERIFY(shown.save);
        QCOMPARE(shown.fileName, "");
        QCOMPARE(shown.flags, 2621953);
        QCOMPARE(shown.title, "Save");
        QCOMPARE(shown.filter, "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");
    }

    void cancelWritesNothingAndAsksNothing()
    {
        QTemporaryDir dir;
        TestWindow window;
        fill(*window.form.ListView2, {"a"});
        window.test.commonDialog.expectChoice({});
        window.form.PushButton6_Click();
        QVERIFY(window.dialogs().shown.isEmpty());
        QVERIFY(filesIn(dir).isEmpty());
    }

    void overwriteQuestion_data()
    {
        QTest::addColumn<Dialogs::Answer>("answer");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("No leaves the file") << Dialogs::Answer::No << QStringList{"new"} << QByteArray("old\r\nfile\r\n");
        QTest::newRow("Yes replaces it all") << Dialogs::Answer::Yes << QStringList{"new"} << QByteArray("new\r\n");
        QTest::newRow("Yes with an empty list") << Dialogs::Answer::Yes << QStringList{} << QByteArray("");
    }
    void overwriteQuestion()
    {
        QFETCH(Dialogs::Answer, answer);
        QFETCH(QStringList, items);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        TestWindow window;
        const QString path = dir.filePath(QStringLiteral("old.txt"));
        QVERIFY(writeBytes(path, "old\r\nfile\r\n"));
        fill(*window.form.ListView3, items);
        window.test.commonDialog.expectChoice({path});
        window.dialogs().expectMessage(answer);
        window.form.PushButton1_Click();
        QCOMPARE(window.dialogs().shown.size(), 1);
        const ShownBox& question = window.dialogs().shown.front();
        QCOMPARE(question.text, QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?"));
        QCOMPARE(question.buttons, Dialogs::Buttons::YesNo);
        QCOMPARE(question.icon, Dialogs::Icon::None);
        QCOMPARE(question.title, "Tessaly");
        QCOMPARE(readBytes(path), after);
        QCOMPARE(filesIn(dir), QStringList{"old.txt"});
    }

    void cannotOpenIsReportedOnce_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("a folder in the file's place") << "folder";
        // Saving over a pipe would block, or put a regular file in its place.
        QTest::newRow("a pipe in the file's place") << "pipe";
        QTest::newRow("a path through a regular file") << "plain.txt/out.txt";
        QTest::newRow("a folder that does not exist") << "missing/out.txt";
        QTest::newRow("a read-only file") << "read-only.txt";
        QTest::newRow("a folder without write access") << "locked/out.txt";
    }
    // The save runs as "nobody" when the suite is root, whom permission bits
    // do not stop, in a folder that user owns.
    void cannotOpenIsReportedOnce()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("folder")) && QDir(dir.path()).mkpath(QStringLiteral("locked")));
        QVERIFY(!makeFifo(dir, QStringLiteral("pipe")).isEmpty());
        for (const char* file : {"plain.txt", "read-only.txt", "locked/old.txt"})
            QVERIFY(writeBytes(dir.filePath(QLatin1String(file)), "old\r\n"));
        if (runsAsRoot())
            QVERIFY(giveToNobody(dir.path()));
        QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("read-only.txt")), QFileDevice::ReadOwner));
        QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("locked")),
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const QStringList before = filesIn(dir);
        const QString path = dir.filePath(name);
        const bool exists = Globals::FileExists(path);

        const QString failure = runAsNobody([&]() -> QString {
            TestWindow window;
            fill(*window.form.ListView2, {"a", "b"});
            window.test.commonDialog.expectChoice({path});
            if (exists)
                window.dialogs().expectMessage(Dialogs::Answer::Yes);
            window.dialogs().expectMessage();
            window.form.PushButton6_Click();
            const QList<ShownBox>& shown = window.dialogs().shown;
            if (!window.dialogs().scriptDone() || shown.isEmpty()
                || !isReport(shown.last(), "Form1.PushButton6_Click", 130))
                return QStringLiteral("not one report at step 130 but: ") + window.dialogs().texts().join(u'|');
            if (window.form.MousePointer() != Form1::PointerStandard)
                return QStringLiteral("the pointer stayed busy");
            if (window.form.fileChannel.isOpen())
                return QStringLiteral("the file stayed open");
            return {};
        });
        QCOMPARE(failure, QString());
        QCOMPARE(filesIn(dir), before);
        QVERIFY(isFifo(dir.filePath(QStringLiteral("pipe"))));
        QCOMPARE(readBytes(dir.filePath(QStringLiteral("read-only.txt"))), "old\r\n");
        QCOMPARE(readBytes(dir.filePath(QStringLiteral("locked/old.txt"))), "old\r\n");
        QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("locked")), QFileDevice::ReadOwner
                                          | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }

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
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                          | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther
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
        QTest::newRow("a short list's one block, sent at the close")
            << true << 10 << FailingBlock::First << 140 << false;
        QTest::newRow("the process's file-size limit part-way")
            << false << 20000 << FailingBlock::PartWay << 136 << false;
        QTest::newRow("the file-size limit at the last block") << false << 20000 << FailingBlock::Last << 140 << false;
        // A file with another name is written over at the close.
        QTest::newRow("written over: a full disk part-way puts the old bytes back")
            << true << 20000 << FailingBlock::PartWay << 140 << true;
        QTest::newRow("written over: a full disk at the last block")
            << true << 20000 << FailingBlock::Last << 140 << true;
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
        const qint64 room = failing == FailingBlock::First ? 0
            : failing == FailingBlock::PartWay             ? 2 * FileChannel::WriteBlockBytes + 100
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

    void whileSaving_data()
    {
        QTest::addColumn<DuringSave>("during");
        QTest::newRow("a load finds the channel taken") << DuringSave::Load;
        QTest::newRow("a second save finds the channel taken") << DuringSave::SecondSave;
        QTest::newRow("the list is cleared and refilled") << DuringSave::ClearAndRefill;
        QTest::newRow("the window closes") << DuringSave::WindowCloses;
    }
    // What the save lets run before its first line.
    void whileSaving()
    {
        QFETCH(DuringSave, during);
        QTemporaryDir dir;
        TestWindow window;
        Form1& form = window.form;
        fill(*form.ListView2, {"a", "b", "c"});
        fill(*form.ListView3, {"other"});
        const QString path = dir.filePath(QStringLiteral("results.txt"));
        const QString other = dir.filePath(QStringLiteral("other.txt"));
        QVERIFY(writeBytes(path, "old\r\n"));
        window.test.commonDialog.expectChoice({path});
        window.dialogs().expectMessage(Dialogs::Answer::Yes);

        std::function<void()> meanwhile;
        switch (during) {
        case DuringSave::Load:
            window.test.commonDialog.expectChoice({path});
            window.dialogs().expectMessage();
            meanwhile = [&] { form.PushButton3_Click(); };
            break;
        case DuringSave::SecondSave:
            window.test.commonDialog.expectChoice({other});
            window.dialogs().expectMessage();
            meanwhile = [&] { form.PushButton1_Click(); };
            break;
        case DuringSave::ClearAndRefill:
            meanwhile = [&] {
                form.PushButton9_Click();
                fill(*form.ListView2, {"x", "y"});
            };
            break;
        case DuringSave::WindowCloses:
            // The real exit never returns; here the save goes on and finds
            // its channel gone.
            window.dialogs().expectMessage();
            meanwhile = [&] { form.Form_Unload(); };
            break;
        }
        QMetaObject::invokeMethod(&form, meanwhile, Qt::QueuedConnection);
        form.PushButton6_Click();

        QVERIFY(window.dialogs().scriptDone());
        const QList<ShownBox>& shown = window.dialogs().shown;
        QCOMPARE(form.MousePointer(), Form1::PointerStandard);
        QVERIFY(!form.fileChannel.isOpen());
        switch (during) {
        case DuringSave::Load:
            QVERIFY(isReport(shown.last(), "Form1.PushButton3_Click", 118));
            QVERIFY(shown.last().text.startsWith(QStringLiteral("File already open\r\n")));
            QCOMPARE(form.ListView1->count(), 0);
            QCOMPARE(readBytes(path), "a\r\nb\r\nc\r\n");
            break;
        case DuringSave::SecondSave:
            QVERIFY(isReport(shown.last(), "Form1.PushButton1_Click", 130));
            QCOMPARE(readBytes(path), "a\r\nb\r\nc\r\n");
            QCOMPARE(filesIn(dir), QStringList{"results.txt"});
            break;
        case DuringSave::ClearAndRefill:
            QCOMPARE(readBytes(path), "x\r\ny\r\n");
            break;
        case DuringSave::WindowCloses:
            QCOMPARE(window.test.exit.exits, 1);
            QVERIFY(isReport(shown.last(), "Form1.PushButton6_Click", 136));
            QCOMPARE(readBytes(path), "old\r\n");
            QCOMPARE(filesIn(dir), QStringList{"results.txt"});
            break;
        }
    }

    void savedListLoadsBackTheSame()
    {
        QTemporaryDir dir;
        TestWindow window;
        const QStringList items{"http://www.example.org/", " padded ", "", u"caf\u00e9"_qs, "last"};
        fill(*window.form.ListView2, items);
        const QString path = dir.filePath(QStringLiteral("round.txt"));
        window.test.commonDialog.expectChoice({path});
        window.test.commonDialog.expectChoice({path});
        window.form.PushButton6_Click();
        window.form.PushButton3_Click();
        QCOMPARE(itemsOf(*window.form.ListView1), items);
    }

    // The same list file, through the window's load, check run and two saves,
    // and through the command: the same bytes.
    void commandWritesTheWindowsSaves()
    {
        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        // curl sends what is not ASCII percent-encoded.
        server.route("/caf%c3%a9", LoopbackServer::answer("HTTP/1.1 200 OK"));
        const QByteArray base = server.url("").toUtf8();
        const QByteArray refused = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::refusedPort()).toUtf8();
        // A byte-order mark, mixed line ends, an empty line, a byte that is
        // not UTF-8 (so the file is read as Windows-1252), unusable addresses.
        TestFolder dir;
        const QString list = dir.file("list.txt", "\xEF\xBB\xBF" + base + "/ok\r\n" + base + "/gone\r\n\r\n" + base
                                                      + "/caf\xE9\n" + refused + "\r" + "ftp://x/\r\n " + base + "/ok");
        QProcess command;
        command.start(QStringLiteral(TESSALY_BINARY_DIR "/src/tessaly-check"),
                      {"--jobs", "3", "--valid", dir.filePath("valid"), "--invalid", dir.filePath("invalid"), list});
        QVERIFY(command.waitForFinished(60000));
        QCOMPARE(command.exitCode(), 1);

        TestPlatform test;
        test.platform().makeTransferControl = [] {
            return std::make_unique<CurlTransfer>(CurlTransfer::Options{std::chrono::milliseconds(5000), false, {}});
        };
        Form1 form(test.platform());
        form.Form_Load();
        form.Text1->setText(QStringLiteral("0"));
        test.commonDialog.expectChoice({list});
        form.PushButton3_Click();
        test.dialogs.expectMessages(3);  // the unusable addresses' reports, "Done."
        form.PushButton4_Click();
        test.commonDialog.expectChoice({dir.filePath("window valid")});
        form.PushButton6_Click();
        test.commonDialog.expectChoice({dir.filePath("window invalid")});
        form.PushButton1_Click();

        QCOMPARE(readBytes(dir.filePath("valid")), readBytes(dir.filePath("window valid")));
        QCOMPARE(readBytes(dir.filePath("invalid")), readBytes(dir.filePath("window invalid")));
        QCOMPARE(readBytes(dir.filePath("valid")), base + "/ok\r\n" + base + "/caf\xC3\xA9\r\n");
    }
};

QTEST_MAIN(SaveTest)
#include "tst_save.moc"
