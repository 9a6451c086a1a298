// The curl transfer over TLS against a real nginx with certificates from a
// root made here: certificates are verified as strictly as curl does on its
// own, while the trust store is read once, sessions resume across requests,
// the batch's lanes keep a connection to each host, and a page of real size
// does not cost its connection; the trust store both programs take from
// SSL_CERT_FILE and SSL_CERT_DIR, and tessaly-check's --cacert.
#include "CheckRuns.h"
#include "LoopbackServer.h"
#include "Openssl.h"
#include "engine/transfer/Policy.h"
#include "RealServers.h"
#include "TransferTesting.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

using namespace std::chrono_literals;
using TransferTesting::hasResponse;

namespace {
constexpr auto Timeout = 5000ms;
constexpr int ManyHosts = 10;

// The sites nginx serves, one per certificate; the good one's site first and
// then ManyHosts - 1 more of it.
enum Site { Good, Expired, OtherName, SelfSigned, MoreGood };

QString address(quint16 port, const char* path = "/page")
{
    return QStringLiteral("https://localhost:%1%2").arg(port).arg(QLatin1String(path));
}

constexpr const char* TrustVariables[] = {"SSL_CERT_FILE", "SSL_CERT_DIR"};

// name=value pairs put in this process's environment until the guard goes.
auto settingEnvironment(const QStringList& settings)
{
    for (const QString& setting : settings) {
        const qsizetype equals = setting.indexOf(u'=');
        qputenv(setting.left(equals).toLatin1().constData(), setting.mid(equals + 1).toLocal8Bit());
    }
    return qScopeGuard([] {
        for (const char* name : TrustVariables)
            qunsetenv(name);
    });
}
}  // namespace

class TlsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        for (const char* name : TrustVariables)
            qunsetenv(name);
        for (const char* proxy : ProxyVariables)
            qunsetenv(proxy);
        QVERIFY(m_folder.isValid());
        const QString folder = m_folder.path();
        const std::optional<Certificate> root = Certificate::make(folder, "root", Certificate::AuthorityExtensions);
        QVERIFY(root);
        m_authorities = root->certificateFile;
        // The root alone in a folder hashed as OpenSSL looks it up.
        const QString hashed = folder + QStringLiteral("/hashed");
        QVERIFY(QDir().mkpath(hashed));
        QVERIFY(QFile::copy(m_authorities, hashed + QStringLiteral("/root.pem")));
        QVERIFY(runOpenssl({QStringLiteral("rehash"), hashed}));
        const QByteArray forLocalhost = "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
        const std::optional<Certificate> certificates[] = {
            Certificate::make(folder, "good", forLocalhost, &*root),
            Certificate::make(folder, "expired", forLocalhost, &*root, -1),
            Certificate::make(folder, "othername", "subjectAltName=DNS:other.invalid\n", &*root),
            Certificate::make(folder, "selfsigned", forLocalhost),
        };
        QList<Certificate> sites;
        for (const std::optional<Certificate>& certificate : certificates) {
            QVERIFY(certificate);
            sites << *certificate;
        }
        for (int i = 1; i < ManyHosts; ++i)
            sites << sites[Good];
        m_nginx.emplace(sites);
        REQUIRE_RUNNING(*m_nginx);
    }

    void certificatesAreVerified_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<bool>("trustTheRoot");
        QTest::addColumn<bool>("answered");
        QTest::newRow("issued by the trusted root") << int(Good) << true << true;
        QTest::newRow("issued by a root that is not trusted") << int(Good) << false << false;
        QTest::newRow("self-signed") << int(SelfSigned) << true << false;
        QTest::newRow("expired") << int(Expired) << true << false;
        QTest::newRow("for another name") << int(OtherName) << true << false;
    }
    void certificatesAreVerified()
    {
        QFETCH(int, site);
        QFETCH(bool, trustTheRoot);
        QFETCH(bool, answered);
        const quint16 port = m_nginx->sitePort(site);
        // The trusting request goes first, so that a session it leaves behind
        // would be there for the untrusting one to resume.
        QtLoopTransfer trusting({Timeout, false, m_authorities});
        trusting.request(address(port));
        QtLoopTransfer transfer({Timeout, false, trustTheRoot ? m_authorities : QString()});
        for (int i = 0; i < 2; ++i) {
            transfer.request(address(port));
            QCOMPARE(hasResponse(transfer), answered);
        }
    }

    // tessaly-check in this process, against the site whose certificate the
    // root made here issued: the system's store does not trust it, the
    // variables put a store of the test's in place of the system's, --cacert
    // adds to whichever is in force, and a store named that cannot be read
    // stops the run before anything is asked.
    void trustFromTheEnvironmentAndOptions_data()
    {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        // The report's line; the error stream's start for status 2.
        QTest::addColumn<QByteArray>("said");
        const QByteArray trusted = "valid\tHTTP/1.1 200 OK\t@url\t";
        const QByteArray untrusted = "certificate not trusted";
        QTest::newRow("the system's store") << QStringList{} << QStringList{} << 1 << untrusted;
        QTest::newRow("SSL_CERT_FILE") << QStringList{"SSL_CERT_FILE=@root"} << QStringList{} << 0 << trusted;
        QTest::newRow("a missing folder in SSL_CERT_DIR")
            << QStringList{"SSL_CERT_DIR=@/gone:@/hashed"} << QStringList{} << 2
            << QByteArray("tessaly-check: SSL_CERT_DIR names @/gone, which cannot be read");
        QTest::newRow("SSL_CERT_DIR") << QStringList{"SSL_CERT_DIR=@/hashed"} << QStringList{} << 0 << trusted;
        QTest::newRow("--cacert") << QStringList{} << QStringList{"--cacert", "@root"} << 0 << trusted;
        QTest::newRow("SSL_CERT_FILE of another authority: in place of the system's")
            << QStringList{"SSL_CERT_FILE=@/selfsigned.crt"} << QStringList{} << 1 << untrusted;
        QTest::newRow("--cacert adds to what SSL_CERT_FILE names")
            << QStringList{"SSL_CERT_FILE=@/selfsigned.crt"} << QStringList{"--cacert", "@root"} << 0 << trusted;
        QTest::newRow("an empty SSL_CERT_FILE is unset") << QStringList{"SSL_CERT_FILE="} << QStringList{} << 1 << untrusted;
        QTest::newRow("a missing SSL_CERT_FILE")
            << QStringList{"SSL_CERT_FILE=@/gone.pem"} << QStringList{} << 2
            << QByteArray("tessaly-check: SSL_CERT_FILE names @/gone.pem, which cannot be read: No such file or directory\n");
        QTest::newRow("a --cacert of no certificate")
            << QStringList{} << QStringList{"--cacert", "@/root.key"} << 2
            << QByteArray("tessaly-check: --cacert names @/root.key, which holds no certificate that can be read\n");
    }
    void trustFromTheEnvironmentAndOptions()
    {
        QFETCH(QStringList, environment);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, said);
        const QString url = address(m_nginx->sitePort(Good));
        for (QStringList* each : {&environment, &arguments}) {
            each->replaceInStrings(QStringLiteral("@root"), m_authorities);
            each->replaceInStrings(QStringLiteral("@"), m_folder.path());
        }
        said.replace("@url", url.toUtf8()).replace("@", QFile::encodeName(m_folder.path()));
        const auto restore = settingEnvironment(environment);
        const qsizetype before = m_nginx->requests().size();
        const Finished finished = runInProcess(arguments + QStringList{"--format", "text"}, linesOf({url}));
        QCOMPARE(finished.exitCode, status);
        if (status == 2) {
            QVERIFY2(finished.err.startsWith(said), finished.err.constData());
            QCOMPARE(finished.out, QByteArray());
            QCOMPARE(m_nginx->requests().size(), before);
        } else {
            QVERIFY2(status == 0 ? finished.out.startsWith(said) : finished.out.contains(said), finished.out.constData());
        }
    }

    // The window's transfer reads the same variables; a store they name that
    // cannot be read fails every address, plain http too, with the reason
    // naming it (the window shows it in its report box).
    void theWindowsTransferTrustsTheVariables()
    {
        {
            const auto restore = settingEnvironment({QStringLiteral("SSL_CERT_FILE=") + m_authorities});
            QtLoopTransfer transfer;
            transfer.request(address(m_nginx->sitePort(Good)));
            QVERIFY(hasResponse(transfer));
        }
        LoopbackServer plain;
        plain.route("/page", LoopbackServer::answer("HTTP/1.1 200 OK"));
        for (const QString& url : {address(m_nginx->sitePort(Good)), plain.url("/page")}) {
            const QString missing = m_folder.filePath(QStringLiteral("gone.pem"));
            const auto restore = settingEnvironment({QStringLiteral("SSL_CERT_FILE=") + missing});
            QtLoopTransfer transfer;
            try {
                transfer.request(url);
                QFAIL("a request went out without its trust store");
            } catch (const Failure& failure) {
                QCOMPARE(failure.description(),
                         "SSL_CERT_FILE names " + missing + ", which cannot be read: No such file or directory");
            }
            QVERIFY(!hasResponse(transfer));
            QCOMPARE(plain.requests().size(), 0);
        }
    }

    // The store is read once per program, not for each connection: a later
    // connection, in another transfer control, trusts the root although the
    // file has gone (a file that changes is read again).
    void theTrustStoreIsNotReadPerConnection()
    {
        QTemporaryDir copy;
        const QString authorities = copy.filePath(QStringLiteral("ca.crt"));
        QVERIFY(QFile::copy(m_authorities, authorities));
        QtLoopTransfer first({Timeout, false, authorities});
        first.request(address(m_nginx->sitePort(Good)));
        QVERIFY(hasResponse(first));
        QVERIFY(QFile::remove(authorities));

        QtLoopTransfer second({Timeout, false, authorities});
        second.request(address(m_nginx->sitePort(Good)));
        QVERIFY(hasResponse(second));
        QCOMPARE(second.connectionsOpened(), 1);
    }

    // A second transfer control, with a connection of its own, resumes the
    // first one's TLS session instead of a full handshake.
    void sessionsResumeAcrossTransfers()
    {
        const quint16 port = m_nginx->sitePort(Good);
        const qsizetype before = m_nginx->requests().size();
        for (int i = 0; i < 2; ++i) {
            QtLoopTransfer transfer({Timeout, false, m_authorities});
            transfer.request(address(port));
            QVERIFY(hasResponse(transfer));
            QCOMPARE(transfer.connectionsOpened(), 1);
        }
        // nginx logs a request once it has sent the whole answer.
        QTRY_COMPARE(m_nginx->requests().size(), before + 2);
        const QList<Nginx::Request> requests = m_nginx->requests().mid(before);
        QVERIFY2(requests[0].connection != requests[1].connection, "two connections");
        QVERIFY(requests[1].sessionResumed);
    }

    // Hosts spread over the batch's lanes, each lane a thread of its own:
    // every one verified and answered, and each keeps its connection in its
    // lane from one round to the next.
    void manyHostsOnTheBatchsLanes()
    {
        QList<quint16> ports{m_nginx->sitePort(Good)};
        for (int site = MoreGood; site < MoreGood + ManyHosts - 1; ++site)
            ports << m_nginx->sitePort(site);
        std::vector<std::unique_ptr<CurlRequest>> requests;
        for (qsizetype i = 0; i < ports.size(); ++i)
            requests.push_back(std::make_unique<CurlRequest>(CurlRequest::Options{Timeout, false, m_authorities}));
        LaneBatch batch(m_authorities, 2);
        const qsizetype before = m_nginx->requests().size();
        for (int round = 0; round < 2; ++round) {
            for (qsizetype i = 0; i < ports.size(); ++i) {
                requests[i]->prepare(address(ports[i]));
                batch.add(*requests[i]);
            }
            runUntilNoneRunning(batch, Timeout * 2);
            QCOMPARE(batch.running(), 0);
            for (const auto& request : requests)
                QVERIFY2(request->headers().startsWith("HTTP/1.1 200 OK\r\n"), qPrintable(request->failureReason()));
        }
        QTRY_COMPARE(m_nginx->requests().size(), before + 2 * ports.size());
        QSet<QPair<quint16, QByteArray>> connections;
        for (const Nginx::Request& request : m_nginx->requests().mid(before))
            connections.insert({request.port, request.connection});
        QCOMPARE(connections.size(), ports.size());
    }

    // A page of real size is read to its end rather than dropped with its
    // connection, also when the next address follows at once.
    void aRealSizePageKeepsItsConnection()
    {
        QtLoopTransfer transfer({Timeout, false, m_authorities});
        for (int i = 0; i < 5; ++i) {
            transfer.request(address(m_nginx->sitePort(Good), "/large"));
            QVERIFY(hasResponse(transfer));
        }
        QCOMPARE(transfer.connectionsOpened(), 1);
    }

    // A body that keeps the next address waiting longer than a new connection
    // would take is dropped with its connection: the next address does not
    // wait for it.
    void aLateBodyIsDroppedForANewConnection()
    {
        QTemporaryDir folder;
        const auto tls = LoopbackServer::selfSignedCertificate(folder.path());
        QVERIFY(tls);
        LoopbackServer server(*tls);
        LoopbackServer::Reply late = LoopbackServer::answer("HTTP/1.1 200 OK", {}, "late");
        late.bodyDelayMilliseconds = 5000;
        server.route("/late", late);
        server.route("/next", LoopbackServer::answer("HTTP/1.1 200 OK"));
        QtLoopTransfer transfer({Timeout, false, tls->certificateFile});

        transfer.request(server.url("/late"));
        QVERIFY(hasResponse(transfer));
        QElapsedTimer clock;
        clock.start();
        transfer.request(server.url("/next"));
        const qint64 waited = clock.elapsed();
        QVERIFY(hasResponse(transfer));
        QCOMPARE(server.connectionsAccepted(), 2);
        // The drop comes after what a loopback connection costs, or the least
        // grace; the limit leaves room for a loaded machine.
        QVERIFY2(waited < Policy::DrainGrace.count() / 2, qPrintable(QString::number(waited)));
    }

private:
    QTemporaryDir m_folder;
    QString m_authorities;
    std::optional<Nginx> m_nginx;
};

QTEST_MAIN(TlsTest)
#include "tst_tls.moc"
