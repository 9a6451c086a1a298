// Saving a result list: the bytes written, the overwrite question, the files
// that cannot be written, what runs while a save lets events through, and
// tessaly-check's result files, the same bytes.

#include "AsNobody.h"
#include "LoopbackServer.h"
#include "WindowTesting.h"

#include "window/app/Globals.h"
#include "window/lists/ListFiles.h"
#include "engine/lists/FileChannel.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

namespace {
enum class DuringSave { Load, SecondSave, ClearAndRefill, WindowCloses };
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
        QTest::newRow("UTF-8, no byte-order mark")
            << QStringList{u"caf\u00e9"_qs, u"\u4f8b"_qs} << QByteArray("caf\xC3\xA9\r\n\xE4\xBE\x8B\r\n");
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

    void cancelAsksNothing()
    {
        TestWindow window;
        fill(*window.form.ListView2, {"a"});
        window.test.commonDialog.expectChoice({});
        window.form.PushButton6_Click();
        QVERIFY(window.dialogs().shown.isEmpty());
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
        QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("locked")), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
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
            if (!window.dialogs().scriptDone() || shown.isEmpty() || !isReport(shown.last(), "Form1.PushButton6_Click", 130))
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
        QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("locked")),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
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

        TestWindow window(QStringLiteral("0"), curlTransfer(std::chrono::milliseconds(5000)));
        TestPlatform& test = window.test;
        Form1& form = window.form;
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
