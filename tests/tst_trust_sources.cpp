// Which trust store a request gets, from the OpenSSL variables and
// tessaly-check's --cacert, and what is said of one that cannot be read.
// The store at work on real TLS connections is in tst_tls.
#include "LoopbackServer.h"
#include "TestFiles.h"
#include "engine/transfer/TrustSources.h"
#include "engine/transfer/TrustStore.h"

#include <QTest>

Q_DECLARE_METATYPE(TrustSources)

namespace {
using Source = TrustSources::Source;

// name=value pairs; a name alone is unset.
QProcessEnvironment environmentOf(const QStringList& settings)
{
    QProcessEnvironment environment;
    for (const QString& setting : settings) {
        const qsizetype equals = setting.indexOf(u'=');
        if (equals >= 0)
            environment.insert(setting.left(equals), setting.mid(equals + 1));
    }
    return environment;
}

TrustSources named(QList<Source> files, QList<Source> folders)
{
    TrustSources sources;
    sources.systemDefault = false;
    sources.files = std::move(files);
    sources.folders = std::move(folders);
    return sources;
}

const QString File = QStringLiteral("SSL_CERT_FILE");
const QString Dir = QStringLiteral("SSL_CERT_DIR");
const QString Added = QStringLiteral("--cacert");
}  // namespace

class TrustSourcesTest : public QObject {
    Q_OBJECT
private slots:
    void theRule_data()
    {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<TrustSources>("expected");
        TrustSources system;
        TrustSources systemAndAdded;
        systemAndAdded.files = {{"/ci/a.pem", Added}, {"/ci/b.pem", Added}};

        QTest::newRow("nothing set: the system's") << QStringList{} << QStringList{} << system;
        QTest::newRow("empty variables: as unset")
            << QStringList{"SSL_CERT_FILE=", "SSL_CERT_DIR="} << QStringList{} << system;
        QTest::newRow("a folder list of colons names nothing") << QStringList{"SSL_CERT_DIR=::"} << QStringList{} << system;
        QTest::newRow("a file in place of the system's")
            << QStringList{"SSL_CERT_FILE=/ci/ca.pem"} << QStringList{} << named({{"/ci/ca.pem", File}}, {});
        QTest::newRow("a folder in place of the system's")
            << QStringList{"SSL_CERT_DIR=/ci/certs"} << QStringList{} << named({}, {{"/ci/certs", Dir}});
        QTest::newRow("folders apart by colons, empty entries passed over")
            << QStringList{"SSL_CERT_DIR=:/ci/one::/ci/two:"} << QStringList{}
            << named({}, {{"/ci/one", Dir}, {"/ci/two", Dir}});
        QTest::newRow("both variables") << QStringList{"SSL_CERT_FILE=/ci/ca.pem", "SSL_CERT_DIR=/ci/certs"}
                                        << QStringList{} << named({{"/ci/ca.pem", File}}, {{"/ci/certs", Dir}});
        QTest::newRow("a folder named by the file variable is still a file")
            << QStringList{"SSL_CERT_FILE=/ci/certs"} << QStringList{} << named({{"/ci/certs", File}}, {});
        QTest::newRow("--cacert adds to the system's")
            << QStringList{} << QStringList{"/ci/a.pem", "/ci/b.pem"} << systemAndAdded;
        QTest::newRow("--cacert adds to the store the variables name")
            << QStringList{"SSL_CERT_FILE=/ci/ca.pem", "SSL_CERT_DIR=/ci/certs"} << QStringList{"/ci/a.pem"}
            << named({{"/ci/ca.pem", File}, {"/ci/a.pem", Added}}, {{"/ci/certs", Dir}});
        QTest::newRow("--cacert with empty variables: to the system's")
            << QStringList{"SSL_CERT_FILE="} << QStringList{"/ci/a.pem", "/ci/b.pem"} << systemAndAdded;
        QTest::newRow("other variables are not read")
            << QStringList{"CURL_CA_BUNDLE=/ci/ca.pem", "SSL_CERT_PATH=/ci/certs"} << QStringList{} << system;
    }
    void theRule()
    {
        QFETCH(QStringList, environment);
        QFETCH(QStringList, added);
        QFETCH(TrustSources, expected);
        const TrustSources sources = trustSourcesFrom(environmentOf(environment), added);
        QCOMPARE(sources.systemDefault, expected.systemDefault);
        QCOMPARE(sources.files.size(), expected.files.size());
        for (qsizetype i = 0; i < sources.files.size(); ++i) {
            QCOMPARE(sources.files[i].path, expected.files[i].path);
            QCOMPARE(sources.files[i].namedBy, expected.files[i].namedBy);
        }
        QCOMPARE(sources.folders.size(), expected.folders.size());
        for (qsizetype i = 0; i < sources.folders.size(); ++i) {
            QCOMPARE(sources.folders[i].path, expected.folders[i].path);
            QCOMPARE(sources.folders[i].namedBy, expected.folders[i].namedBy);
        }
        QCOMPARE(sources.onlySystem(), expected.onlySystem());
        QCOMPARE(sources.key(), expected.key());
    }

    // The stores are told apart by every source, so requests trusting
    // different authorities share neither a store nor TLS sessions.
    void keysTellSourcesApart()
    {
        const QProcessEnvironment none;
        const QStringList keys{
            trustSourcesFrom(none).key(),
            trustSourcesFrom(none, {"/ci/a.pem"}).key(),
            trustSourcesFrom(environmentOf({"SSL_CERT_FILE=/ci/a.pem"})).key(),
            trustSourcesFrom(environmentOf({"SSL_CERT_DIR=/ci/a.pem"})).key(),
            trustSourcesFrom(environmentOf({"SSL_CERT_DIR=/ci/a:/ci/b"})).key(),
            trustSourcesFrom(environmentOf({"SSL_CERT_DIR=/ci/a"}), {"/ci/b"}).key(),
            TrustSources(QStringLiteral("/ci/a.pem")).key(),
        };
        QCOMPARE(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());
        QCOMPARE(TrustSources(QString()).key(), trustSourcesFrom(none).key());
    }

    // A store named but not usable is a failure that names the file or
    // folder and what named it, never an empty store.
    void whatIsWrongWithAStore_data()
    {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QString>("problem");  // empty: the store is read
        QTest::newRow("a file") << QStringList{"SSL_CERT_FILE=@/ca.pem"} << QStringList{} << QString();
        QTest::newRow("a hashed folder") << QStringList{"SSL_CERT_DIR=@/certs"} << QStringList{} << QString();
        QTest::newRow("a file and folders") << QStringList{"SSL_CERT_FILE=@/ca.pem", "SSL_CERT_DIR=@/certs:@/crls"}
                                            << QStringList{"@/ca.pem"} << QString();
        QTest::newRow("--cacert beside the system's") << QStringList{} << QStringList{"@/ca.pem"} << QString();
        QTest::newRow("a missing file") << QStringList{"SSL_CERT_FILE=@/gone.pem"} << QStringList{}
                                        << "SSL_CERT_FILE names @/gone.pem, which cannot be read: No such file or directory";
        QTest::newRow("an empty file") << QStringList{"SSL_CERT_FILE=@/empty.pem"} << QStringList{}
                                       << "SSL_CERT_FILE names @/empty.pem, which holds no certificate that can be read";
        QTest::newRow("a file of something else")
            << QStringList{"SSL_CERT_FILE=@/ca.key"} << QStringList{}
            << "SSL_CERT_FILE names @/ca.key, which holds no certificate that can be read";
        QTest::newRow("a folder for a file") << QStringList{"SSL_CERT_FILE=@/certs"} << QStringList{}
                                             << "SSL_CERT_FILE names @/certs, which is a folder, not a file";
        QTest::newRow("a missing folder among others")
            << QStringList{"SSL_CERT_DIR=@/certs:@/gone"} << QStringList{}
            << "SSL_CERT_DIR names @/gone, which cannot be read: No such file or directory";
        QTest::newRow("a file for a folder") << QStringList{"SSL_CERT_DIR=@/ca.pem"} << QStringList{}
                                             << "SSL_CERT_DIR names @/ca.pem, which is not a folder";
        QTest::newRow("a folder of certificates never hashed")
            << QStringList{"SSL_CERT_DIR=@/certs:@"} << QStringList{}
            << "SSL_CERT_DIR names @, which holds no certificates named by their subject hash (openssl rehash)";
        QTest::newRow("a missing --cacert beside the system's")
            << QStringList{} << QStringList{"@/gone.pem"}
            << "--cacert names @/gone.pem, which cannot be read: No such file or directory";
        QTest::newRow("an empty --cacert beside a good file")
            << QStringList{"SSL_CERT_FILE=@/ca.pem"} << QStringList{"@/ca.pem", "@/empty.pem"}
            << "--cacert names @/empty.pem, which holds no certificate that can be read";
    }
    void whatIsWrongWithAStore()
    {
        QFETCH(QStringList, environment);
        QFETCH(QStringList, added);
        QFETCH(QString, problem);
        TestFolder dir;
        const auto tls = LoopbackServer::selfSignedCertificate(dir.path());
        QVERIFY(tls);
        QVERIFY(QFile::rename(tls->certificateFile, dir.filePath("ca.pem")));
        QVERIFY(QFile::rename(tls->keyFile, dir.filePath("ca.key")));
        dir.file("empty.pem", {});
        dir.file("certs/0badc0de.0", readBytes(dir.filePath("ca.pem")));
        dir.file("crls/0badc0de.r0", {});
        environment.replaceInStrings(QStringLiteral("@"), dir.path());
        added.replaceInStrings(QStringLiteral("@"), dir.path());
        problem.replace(QStringLiteral("@"), dir.path());

        const TrustSources sources = trustSourcesFrom(environmentOf(environment), added);
        QCOMPARE(TrustStore::problem(sources).value_or(QString()), problem);
        QVERIFY(TrustStore::ready(sources));
    }

    // A run that needs no TLS can end while the store is still being read:
    // the reader ends before OpenSSL frees its state at exit, or it works on
    // freed tables (a sanitizer's report at exit, or a crash, ends the run
    // with a failure). The folder, and the big store in it, stay until this
    // test's object goes, in main, after the reading has begun.
    void theProgramEndsWhileItsStoreIsRead()
    {
        const auto tls = LoopbackServer::selfSignedCertificate(m_endingRun.path());
        QVERIFY(tls);
        const QByteArray certificate = readBytes(tls->certificateFile);
        const QString store = m_endingRun.file("many.pem", certificate.repeated(20000));
        TrustStore::readAhead(trustSourcesFrom(environmentOf({"SSL_CERT_FILE=" + store}), {}));
    }

private:
    TestFolder m_endingRun;
};

QTEST_GUILESS_MAIN(TrustSourcesTest)
#include "tst_trust_sources.moc"
