// The per-user store keeps any text exactly, on disk as soon as it is written.
#include "AsNobody.h"
#include "engine/Failure.h"
#include "window/desktop/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString App = QStringLiteral("Velmora");
const QString Section = QStringLiteral("Tessaly Software");
const QString Key = QStringLiteral("Text1");
}  // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private slots:
    void roundTripsAnyText_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("number") << QStringLiteral("1");
        QTest::newRow("fraction") << QStringLiteral(".5");
        QTest::newRow("empty") << QString();
        QTest::newRow("blanks around") << QStringLiteral("  2  ");
        QTest::newRow("quotes") << QStringLiteral("\"3\" or '4'");
        QTest::newRow("commas") << QStringLiteral("1,5, 2");
        QTest::newRow("ini punctuation") << QStringLiteral("a=b;c#d[e]");
        QTest::newRow("backslashes") << QStringLiteral("C:\\dir\\\\x\\");
        QTest::newRow("leading at") << QStringLiteral("@Variant(0)");
        QTest::newRow("non-ASCII") << QStringLiteral("Pause — 2½ s ü 日本");
        QTest::newRow("line breaks") << QStringLiteral("1\r\n2\n");
        QTest::newRow("word") << QStringLiteral("abc");
    }
    void roundTripsAnyText()
    {
        QFETCH(QString, value);
        QTemporaryDir folder;
        {
            QtSettingsStore store(folder.path());
            store.write(App, Section, Key, value);
        }
        // A second store object reads what is on disk, not what the first cached.
        QtSettingsStore fresh(folder.path());
        QCOMPARE(fresh.read(App, Section, Key, QStringLiteral("default")), value);
    }

    // Only an absent entry gives the default: an empty one is an entry (the
    // row above).
    void absentEntryGivesTheDefault()
    {
        QTemporaryDir folder;
        QCOMPARE(QtSettingsStore(folder.path()).read(App, Section, Key, QStringLiteral("1")), QStringLiteral("1"));
    }

    void keepsTheEntryInTheUsersConfigurationFolder()
    {
        QTemporaryDir folder;
        QtSettingsStore store(folder.path());
        store.write(App, Section, Key, QStringLiteral("2"));
        QFile file(folder.path() + QStringLiteral("/Velmora/Tessaly Software.conf"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("Text1=2"));
    }

    // An entry that is there but cannot be read is no absent entry: the
    // default would hide that the user's value was lost.
    void unreadableStoreFails_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("a folder where the file should be") << "folder";
        QTest::newRow("a file the user may not read") << "file";
        QTest::newRow("a folder the user may not search") << "search";
    }
    void unreadableStoreFails()
    {
        QFETCH(QString, what);
        QTemporaryDir folder;
        QtSettingsStore store(folder.path());
        const QString file = store.fileFor(App, Section);
        if (what == "folder") {
            QVERIFY(QDir().mkpath(file));
            QVERIFY_THROWS_EXCEPTION(Failure, store.read(App, Section, Key, QStringLiteral("1")));
            return;
        }
        store.write(App, Section, Key, QStringLiteral("2"));
        const auto traversable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                               | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(folder.path(), traversable));
        if (what == "file") {
            QVERIFY(QFile::setPermissions(folder.path() + u'/' + App, traversable));
            QVERIFY(QFile::setPermissions(file, {}));
        } else {
            // Listed but not searched: the file in it cannot even be looked at.
            QVERIFY(QFile::setPermissions(folder.path() + u'/' + App,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther));
        }
        const QString failure = runAsNobody([&]() -> QString {
            try {
                QtSettingsStore(folder.path()).read(App, Section, Key, QStringLiteral("1"));
                return QStringLiteral("the unreadable store was read");
            } catch (const Failure&) {
                return {};
            }
        });
        QCOMPARE(failure, QString());
    }

    void unwritableStoreFails()
    {
        QTemporaryDir folder;
        // A regular file where the application's folder should be: not even root
        // can create the store beneath it.
        QFile blocker(folder.path() + QStringLiteral("/Velmora"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QtSettingsStore store(folder.path());
        QVERIFY_THROWS_EXCEPTION(Failure, store.write(App, Section, Key, QStringLiteral("1")));
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
