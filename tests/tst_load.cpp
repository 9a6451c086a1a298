// Loading address files into the URL list: the line rules on byte-exact files,
// decoding, the dialog's returned names, and the files that cannot be read.

#include "AsNobody.h"
#include "WindowTesting.h"

#include "window/app/Main.h"
#include "engine/lists/FileChannel.h"

#include <QDir>
#include <QTemporaryDir>

namespace {
// Every returned name of a run of the dialog, as the load's path pieces join.
enum class Folder { Ordinary, EndsInSeparator, Root };

QString text(const char* bytes, qsizetype size) { return QString::fromUtf8(bytes, size); }
}  // namespace

class LoadTest : public QObject {
    Q_OBJECT
    TestFolder m_dir;

private slots:
    void lineRules_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("empty file") << QByteArray("") << QStringList{};
        QTest::newRow("a lone CR LF") << QByteArray("\r\n") << QStringList{""};
        QTest::newRow("a lone LF") << QByteArray("\n") << QStringList{""};
        QTest::newRow("CR LF, final CR LF") << QByteArray("a\r\nb\r\nc\r\n") << QStringList{"a", "b", "c"};
        QTest::newRow("one more CR LF at the close") << QByteArray("a\r\nb\r\nc\r\n\r\n") << QStringList{"a", "b", "c", ""};
        QTest::newRow("LF, final LF") << QByteArray("a\nb\nc\n") << QStringList{"a", "b", "c"};
        QTest::newRow("LF, no final line end") << QByteArray("a\nb\nc") << QStringList{"a", "b", "c"};
        QTest::newRow("CR only") << QByteArray("a\rb\rc\r") << QStringList{"a", "b", "c"};
        QTest::newRow("mixed") << QByteArray("a\r\nb\nc\rd") << QStringList{"a", "b", "c", "d"};
        QTest::newRow("LF then CR: an empty item between") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
        QTest::newRow("empty lines in the middle") << QByteArray("a\r\n\r\n\nb\r\n") << QStringList{"a", "", "", "b"};
        QTest::newRow("blanks and duplicates kept") << QByteArray(" a \r\n\t\r\n a ") << QStringList{" a ", "\t", " a "};
        QTest::newRow("byte-order mark dropped")
            << QByteArray("\xEF\xBB\xBFhttp://a/\r\nb") << QStringList{"http://a/", "b"};
        QTest::newRow("byte-order mark alone") << QByteArray("\xEF\xBB\xBF") << QStringList{};
        QTest::newRow("UTF-8 as it is") << QByteArray("caf\xC3\xA9\r\nhttp://\xE4\xBE\x8B.example/")
                                        << QStringList{u"caf\u00e9"_qs, u"http://\u4f8b.example/"_qs};
        QTest::newRow("not UTF-8: Windows-1252")
            << QByteArray("caf\xE9\r\n\x80 \x93x\x94\n") << QStringList{u"caf\u00e9"_qs, u"\u20ac \u201cx\u201d"_qs};
        // Binary bytes: nothing is dropped, and what is no UTF-8 is one character a byte.
        QTest::newRow("NULs in UTF-8 stay inside their items")
            << QByteArray("a\0b\r\n\0\r\n\0\0", 10) << QStringList{text("a\0b", 3), text("\0", 1), text("\0\0", 2)};
        QTest::newRow("UTF-16 read as bytes: every NUL kept")
            << QByteArray("h\0t\0\r\0\n\0", 8) << QStringList{text("h\0t\0", 4), text("\0", 1), text("\0", 1)};
        QTest::newRow("a UTF-16 byte-order mark is not UTF-8") << QByteArray("\xFF\xFE"
                                                                             "a\0\nb",
                                                                             6)
                                                               << QStringList{text("\xC3\xBF\xC3\xBE"
                                                                                   "a\0",
                                                                                   6),
                                                                              "b"};
        QTest::newRow("overlong and surrogate forms: one character a byte")
            << QByteArray("\xC0\xAF\r\xED\xA0\x80") << QStringList{u"\u00c0\u00af"_qs, u"\u00ed\u00a0\u20ac"_qs};
        QTest::newRow("a sequence cut short at the end")
            << QByteArray("ok\n\xE4\xBE") << QStringList{"ok", u"\u00e4\u00be"_qs};
        QTest::newRow("bytes Windows-1252 leaves unassigned")
            << QByteArray("\x81\x8D\r\n\x8F\x90\x9D") << QStringList{u"\u0081\u008d"_qs, u"\u008f\u0090\u009d"_qs};
    }
    // Loaded twice after an item already there: both loads append.
    void lineRules()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, items);
        TestWindow window;
        window.form.ListView1->add(u"kept");
        const QString path = m_dir.file(QStringLiteral("list.txt"), bytes);
        for (int load = 0; load < 2; ++load) {
            window.test.commonDialog.expectChoice({path});
            window.form.PushButton3_Click();
        }
        QCOMPARE(itemsOf(*window.form.ListView1), QStringList{"kept"} + items + items);
        QVERIFY(window.dialogs().shown.isEmpty());
        QCOMPARE(window.form.MousePointer(), Form1::PointerStandard);
    }

    void cancelShowsTheDialogAndAddsNothing()
    {
        TestWindow window;
        window.test.commonDialog.setFileName(QStringLiteral("left over"));
        window.test.commonDialog.expectChoice({});
        window.form.PushButton3_Click();
        QCOMPARE(window.form.ListView1->count(), 0);
        QCOMPARE(window.test.commonDialog.shown.size(), 1);
        const ScriptedCommonDialog::Shown& shown = window.test.commonDialog.shown.front();
        QVERIFY(!shown.save);
        QCOMPARE(shown.fileName, "");
        QCOMPARE(shown.flags, 2621953);
        QCOMPARE(shown.title, "Load List(s) - Hold Ctrl to select multiple list files");
        QCOMPARE(shown.filter, "Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");
        QCOMPARE(window.form.MousePointer(), Form1::PointerStandard);
    }

    void tidyPath_data()
    {
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("tidied");
        const std::pair<const char*, const char*> rows[] = {
            {R"(C:\\list.txt)", R"(C:\list.txt)"},
            {R"(C:\dir\a.txt)", R"(C:\dir\a.txt)"},
            {R"(\\server\share\\a.txt)", R"(\\server\share\a.txt)"},
            {R"(\\\\server\a.txt)", R"(\\server\a.txt)"},
            {R"(\server\a.txt)", R"(\\server\a.txt)"},
            {R"(a\\\b)", R"(a\\b)"},
            {R"(a\\\\b)", R"(a\\b)"},
            {R"(\\\)", R"(\\)"},
        };
        for (QChar separator : {QChar(u'\\'), QChar(u'/')}) {
            for (const auto& [path, tidied] : rows) {
                const auto over = [&](const char* text) { return QString::fromLatin1(text).replace(u'\\', separator); };
                QTest::addRow("%s", qPrintable(over(path))) << separator << over(path) << over(tidied);
            }
        }
    }
    void tidyPath()
    {
        QFETCH(QChar, separator);
        QFETCH(QString, path);
        QFETCH(QString, tidied);
        QCOMPARE(Main::TidyPath(path, separator), tidied);
    }

    void severalFiles_data()
    {
        QTest::addColumn<Folder>("folder");
        QTest::newRow("from one folder") << Folder::Ordinary;
        QTest::newRow("folder ending in the separator") << Folder::EndsInSeparator;
        QTest::newRow("root folder") << Folder::Root;
    }
    // The third name is a file deleted after the dialog closed: "File not
    // found", and the files after it still load.
    void severalFiles()
    {
        QFETCH(Folder, folder);
        TestWindow window;
        const QStringList paths{m_dir.file("one.txt", "a\r\nb\r\n"), m_dir.file("two.txt", "c\n"),
                                m_dir.filePath("gone.txt"), m_dir.file("three.txt", "d")};
        QString returnedName;
        if (folder == Folder::Ordinary) {
            returnedName = CommonDialog::returnedName(paths);
        } else {
            const QString base = folder == Folder::Root ? QStringLiteral("/") : m_dir.path() + u'/';
            QStringList pieces{base};
            for (const QString& path : paths)
                pieces << QDir(base).relativeFilePath(path);
            returnedName = pieces.join(QChar(u'\0'));
        }
        window.test.commonDialog.expectReturnedName(returnedName);
        window.dialogs().expectMessage();
        int pointerDuringMessage = -1;
        window.dialogs().whileShown = [&](const ShownBox&) { pointerDuringMessage = window.form.MousePointer(); };
        window.form.PushButton3_Click();
        QCOMPARE(itemsOf(*window.form.ListView1), (QStringList{"a", "b", "c", "d"}));
        QCOMPARE(window.dialogs().texts(), QStringList{"File not found"});
        QCOMPARE(window.dialogs().shown.front().title, "Tessaly");
        QCOMPARE(pointerDuringMessage, Form1::PointerBusy);
        QCOMPARE(window.form.MousePointer(), Form1::PointerStandard);
    }

    void tooManyFilesLoadsNothing()
    {
        TestWindow window;
        const QString existing = m_dir.file("a.txt", "a\r\n");
        QStringList paths;
        for (int i = 0; i < 1000; ++i)
            paths << m_dir.filePath(QStringLiteral("a-rather-long-list-file-name-%1.txt").arg(i));
        paths.front() = existing;
        window.test.commonDialog.expectChoice(paths);
        window.dialogs().expectMessage();
        int pointerDuringMessage = -1;
        window.dialogs().whileShown = [&](const ShownBox&) { pointerDuringMessage = window.form.MousePointer(); };
        window.form.PushButton3_Click();
        QCOMPARE(window.dialogs().texts(), QStringList{"You've selected too many files to add."});
        QCOMPARE(window.dialogs().shown.front().title, "Tessaly");
        QCOMPARE(window.form.ListView1->count(), 0);
        QCOMPARE(pointerDuringMessage, Form1::PointerStandard);
        QCOMPARE(window.form.MousePointer(), Form1::PointerStandard);
    }

    // Each file asks for room for its own items; were the list's store grown
    // by just that, every file would copy the whole list again. Loaded one
    // after another, 300 files move it only now and then.
    void filesOneAfterAnotherGrowTheListGeometrically()
    {
        TestWindow window;
        const QString path = m_dir.file("ten.txt", QByteArray("http://www.example.org/\r\n").repeated(10));
        const ItemStore& store = window.form.ListView1->items();
        int byteMoves = 0;
        int itemMoves = 0;
        for (int file = 0; file < 300; ++file) {
            const qsizetype bytesBefore = store.byteCapacity();
            const qsizetype itemsBefore = store.itemCapacity();
            window.test.commonDialog.expectChoice({path});
            window.form.PushButton3_Click();
            byteMoves += store.byteCapacity() != bytesBefore;
            itemMoves += store.itemCapacity() != itemsBefore;
        }
        QCOMPARE(store.size(), 3000);
        QVERIFY2(byteMoves <= 30, qPrintable(QString::number(byteMoves)));
        QVERIFY2(itemMoves <= 30, qPrintable(QString::number(itemMoves)));
    }

    // Permission bits do not stop root: a suite running as root loads as
    // "nobody", from a folder that user may pass through.
    void fileWithoutReadPermissionIsReported()
    {
        TestFolder dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                      | QFileDevice::ReadOther | QFileDevice::ExeOther));
        const QString path = dir.file("locked.txt", "a\r\n");
        QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        const QString failure = runAsNobody([&]() -> QString {
            TestWindow window;
            window.test.commonDialog.expectChoice({path});
            window.dialogs().expectMessage();
            window.form.PushButton3_Click();
            if (!isReport(window.dialogs().shown.value(0), "Form1.PushButton3_Click", 118))
                return QStringLiteral("no report at step 118 but: ") + window.dialogs().texts().join(u'|');
            if (window.form.ListView1->count() != 0)
                return QStringLiteral("%1 items loaded").arg(window.form.ListView1->count());
            return {};
        });
        QCOMPARE(failure, QString());
    }
};

QTEST_MAIN(LoadTest)
#include "tst_load.moc"
