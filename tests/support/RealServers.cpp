#include "RealServers.h"

#include "LoopbackServer.h"
#include "Openssl.h"

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

bool accepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

std::optional<Certificate> Certificate::make(const QString& folder, const QString& name, const QByteArray& extensions,
                                             const Certificate* issuer, int days)
{
    const QString path = folder + u'/' + name;
    const Certificate certificate{path + QStringLiteral(".crt"), path + QStringLiteral(".key")};
    {
        QFile extensionFile(path + QStringLiteral(".ext"));
        if (!extensionFile.open(QIODevice::WriteOnly) || extensionFile.write(extensions) != extensions.size())
            return std::nullopt;
    }
    QStringList sign{"x509",     "-req",
                     "-in",      name + ".csr",
                     "-days",    QString::number(days),
                     "-extfile", name + ".ext",
                     "-out",     certificate.certificateFile};
    if (issuer)
        sign << "-CA" << issuer->certificateFile << "-CAkey" << issuer->keyFile << "-CAcreateserial";
    else
        sign << "-key" << certificate.keyFile;
    const bool made = runOpenssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-subj",
                                  "/CN=" + name, "-keyout", certificate.keyFile, "-out", name + ".csr"},
                                 folder)
                   && runOpenssl(sign, folder);
    return made ? std::optional(certificate) : std::nullopt;
}

std::optional<CertificateChain> CertificateChain::make(const QString& folder)
{
    const std::optional<Certificate> root = Certificate::make(folder, "root", Certificate::AuthorityExtensions);
    const std::optional<Certificate> intermediate =
        root ? Certificate::make(folder, "intermediate", Certificate::AuthorityExtensions, &*root) : std::nullopt;
    const std::optional<Certificate> server =
        intermediate
            ? Certificate::make(folder, "server",
                                "basicConstraints=CA:FALSE\nsubjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n",
                                &*intermediate)
            : std::nullopt;
    if (!server)
        return std::nullopt;
    const CertificateChain chain{root->certificateFile, folder + QStringLiteral("/chain.crt"), server->certificateFile,
                                 server->keyFile};
    QFile chainFile(chain.chainFile);
    if (!chainFile.open(QIODevice::WriteOnly))
        return std::nullopt;
    chainFile.write(readAll(chain.leafFile) + readAll(intermediate->certificateFile));
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
        const quint16 port = LoopbackServer::freePort();
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->setWorkingDirectory(folder());
        m_process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process->start(m_program, configureFor(port));
        const QDeadlineTimer deadline(20000);
        while (m_process->state() != QProcess::NotRunning && !deadline.hasExpired()) {
            // Another test's server may hold the port this one failed to bind:
            // ours is the one only if it is still running a moment later.
            if (accepts(port) && !m_process->waitForFinished(200)) {
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

WebServer::WebServer(QString program, bool https) : RealServer(std::move(program)), m_https(https)
{
    writeFile(QStringLiteral("www/page"), "a page\n");
    writeFile(QStringLiteral("www/large"), QByteArray(LargePageBytes, 'x'));
}

WebServer::WebServer(QString program, const CertificateChain* tls, bool sendIntermediate)
    : WebServer(std::move(program), tls != nullptr)
{
    if (tls)
        m_tls = *tls;
    m_sendIntermediate = sendIntermediate;
}

QString WebServer::url(const QString& path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(m_https ? "https" : "http").arg(port()).arg(path);
}

QString WebServer::certificateFile() const { return m_sendIntermediate ? m_tls->chainFile : m_tls->leafFile; }

QString WebServer::documentRoot() const { return folder() + QStringLiteral("/www"); }

Nginx::Nginx(const CertificateChain* tls, bool sendIntermediate)
    : WebServer(QStringLiteral("/usr/sbin/nginx"), tls, sendIntermediate)
{
    startSites([this](quint16 port) {
        m_sitePorts = {port};
        return QStringList{this->tls() ? QStringLiteral("listen 127.0.0.1:%1 ssl; ssl_certificate %2; ssl_certificate_key %3;")
                                             .arg(port)
                                             .arg(certificateFile(), this->tls()->keyFile)
                                       : QStringLiteral("listen 127.0.0.1:%1;").arg(port)};
    });
}

Nginx::Nginx(const QList<Certificate>& sites) : WebServer(QStringLiteral("/usr/sbin/nginx"), true)
{
    startSites([&](quint16 port) {
        m_sitePorts = {port};
        while (m_sitePorts.size() < sites.size()) {
            const quint16 another = LoopbackServer::freePort();
            if (!m_sitePorts.contains(another))
                m_sitePorts << another;
        }
        QStringList listenLines;
        for (qsizetype site = 0; site < sites.size(); ++site) {
            listenLines << QStringLiteral("listen 127.0.0.1:%1 ssl; ssl_certificate %2; ssl_certificate_key %3;")
                               .arg(m_sitePorts[site])
                               .arg(sites[site].certificateFile, sites[site].keyFile);
        }
        return listenLines;
    });
}

void Nginx::startSites(const std::function<QStringList(quint16 port)>& listenLines)
{
    RealServer::start([&](quint16 port) {
        QString servers;
        for (const QString& listen : listenLines(port)) {
            servers += QStringLiteral(R"(  server {
    %1
    root %2;
    location = /moved { return 301 /page; }
    location = /moved-to-missing { return 301 /missing; }
    location = /found-elsewhere { return 302 $scheme://elsewhere.localhost:$server_port/page; }
    location = /loop { return 302 /loop-back; }
    location = /loop-back { return 302 /loop; }
    location = /error { return 500; }
    location = /unavailable { return 503; }
    location = /bad-gateway { proxy_pass http://127.0.0.1:%3; }
    location = /compressed { alias %2/large; gzip on; gzip_types *; }
  }
)")
                           .arg(listen, documentRoot())
                           .arg(LoopbackServer::refusedPort());
        }
        const QString configuration = QStringLiteral(R"(pid %1/nginx.pid;
error_log %1/error.log;
events { worker_connections 256; }
http {
  log_format requests '$server_port $connection $ssl_session_reused';
  access_log %1/access.log requests;
  log_format asked '$http_user_agent\t$http_x_tessaly_test';
  access_log %1/asked.log asked;
  ssl_session_cache shared:sessions:1m;
  client_body_temp_path %1/body; proxy_temp_path %1/proxy; fastcgi_temp_path %1/fastcgi;
  uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;
%2}
)")
                                          .arg(folder(), servers);
        const QString file = writeFile(QStringLiteral("nginx.conf"), configuration.toUtf8());
        // One process, in the foreground, that logs nowhere else.
        return QStringList{"-e", folder() + "/error.log", "-c", file, "-g", "daemon off; master_process off;"};
    });
}

QList<Nginx::Request> Nginx::requests() const
{
    QList<Request> requests;
    for (const QByteArray& line : readAll(folder() + QStringLiteral("/access.log")).split('\n')) {
        const QByteArrayList fields = line.split(' ');
        if (fields.size() == 3)
            requests.append({fields[0].toUShort(), fields[1], fields[2] == "r"});
    }
    return requests;
}

QList<QByteArrayList> Nginx::askedHeaders() const
{
    QList<QByteArrayList> headers;
    for (const QByteArray& line : readAll(folder() + QStringLiteral("/asked.log")).split('\n')) {
        if (!line.isEmpty())
            headers.append(line.split('\t'));
    }
    return headers;
}

Lighttpd::Lighttpd(const CertificateChain* tls, bool sendIntermediate)
    : WebServer(QStringLiteral("/usr/sbin/lighttpd"), tls, sendIntermediate)
{
    start([this](quint16 port) {
        const QString tlsLines = this->tls()
                                   ? QStringLiteral("ssl.engine = \"enable\"\nssl.pemfile = \"%1\"\nssl.privkey = \"%2\"\n")
                                         .arg(certificateFile(), this->tls()->keyFile)
                                   : QString();
        const QString configuration = QStringLiteral(R"(server.modules = ("mod_redirect"%1)
server.bind = "127.0.0.1"
server.port = %2
server.document-root = "%3"
server.errorlog = "%4/error.log"
url.redirect = ("^/moved$" => "/page")
%5)")
                                          .arg(this->tls() ? QStringLiteral(", \"mod_openssl\"") : QString())
                                          .arg(port)
                                          .arg(documentRoot(), folder(), tlsLines);
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
