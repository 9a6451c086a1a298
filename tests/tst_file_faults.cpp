// Files that fight back: names that are gone by the time they are read, what
// is not a regular file, random bytes, a line of 200 MB, and loads that find
// the channel taken by a save. Each is reported as the load reports it, no
// item is lost or invented, and no file that was there changes. (Binary bytes
// are with the load's line rules; a pipe or a full disk saved to, with the
// other save cases.)

#include "WindowTesting.h"

#include "engine/lists/FileChannel.h"

#include <QRandomGenerator>

namespace {
// Stops a test that hangs, rather than the whole suite's time-out.
struct Watchdog {
    explicit Watchdog(unsigned seconds) { ::alarm(seconds); }
    ~Watchdog() { ::alarm(0); }
};
}  // namespace

class FileFaultsTest : public QObject {
    Q_OBJECT
    TestFolder m_dir;

private slots:
    void goneBeforeTheRead_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<bool>("throughALink");
        QTest::newRow("the one file") << 1 << false;
        QTest::newRow("a link whose file went") << 1 << true;
        QTest::newRow("every one of several") << 3 << false;
    }
    // The dialog returned names that were there; by the read they are gone:
    // "File not found" for each, no error report, the list as it was.
    void goneBeforeTheRead()
    {
        QFETCH(int, files);
        QFETCH(bool, throughALink);
        TestWindow window;
        window.form.ListView1->add(u"kept");
        QStringList paths;
        for (int i = 0; i < files; ++i) {
            const QString name = QStringLiteral("gone-%1-%2.txt").arg(QTest::currentDataTag()).arg(i);
            paths << m_dir.file(name, "a\r\n");
            if (throughALink) {
                const QString link = paths.last() + QStringLiteral(".link");
                QVERIFY(QFile::link(paths.last(), link));
                paths.last() = link;
            }
        }
        window.test.commonDialog.expectChoice(paths);
        for (const QString& path : paths)
            QVERIFY(QFile::remove(QFileInfo(path).canonicalFilePath()));
        window.dialogs().expectMessages(files);
        window.form.PushButton3_Click();
        QCOMPARE(window.dialogs().texts(), QStringList(files, QStringLiteral("File not found")));
        QCOMPARE(itemsOf(*window.form.ListView1), QStringList{"kept"});
        QCOMPARE(window.form.MousePointer(), Form1::PointerStandard);
    }

    void notAFileIsNotRead_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("several");
        QTest::addColumn<int>("step");
        QTest::newRow("a pipe, the one file") << "pipe" << false << 118;
        QTest::newRow("a pipe among several") << "pipe" << true << 132;
        QTest::newRow("a device") << "/dev/null" << false << 118;
        QTest::newRow("a folder among several") << "folder" << true << 132;
    }
    // Reading a pipe would wait for a writer with the window frozen, and a
    // device may never end: only a regular file is read, and a folder, which
    // nothing reads as a file, is refused alike.
    void notAFileIsNotRead()
    {
        QFETCH(QString, what);
        QFETCH(bool, several);
        QFETCH(int, step);
        QString path = what;
        if (what == u"pipe")
            path = makeFifo(m_dir, QStringLiteral("pipe-%1.txt").arg(several));
        else if (what == u"folder" && QDir().mkpath(m_dir.filePath(QStringLiteral("folder.txt"))))
            path = m_dir.filePath(QStringLiteral("folder.txt"));
        QVERIFY(!path.isEmpty());
        TestWindow window;
        const QStringList paths = several
                                    ? QStringList{m_dir.file("before.txt", "a\r\n"), path, m_dir.file("after.txt", "b")}
                                    : QStringList{path};
        window.test.commonDialog.expectChoice(paths);
        window.dialogs().expectMessage();
        {
            const Watchdog watchdog(60);
            window.form.PushButton3_Click();
        }
        QCOMPARE(window.dialogs().shown.size(), 1);
        QVERIFY(isReport(window.dialogs().shown.front(), "Form1.PushButton3_Click", step));
        QCOMPARE(itemsOf(*window.form.ListView1), several ? QStringList({"a", "b"}) : QStringList());
        QVERIFY(!window.form.fileChannel.isOpen());
        if (what == u"pipe")
            QVERIFY(isFifo(path));
    }

    // Random bytes are no UTF-8: each byte becomes one character, every line
    // end one break, and no character is dropped or added.
    void randomBytesLoseNothing()
    {
        QByteArray bytes(256 * 1024, Qt::Uninitialized);
        QRandomGenerator random(20261208);
        for (char& byte : bytes)
            byte = static_cast<char>(random.bounded(256));
        qsizetype lineEnds = 0;
        qsizetype lineEndBytes = 0;
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\n' || bytes[i] == '\r') {
                const bool pair = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
                ++lineEnds;
                lineEndBytes += pair ? 2 : 1;
                i += pair ? 1 : 0;
            }
        }
        const bool endsInLineEnd = bytes.endsWith('\n') || bytes.endsWith('\r');

        TestWindow window;
        window.test.commonDialog.expectChoice({m_dir.file(QStringLiteral("random.bin"), bytes)});
        window.form.PushButton3_Click();
        QVERIFY(window.dialogs().shown.isEmpty());
        const ListView& list = *window.form.ListView1;
        QCOMPARE(list.count(), lineEnds + (endsInLineEnd ? 0 : 1));
        qsizetype characters = 0;
        for (int position = 1; position <= list.count(); ++position) {
            const QString item = list.text(position);
            QVERIFY(!item.contains(u'\r') && !item.contains(u'\n'));
            characters += item.size();
        }
        QCOMPARE(characters, bytes.size() - lineEndBytes);
    }

    // One line of 200 MB: one item of exactly that length, in about twice the
    // file's memory; the file goes again at the end.
    void aLineOf200Megabytes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("one-line.txt"));
        const QByteArray start("http://www.example.org/");
        constexpr qsizetype LineBytes = 200 * 1000 * 1000;
        constexpr qsizetype BlockBytes = 1 << 20;
        {
            // The address, then blocks of 'x' that each start with a 'y'.
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            QByteArray block(BlockBytes, 'x');
            block.replace(0, start.size(), start);
            for (qsizetype written = 0; written < LineBytes; written += block.size()) {
                block.truncate(std::min(BlockBytes, LineBytes - written));
                QCOMPARE(out.write(block), block.size());
                block = 'y' + QByteArray(BlockBytes - 1, 'x');
            }
            QCOMPARE(out.write("\r\n"), 2);
        }

        TestWindow window;
        window.test.commonDialog.expectChoice({path});
        window.form.PushButton3_Click();
        QVERIFY(window.dialogs().shown.isEmpty());
        QCOMPARE(window.form.ListView1->count(), 1);
        const QByteArrayView item = window.form.ListView1->items().utf8(0);
        QCOMPARE(item.size(), LineBytes);
        QVERIFY(item.startsWith(start));
        QCOMPARE(item[BlockBytes], 'y');
        QCOMPARE(item[2 * BlockBytes - 1], 'x');
        QCOMPARE(item.back(), 'x');
        window.form.ListView1->clear();
        QVERIFY(QFile::remove(path));
    }

    // Several files chosen while a save holds the channel: each reported at
    // 132, nothing added, and the save still writes its whole list.
    void severalFilesLoadedDuringASave()
    {
        QTemporaryDir dir;
        TestWindow window;
        Form1& form = window.form;
        fill(*form.ListView2, {"a", "b", "c"});
        const QString results = dir.filePath(QStringLiteral("results.txt"));
        const QStringList lists{m_dir.file("one.txt", "x\r\n"), m_dir.file("two.txt", "y\r\n")};
        window.test.commonDialog.expectChoice({results});
        window.test.commonDialog.expectChoice(lists);
        window.dialogs().expectMessages(2);
        QMetaObject::invokeMethod(
            &form, [&] { form.PushButton3_Click(); }, Qt::QueuedConnection);
        form.PushButton6_Click();

        QVERIFY(window.test.commonDialog.scriptDone());
        const QList<ShownBox>& shown = window.dialogs().shown;
        QCOMPARE(shown.size(), 2);
        for (const ShownBox& report : shown) {
            QVERIFY(isReport(report, "Form1.PushButton3_Click", 132));
            QVERIFY(report.text.startsWith(QStringLiteral("File already open\r\n")));
        }
        QCOMPARE(form.ListView1->count(), 0);
        QCOMPARE(readBytes(results), "a\r\nb\r\nc\r\n");
        QCOMPARE(readBytes(lists[0]), "x\r\n");
        QCOMPARE(form.MousePointer(), Form1::PointerStandard);
        QVERIFY(!form.fileChannel.isOpen());
    }
};

QTEST_MAIN(FileFaultsTest)
#include "tst_file_faults.moc"
