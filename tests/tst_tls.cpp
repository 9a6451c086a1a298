// The curl transfer over TLS against a real nginx with certificates from a
// root made here: certificates are verified as strictly as curl does on its
// own, while the trust store is read once, sessions resume across requests,
// idle connections to many hosts are kept, and a page of real size does not
// cost its connection.
#include "LoopbackServer.h"
#include "platform/CurlTransfer.h"
#include "platform/Failure.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {
constexpr auto Timeout = 5000ms;
constexpr int ManyHosts = 10;
constexpr qint64 RealPageBytes = 240 * 1024;

bool hasResponse(CurlTransfer& transfer)
{
    try {
        return transfer.responseHeaders().startsWith(u"HTTP/1.1 200 OK\r\n");
    } catch (const Failure&) {
        return false;
    }
}

bool openssl(const QString& folder, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral("openssl"), arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A key and a certificate for `name`, signed by the CA in ca.crt/ca.key of the
// folder (or by itself when `ca` is empty), valid for `days` (-1: expired).
bool makeCertificate(const QString& folder, const QString& name, const QString& subjectAltName, const QString& ca,
                     int days)
{
    if (!openssl(folder, {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + name, "-keyout", name + ".key",
                          "-out", name + ".csr"}))
        return false;
    QFile extensions(folder + u'/' + name + QStringLiteral(".ext"));
    if (!extensions.open(QIODevice::WriteOnly))
        return false;
    extensions.write("subjectAltName=" + subjectAltName.toUtf8() + "\n");
    extensions.close();
    QStringList sign{"x509", "-req", "-in", name + ".csr", "-days", QString::number(days), "-extfile", name + ".ext",
                     "-out", name + ".crt"};
    if (ca.isEmpty())
        sign << "-key" << name + ".key";
    else
        sign << "-CA" << ca + ".crt" << "-CAkey" << ca + ".key" << "-CAcreateserial";
    return openssl(folder, sign);
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// nginx on loopback ports, one server block per certificate, logging for each
// request the port, the connection's serial number and whether its TLS session
// was resumed ("r").
class Nginx {
public:
    struct Site {
        QString certificate;  // file name in the folder, without .crt/.key
        quint16 port = 0;
    };

    bool start(const QString& folder, QList<Site>& sites)
    {
        m_folder = folder;
        // nginx's worker may run as another user than the test.
        const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::ExeOther;
        QFile::setPermissions(folder, open);
        QDir(folder).mkpath(QStringLiteral("www/present"));
        QDir(folder).mkpath(QStringLiteral("tmp"));
        QFile::setPermissions(folder + QStringLiteral("/www"), open);
        QFile::setPermissions(folder + QStringLiteral("/www/present"), open);
        QFile page(folder + QStringLiteral("/www/present/page.html"));
        page.open(QIODevice::WriteOnly);
        page.write("<html><body>here</body></html>\n");
        page.close();
        QFile large(folder + QStringLiteral("/www/present/large.html"));
        large.open(QIODevice::WriteOnly);
        large.write(QByteArray(RealPageBytes, 'x'));
        large.close();

        QByteArray servers;
        for (Site& site : sites) {
            site.port = freePort();
            servers += "server { listen 127.0.0.1:" + QByteArray::number(site.port) + " ssl; ssl_certificate " + folder.toUtf8()
                + "/" + site.certificate.toUtf8() + ".crt; ssl_certificate_key " + folder.toUtf8() + "/"
                + site.certificate.toUtf8() + ".key; root " + folder.toUtf8() + "/www; }\n";
        }
        QFile config(folder + QStringLiteral("/nginx.conf"));
        config.open(QIODevice::WriteOnly);
        config.write("worker_processes 1; daemon off; pid " + folder.toUtf8() + "/nginx.pid; error_log " + folder.toUtf8()
                     + "/error.log;\nevents { worker_connections 256; }\nhttp {\n"
                       "log_format tls '$server_port $connection $ssl_session_reused';\naccess_log "
                     + folder.toUtf8() + "/access.log tls;\nclient_body_temp_path " + folder.toUtf8()
                     + "/tmp/body;\nproxy_temp_path " + folder.toUtf8() + "/tmp/proxy;\nfastcgi_temp_path "
                     + folder.toUtf8() + "/tmp/fastcgi;\nuwsgi_temp_path " + folder.toUtf8() + "/tmp/uwsgi;\nscgi_temp_path "
                     + folder.toUtf8() + "/tmp/scgi;\nkeepalive_timeout 60s;\nssl_session_cache shared:tls:1m;\n" + servers + "}\n");
        config.close();

        m_process.start(QStringLiteral("/usr/sbin/nginx"), {"-c", folder + QStringLiteral("/nginx.conf"), "-p", folder});
        if (!m_process.waitForStarted(5000))
            return false;
        for (const Site& site : sites) {
            bool up = false;
            for (int attempt = 0; attempt < 100 && !up; ++attempt) {
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, site.port);
                up = probe.waitForConnected(100);
                if (!up)
                    QTest::qWait(50);
            }
            if (!up)
                return false;
        }
        return true;
    }

    ~Nginx()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    // The log lines so far: port, connection, "r" or ".".
    QList<QList<QByteArray>> requests() const
    {
        QFile log(m_folder + QStringLiteral("/access.log"));
        log.open(QIODevice::ReadOnly);
        QList<QList<QByteArray>> lines;
        for (const QByteArray& line : log.readAll().split('\n'))
            if (!line.isEmpty())
                lines << line.split(' ');
        return lines;
    }

private:
    QString m_folder;
    QProcess m_process;
};

QString address(quint16 port, const char* path = "/present/page.html")
{
    return QStringLiteral("https://localhost:%1%2").arg(port).arg(QLatin1String(path));
}
}  // namespace

class TlsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!QFile::exists(QStringLiteral("/usr/sbin/nginx")))
            QSKIP("nginx is not installed (package nginx-light)");
        QVERIFY(m_folder.isValid());
        const QString folder = m_folder.path();
        QVERIFY(openssl(folder, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Test Root",
                                 "-keyout", "ca.key", "-out", "ca.crt", "-addext", "basicConstraints=critical,CA:TRUE",
                                 "-addext", "keyUsage=critical,keyCertSign"}));
        QVERIFY(makeCertificate(folder, "good", "DNS:localhost,IP:127.0.0.1", "ca", 2));
        QVERIFY(makeCertificate(folder, "expired", "DNS:localhost,IP:127.0.0.1", "ca", -1));
        QVERIFY(makeCertificate(folder, "othername", "DNS:other.invalid", "ca", 2));
        QVERIFY(makeCertificate(folder, "selfsigned", "DNS:localhost,IP:127.0.0.1", {}, 2));
        m_authorities = folder + QStringLiteral("/ca.crt");

        m_sites = {{"good"}, {"expired"}, {"othername"}, {"selfsigned"}};
        for (int i = 1; i < ManyHosts; ++i)
            m_sites << Nginx::Site{"good"};
        QVERIFY(m_nginx.start(folder, m_sites));
    }

    void certificatesAreVerified_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<bool>("trustTheRoot");
        QTest::addColumn<bool>("answered");
        QTest::newRow("issued by the trusted root") << "good" << true << true;
        QTest::newRow("issued by a root that is not trusted") << "good" << false << false;
        QTest::newRow("self-signed") << "selfsigned" << true << false;
        QTest::newRow("expired") << "expired" << true << false;
        QTest::newRow("for another name") << "othername" << true << false;
    }
    void certificatesAreVerified()
    {
        QFETCH(QString, certificate);
        QFETCH(bool, trustTheRoot);
        QFETCH(bool, answered);
        const auto site = std::find_if(m_sites.begin(), m_sites.end(), [&](const Nginx::Site& s) { return s.certificate == certificate; });
        // The trusting request goes first, so that a session it leaves behind
        // would be there for the untrusting one to resume.
        CurlTransfer trusting({Timeout, false, m_authorities});
        trusting.request(address(site->port));
        CurlTransfer transfer({Timeout, false, trustTheRoot ? m_authorities : QString()});
        for (int i = 0; i < 2; ++i) {
            transfer.request(address(site->port));
            QCOMPARE(hasResponse(transfer), answered);
        }
    }

    // The store is read once per program: a later connection, in another
    // transfer control, trusts the root although the file has gone.
    void theTrustStoreIsReadOnce()
    {
        QTemporaryDir copy;
        const QString authorities = copy.filePath(QStringLiteral("ca.crt"));
        QVERIFY(QFile::copy(m_authorities, authorities));
        CurlTransfer first({Timeout, false, authorities});
        first.request(address(m_sites[0].port));
        QVERIFY(hasResponse(first));
        QVERIFY(QFile::remove(authorities));

        CurlTransfer second({Timeout, false, authorities});
        second.request(address(m_sites[0].port));
        QVERIFY(hasResponse(second));
        QCOMPARE(second.connectionsOpened(), 1);
    }

    // A second transfer control, with a connection of its own, resumes the
    // first one's TLS session instead of a full handshake.
    void sessionsResumeAcrossTransfers()
    {
        const quint16 port = m_sites[0].port;
        const qsizetype before = m_nginx.requests().size();
        for (int i = 0; i < 2; ++i) {
            CurlTransfer transfer({Timeout, false, m_authorities});
            transfer.request(address(port));
            QVERIFY(hasResponse(transfer));
            QCOMPARE(transfer.connectionsOpened(), 1);
        }
        // nginx logs a request once it has sent the whole answer.
        QTRY_COMPARE(m_nginx.requests().size(), before + 2);
        const auto requests = m_nginx.requests().mid(before);
        QVERIFY2(requests[0][1] != requests[1][1], "two connections");
        QCOMPARE(requests[1][2], QByteArray("r"));
    }

    // Hosts that take turns each keep their connection.
    void idleConnectionsToManyHostsAreKept()
    {
        QList<quint16> ports{m_sites[0].port};
        for (int i = 4; i < m_sites.size(); ++i)
            ports << m_sites[i].port;
        QCOMPARE(ports.size(), ManyHosts);
        CurlTransfer transfer({Timeout, false, m_authorities});
        for (int round = 0; round < 3; ++round) {
            for (quint16 port : ports) {
                transfer.request(address(port));
                QVERIFY(hasResponse(transfer));
            }
        }
        QCOMPARE(transfer.connectionsOpened(), qint64(ManyHosts));
    }

    // A page of real size is read to its end rather than dropped with its
    // connection, also when the next address follows at once.
    void aRealSizePageKeepsItsConnection()
    {
        CurlTransfer transfer({Timeout, false, m_authorities});
        for (int i = 0; i < 5; ++i) {
            transfer.request(address(m_sites[0].port, "/present/large.html"));
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
        CurlTransfer transfer({Timeout, false, tls->certificateFile});

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
        QVERIFY2(waited < CurlTransfer::DrainGrace.count() / 2, qPrintable(QString::number(waited)));
    }

private:
    QTemporaryDir m_folder;
    QString m_authorities;
    QList<Nginx::Site> m_sites;
    Nginx m_nginx;
};

QTEST_MAIN(TlsTest)
#include "tst_tls.moc"
