#include "LoopbackServer.h"
#include "Openssl.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
constexpr qint64 GeneratedChunk = 64 * 1024;
constexpr qint64 QueuedLimit = 1024 * 1024;
}

// One accepted connection: reads request heads, answers them one at a time.
class LoopbackServer::Connection : public QObject {
public:
    Connection(LoopbackServer& server, QTcpSocket* socket) : QObject(socket), m_server(server), m_socket(socket)
    {
        connect(socket, &QTcpSocket::readyRead, this, [this] { readRequests(); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { sendMore(); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        m_trickle.callOnTimeout(this, [this] { trickleOne(); });
    }
    // A request never answered in full stops being under way with its connection.
    ~Connection() override
    {
        if (m_answering)
            m_server.noteAnswered(m_host);
    }

private:
    void readRequests()
    {
        m_received += m_socket->readAll();
        while (!m_answering) {
            const qsizetype end = m_received.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QByteArray head = m_received.left(end + 4);
            m_received.remove(0, end + 4);
            m_host = m_server.noteRequest(head);
            const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
            m_reply = m_server.replyFor(requestLine.value(1));
            m_answering = true;
            if (m_reply.silent)
                return;
            QTimer::singleShot(m_reply.delayMilliseconds, this, [this] { startAnswer(); });
        }
    }

    void startAnswer()
    {
        if (m_reply.bodyDelayMilliseconds > 0 && m_reply.trickleMilliseconds == 0) {
            m_bodyHeldBack = true;
            write(m_reply.head);
            QTimer::singleShot(m_reply.bodyDelayMilliseconds, this, [this] {
                m_bodyHeldBack = false;
                m_pending = m_reply.body;
                m_generatedLeft = m_reply.generatedBodyBytes;
                sendMore();
            });
            return;
        }
        m_pending = m_reply.head + m_reply.body;
        m_generatedLeft = m_reply.generatedBodyBytes;
        if (m_reply.trickleMilliseconds > 0)
            m_trickle.start(m_reply.trickleMilliseconds);
        else
            sendMore();
    }

    void trickleOne()
    {
        if (m_pending.isEmpty()) {
            m_trickle.stop();
            finishAnswer();
            return;
        }
        write(m_pending.left(1));
        m_pending.remove(0, 1);
    }

    void sendMore()
    {
        if (!m_answering || m_trickle.isActive() || m_bodyHeldBack)
            return;
        if (!m_pending.isEmpty()) {
            write(m_pending);
            m_pending.clear();
        }
        while (m_generatedLeft > 0 && m_socket->bytesToWrite() < QueuedLimit) {
            const qint64 chunk = std::min(m_generatedLeft, GeneratedChunk);
            write(QByteArray(chunk, 'x'));
            m_generatedLeft -= chunk;
        }
        if (m_generatedLeft == 0 && m_socket->bytesToWrite() == 0)
            finishAnswer();
    }

    void write(const QByteArray& bytes) { m_server.noteBytesSent(m_socket->write(bytes)); }

    void finishAnswer()
    {
        if (!m_answering)
            return;
        m_answering = false;
        m_server.noteAnswered(m_host);
        switch (m_reply.after) {
        case Reply::After::KeepAlive:
            readRequests();
            break;
        case Reply::After::Close:
            m_socket->disconnectFromHost();
            break;
        case Reply::After::Reset:
            // Give the bytes time to arrive, then close with a reset.
            QTimer::singleShot(100, this, [this] {
                const linger resetOnClose{1, 0};
                setsockopt(static_cast<int>(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &resetOnClose,
                           sizeof resetOnClose);
                m_socket->abort();
            });
            break;
        case Reply::After::Hang:
            break;
        }
    }

    LoopbackServer& m_server;
    QTcpSocket* m_socket;
    QByteArray m_received;
    QByteArray m_host;  // of the request being answered
    Reply m_reply;
    bool m_answering = false;
    bool m_bodyHeldBack = false;
    QByteArray m_pending;
    qint64 m_generatedLeft = 0;
    QTimer m_trickle;
};

LoopbackServer::Reply LoopbackServer::answer(const QByteArray& statusLine, const QByteArray& headerLines,
                                             const QByteArray& body)
{
    Reply reply;
    reply.head = statusLine + "\r\n" + headerLines + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    reply.body = body;
    return reply;
}

// The server and its connections, on the server's thread.
class LoopbackServer::Listener : public QObject {
public:
    explicit Listener(LoopbackServer& owner) : m_owner(owner) {}

    quint16 listen(std::unique_ptr<QTcpServer> server, const QHostAddress& address)
    {
        m_server = std::move(server);
        connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] { accept(); });
        return m_server->listen(address) ? m_server->serverPort() : 0;
    }
    // Closes the server; its connections go with it.
    void stop() { m_server.reset(); }

private:
    void accept()
    {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            m_owner.noteConnection();
            new Connection(m_owner, socket);
        }
    }

    LoopbackServer& m_owner;
    std::unique_ptr<QTcpServer> m_server;
};

LoopbackServer::LoopbackServer(QObject* parent) : QObject(parent)
{
    start([] { return std::make_unique<QTcpServer>(); }, QHostAddress::LocalHost);
    if (!isListening())
        qFatal("The loopback server cannot listen");
}

LoopbackServer::LoopbackServer(const Tls& tls, QObject* parent) : QObject(parent), m_tls(true)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    QFile certificate(tls.certificateFile);
    QFile key(tls.keyFile);
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        qFatal("The loopback server's certificate cannot be read");
    configuration.setLocalCertificate(QSslCertificate(&certificate, QSsl::Pem));
    configuration.setPrivateKey(QSslKey(&key, QSsl::Rsa, QSsl::Pem));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    start(
        [configuration] {
        auto server = std::make_unique<QSslServer>();
        server->setSslConfiguration(configuration);
        // A client that refuses the certificate ends the handshake; that is no error here.
        QObject::connect(server.get(), &QSslServer::errorOccurred, server.get(),
                         [](QSslSocket* socket, auto) { socket->deleteLater(); });
        return server;
        },
        QHostAddress::LocalHost);
    if (!isListening())
        qFatal("The loopback server cannot listen");
}

LoopbackServer::LoopbackServer(const QHostAddress& address, QObject* parent) : QObject(parent)
{
    start([] { return std::make_unique<QTcpServer>(); }, address);
}

LoopbackServer::~LoopbackServer()
{
    QMetaObject::invokeMethod(
        m_listener, [this] { m_listener->stop(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_listener;
}

void LoopbackServer::start(const std::function<std::unique_ptr<QTcpServer>()>& makeServer, const QHostAddress& address)
{
    m_clock.start();
    m_thread.start();
    m_listener = new Listener(*this);
    m_listener->moveToThread(&m_thread);
    QMetaObject::invokeMethod(
        m_listener, [&] { m_port = m_listener->listen(makeServer(), address); }, Qt::BlockingQueuedConnection);
}

std::optional<LoopbackServer::Tls> LoopbackServer::selfSignedCertificate(const QString& folder)
{
    const Tls tls{folder + QStringLiteral("/server.crt"), folder + QStringLiteral("/server.key")};
    if (!runOpenssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                     "subjectAltName=IP:127.0.0.1", "-keyout", tls.keyFile, "-out", tls.certificateFile}))
        return std::nullopt;
    return tls;
}

QString LoopbackServer::url(const QString& path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(m_tls ? "https" : "http").arg(port()).arg(path);
}

QString LoopbackServer::urlOn(const QString& host, const QString& path) const
{
    return QStringLiteral("%1://%2:%3%4").arg(m_tls ? "https" : "http", host).arg(port()).arg(path);
}

QString LoopbackServer::urlOnHost(int number, const QString& path) const
{
    return urlOn(QStringLiteral("h%1.localhost").arg(number), path);
}

void LoopbackServer::route(const QByteArray& path, const Reply& reply)
{
    const QMutexLocker lock(&m_mutex);
    m_routes.insert(path, reply);
}

void LoopbackServer::setFallback(const Reply& reply)
{
    const QMutexLocker lock(&m_mutex);
    m_fallback = reply;
}

LoopbackServer::Reply LoopbackServer::fallback() const
{
    const QMutexLocker lock(&m_mutex);
    return m_fallback;
}

int LoopbackServer::connectionsAccepted() const
{
    const QMutexLocker lock(&m_mutex);
    return m_connections;
}

qint64 LoopbackServer::bytesSent() const
{
    const QMutexLocker lock(&m_mutex);
    return m_bytesSent;
}

QList<QByteArray> LoopbackServer::requests() const
{
    const QMutexLocker lock(&m_mutex);
    return m_requests;
}

QList<QByteArray> LoopbackServer::requestedPaths() const
{
    QList<QByteArray> paths;
    for (const QByteArray& head : requests())
        paths.append(head.left(head.indexOf("\r\n")).split(' ').value(1));
    return paths;
}

quint16 LoopbackServer::refusedPort()
{
    static const quint16 port = [] {
        const int held = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (held < 0 || ::bind(held, reinterpret_cast<sockaddr*>(&address), size) != 0
            || ::getsockname(held, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            qFatal("no loopback port to hold: %s", std::strerror(errno));
        return ntohs(address.sin_port);
    }();
    return port;
}

quint16 LoopbackServer::freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

LoopbackServer::Reply LoopbackServer::replyFor(const QByteArray& path) const
{
    const QMutexLocker lock(&m_mutex);
    const auto found = m_routes.constFind(path);
    return found != m_routes.cend() ? *found : m_fallback;
}

QByteArray LoopbackServer::noteRequest(const QByteArray& head)
{
    QByteArray host;
    for (const QByteArray& line : head.split('\n')) {
        if (line.first(std::min<qsizetype>(line.size(), 5)).compare("host:", Qt::CaseInsensitive) == 0)
            host = line.mid(5).trimmed();
    }
    const QMutexLocker lock(&m_mutex);
    m_requests.append(head);
    m_arrivals.append(m_clock.elapsed());
    const int underWay = ++m_underWay[host];
    m_mostAtOnceByHost[host] = std::max(m_mostAtOnceByHost.value(host), underWay);
    m_mostAtOnce = std::max(m_mostAtOnce, ++m_allUnderWay);
    return host;
}

void LoopbackServer::noteAnswered(const QByteArray& host)
{
    const QMutexLocker lock(&m_mutex);
    --m_underWay[host];
    --m_allUnderWay;
}

QList<qint64> LoopbackServer::arrivalTimes() const
{
    const QMutexLocker lock(&m_mutex);
    return m_arrivals;
}

int LoopbackServer::mostAtOnce() const
{
    const QMutexLocker lock(&m_mutex);
    return m_mostAtOnce;
}

QHash<QByteArray, int> LoopbackServer::mostAtOnceByHost() const
{
    const QMutexLocker lock(&m_mutex);
    return m_mostAtOnceByHost;
}

void LoopbackServer::noteConnection()
{
    const QMutexLocker lock(&m_mutex);
    ++m_connections;
}

void LoopbackServer::noteBytesSent(qint64 bytes)
{
    const QMutexLocker lock(&m_mutex);
    m_bytesSent += bytes;
}
