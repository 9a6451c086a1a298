#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

// Server programs that nobody here wrote, each started for a test on a free
// loopback port with its own configuration in a temporary folder, waited for
// until it accepts connections, and stopped with its folder when the object
// goes. They die with the test process, should it end first.

// A key and a certificate made with the openssl command, <name>.key and
// <name>.crt in the folder, the name its subject's common name.
struct Certificate {
    QString certificateFile;
    QString keyFile;
    // What a certificate authority's certificate says of itself.
    static constexpr const char* AuthorityExtensions = "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n";
    // With the X.509 extensions given, one a line; signed by the issuer, or
    // by itself when there is none; valid for `days` from now, or expired as
    // many days ago when negative. None when openssl is missing or fails.
    static std::optional<Certificate> make(const QString& folder, const QString& name, const QByteArray& extensions,
                                           const Certificate* issuer = nullptr, int days = 2);
};

// A root CA, an intermediate CA signed by it and a certificate for 127.0.0.1
// signed by the intermediate.
struct CertificateChain {
    QString rootFile;   // what a client trusts
    QString chainFile;  // the server's certificate, then the intermediate's
    QString leafFile;   // the server's certificate alone
    QString keyFile;
    // In the folder, or none when the openssl command is not there or fails.
    static std::optional<CertificateChain> make(const QString& folder);
};

class RealServer {
public:
    RealServer(const RealServer&) = delete;
    RealServer& operator=(const RealServer&) = delete;
    virtual ~RealServer();

    bool isRunning() const { return m_process && m_process->state() == QProcess::Running && m_port != 0; }
    // The program is not on this machine: the test is skipped, not failed.
    bool isMissing() const { return m_missing; }
    // Why it is not running, for the skip or failure message.
    const QString& problem() const { return m_problem; }
    quint16 port() const { return m_port; }

protected:
    explicit RealServer(QString program);
    // Writes the configuration for a port into folder() and gives the
    // arguments; called again with another port if the first was taken.
    void start(const std::function<QStringList(quint16 port)>& configureFor);
    QString folder() const { return m_folder.path(); }
    // Writes a file in the folder and gives its path.
    QString writeFile(const QString& name, const QByteArray& contents) const;

private:
    void stop();

    QString m_program;
    QTemporaryDir m_folder;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    bool m_missing = false;
    QString m_problem;
};

// The paths the web servers answer, the same on both:
//   /page 200, /large 200 with a page of real size (240 KB), /missing 404,
//   /moved 301 to /page;
// nginx alone also /error 500, /unavailable 503 and /bad-gateway 502 (it
// passes the request on to a port where nothing listens).
class WebServer : public RealServer {
public:
    static constexpr qint64 LargePageBytes = 240 * 1024;

    // Over TLS when the server has a certificate.
    QString url(const QString& path) const;

protected:
    // Over TLS with the chain when one is given (the server sends the
    // intermediate unless sendIntermediate is false).
    WebServer(QString program, const CertificateChain* tls, bool sendIntermediate);
    // Over TLS with certificates of its own when https is true.
    WebServer(QString program, bool https);
    QString certificateFile() const;
    const CertificateChain* tls() const { return m_tls ? &*m_tls : nullptr; }
    QString documentRoot() const;

private:
    bool m_https = false;
    std::optional<CertificateChain> m_tls;
    bool m_sendIntermediate = true;
};

// nginx logs every request it answered: the port it came to, the serial
// number of its connection and whether the connection's TLS session was
// resumed.
class Nginx : public WebServer {
public:
    struct Request {
        quint16 port = 0;
        QByteArray connection;
        bool sessionResumed = false;
    };

    explicit Nginx(const CertificateChain* tls = nullptr, bool sendIntermediate = true);
    // A TLS site for each certificate, each on a port of its own, all with
    // the same pages; port() is the first one's.
    explicit Nginx(const QList<Certificate>& sites);

    quint16 sitePort(qsizetype site) const { return m_sitePorts.at(site); }
    // Logged once the whole answer has gone out.
    QList<Request> requests() const;
    // Each request's User-Agent and X-Tessaly-Test headers as nginx logged
    // them (a header not sent: "-"), in the order the answers went out.
    QList<QByteArrayList> askedHeaders() const;

private:
    // Starts nginx with a server block for each line of listen and TLS
    // directives that listenLines gives for the port it is to take.
    void startSites(const std::function<QStringList(quint16 port)>& listenLines);

    QList<quint16> m_sitePorts;
};

class Lighttpd : public WebServer {
public:
    explicit Lighttpd(const CertificateChain* tls = nullptr, bool sendIntermediate = true);
};

// Forward proxies for 127.0.0.1, tunnelling CONNECT to any port (squid as
// Debian ships it allows only 443, which a test server cannot listen on).
class ForwardProxy : public RealServer {
public:
    // What http_proxy or https_proxy names.
    QString proxyUrl() const;

protected:
    using RealServer::RealServer;
};

class Tinyproxy : public ForwardProxy {
public:
    Tinyproxy();
};

class Squid : public ForwardProxy {
public:
    Squid();
};

// For a test function: skips when the program is not installed, fails when it
// is and does not start.
#define REQUIRE_RUNNING(server)                                         \
    do {                                                                \
        if ((server).isMissing())                                       \
            QSKIP(qPrintable((server).problem()));                      \
        QVERIFY2((server).isRunning(), qPrintable((server).problem())); \
    } while (false)
