#include "RealServers.h"

#include "LoopbackServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace {

// A port on which nothing listens now.
quint16 freeLoopbackPort() { return LoopbackServer::refusedPort(); }

bool accepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

bool runOpenssl(const QStringList& arguments, const QString& folder)
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.start(QStringLiteral("openssl"), arguments);
    return openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

std::optional<CertificateChain> CertificateChain::make(const QString& folder)
{
    const auto path = [&](const char* name) { return folder + u'/' + QLatin1StringView(name); };
    const CertificateChain chain{path("root.crt"), path("chain.crt"), path("server.crt"), path("server.key")};
    {
        QFile caExtensions(path("ca.ext"));
        QFile serverExtensions(path("server.ext"));
        if (!caExtensions.open(QIODevice::WriteOnly) || !serverExtensions.open(QIODevice::WriteOnly))
            return std::nullopt;
        caExtensions.write("basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n");
        serverExtensions.write("basicConstraints=CA:FALSE\nsubjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n");
    }
    const QStringList newKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    const bool made =
        runOpenssl(QStringList{"req", "-x509"} + newKey
                       + QStringList{"-days", "2", "-subj", "/CN=Test Root CA", "-addext",
                                     "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
                                     "-keyout", "root.key", "-out", "root.crt"},
                   folder)
        && runOpenssl(QStringList{"req"} + newKey
                          + QStringList{"-subj", "/CN=Test Intermediate CA", "-keyout", "intermediate.key", "-out", "intermediate.csr"},
                      folder)
        && runOpenssl({"x509", "-req", "-in", "intermediate.csr", "-CA", "root.crt", "-CAkey", "root.key", "-CAcreateserial",
                       "-days", "2", "-extfile", "ca.ext", "-out", "intermediate.crt"},
                      folder)
        && runOpenssl(QStringList{"req"} + newKey + QStringList{"-subj", "/CN=127.0.0.1", "-keyout", "server.key", "-out", "server.csr"},
                      folder)
        && runOpenssl({"x509", "-req", "-in", "server.csr", "-CA", "intermediate.crt", "-CAkey", "intermediate.key",
                       "-CAcreateserial", "-days", "2", "-extfile", "server.ext", "-out", "server.crt"},
                      folder);
    if (!made)
        return std::nullopt;
    QFile chainFile(chain.chainFile);
    if (!chainFile.open(QIODevice::WriteOnly))
        return std::nullopt;
    chainFile.write(readAll(chain.leafFile) + readAll(path("intermediate.crt")));
    return chain;
}

RealServer::RealServer(QString program) : m_program(std::move(program))
{
    m_missing = !QFileInfo(m_program).isExecutable();
    if (m_missing)
        m_problem = m_program + QStringLiteral(" is not installed");
    // Servers that drop their privileges to "nobody" still write their logs
    // and pid files here.
    QFile::setPermissions(folder(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther
                                        | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup);
}

RealServer::~RealServer() { stop(); }

void RealServer::start(const std::function<QStringList(quint16 port)>& configureFor)
{
    if (m_missing)
        return;
    // Another test may take the free port before the server listens on it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const quint16 port = freeLoopbackPort();
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->setWorkingDirectory(folder());
        m_process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process->start(m_program, configureFor(port));
        const QDeadlineTimer deadline(20000);
        while (m_process->state() != QProcess::NotRunning && !deadline.hasExpired()) {
            if (accepts(port)) {
                m_port = port;
                return;
            }
            m_process->waitForFinished(100);
        }
        m_process->waitForFinished(100);
        m_problem = m_program + QStringLiteral(" did not start: ") + QString::fromLocal8Bit(m_process->readAll());
        stop();
    }
}

QString RealServer::writeFile(const QString& name, const QByteArray& contents) const
{
    const QString path = folder() + u'/' + name;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("Cannot write %s", qPrintable(path));
    return path;
}

void RealServer::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
    m_port = 0;
}

WebServer::WebServer(QString program, const CertificateChain* tls, bool sendIntermediate)
    : RealServer(std::move(program)), m_sendIntermediate(sendIntermediate)
{
    if (tls)
        m_tls = *tls;
    writeFile(QStringLiteral("www/page"), "a page\n");
}

QString WebServer::url(const QString& path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(m_tls ? "https" : "http").arg(port()).arg(path);
}

QString WebServer::certificateFile() const { return m_sendIntermediate ? m_tls->chainFile : m_tls->leafFile; }

QString WebServer::documentRoot() const { return folder() + QStringLiteral("/www"); }

Nginx::Nginx(const CertificateChain* tls, bool sendIntermediate)
    : WebServer(QStringLiteral("/usr/sbin/nginx"), tls, sendIntermediate)
{
    start([this](quint16 port) {
        const QString tlsLines = this->tls() ? QStringLiteral("listen 127.0.0.1:%1 ssl; ssl_certificate %2; ssl_certificate_key %3;")
                                                   .arg(port)
                                                   .arg(certificateFile(), this->tls()->keyFile)
                                             : QStringLiteral("listen 127.0.0.1:%1;").arg(port);
        const QString configuration =
            QStringLiteral(R"(pid %1/nginx.pid;
error_log %1/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path %1/body; proxy_temp_path %1/proxy; fastcgi_temp_path %1/fastcgi;
  uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;
  server {
    %2
    root %3;
    location = /forbidden { return 403; }
    location = /moved { return 301 /page; }
    location = /error { return 500; }
    location = /unavailable { return 503; }
    location = /bad-gateway { proxy_pass http://127.0.0.1:%4; }
  }
}
)")
                .arg(folder(), tlsLines, documentRoot())
                .arg(freeLoopbackPort());
        const QString file = writeFile(QStringLiteral("nginx.conf"), configuration.toUtf8());
        // One process, in the foreground, that logs nowhere else.
        return QStringList{"-e", folder() + "/error.log", "-c", file, "-g", "daemon off; master_process off;"};
    });
}

Lighttpd::Lighttpd(const CertificateChain* tls, bool sendIntermediate)
    : WebServer(QStringLiteral("/usr/sbin/lighttpd"), tls, sendIntermediate)
{
    start([this](quint16 port) {
        const QString tlsLines = this->tls() ? QStringLiteral("ssl.engine = \"enable\"\nssl.pemfile = \"%1\"\nssl.privkey = \"%2\"\n")
                                                   .arg(certificateFile(), this->tls()->keyFile)
                                             : QString();
        const QString configuration = QStringLiteral(R"(server.modules = ("mod_access", "mod_redirect"%1)
server.bind = "127.0.0.1"
server.port = %2
server.document-root = "%3"
server.errorlog = "%4/error.log"
url.redirect = ("^/moved$" => "/page")
$HTTP["url"] == "/forbidden" { url.access-deny = ("") }
%5)")
                                          .arg(this->tls() ? QStringLiteral(", \"mod_openssl\"") : QString())
                                          .arg(port)
                                          .arg(documentRoot(), folder(), tlsLines);
        writeFile(QStringLiteral("www/forbidden"), "not for you\n");
        return QStringList{"-D", "-f", writeFile(QStringLiteral("lighttpd.conf"), configuration.toUtf8())};
    });
}

QString ForwardProxy::proxyUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }

Tinyproxy::Tinyproxy() : ForwardProxy(QStringLiteral("/usr/bin/tinyproxy"))
{
    start([this](quint16 port) {
        const QString configuration = QStringLiteral(R"(User nobody
Group nogroup
Port %1
Listen 127.0.0.1
Timeout 30
LogFile "%2/tinyproxy.log"
LogLevel Info
PidFile "%2/tinyproxy.pid"
MaxClients 20
Allow 127.0.0.1
ViaProxyName "tinyproxy"
)")
                                          .arg(port)
                                          .arg(folder());
        return QStringList{"-d", "-c", writeFile(QStringLiteral("tinyproxy.conf"), configuration.toUtf8())};
    });
}

Squid::Squid() : ForwardProxy(QStringLiteral("/usr/sbin/squid"))
{
    start([this](quint16 port) {
        // No cache, no helpers, no waiting on shutdown, a lookup given up
        // within seconds; as root it runs as nobody.
        const QString configuration = QStringLiteral(R"(http_port 127.0.0.1:%1
pid_filename %2/squid.pid
cache_effective_user nobody
cache_log %2/cache.log
access_log none
cache_store_log none
cache deny all
coredump_dir %2
pinger_enable off
shutdown_lifetime 0 seconds
dns_timeout 1 seconds
dns_retransmit_interval 1 seconds
http_access allow localhost
http_access deny all
)")
                                          .arg(port)
                                          .arg(folder());
        return QStringList{"-N", "-f", writeFile(QStringLiteral("squid.conf"), configuration.toUtf8())};
    });
}
