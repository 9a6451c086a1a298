#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>

class QTcpServer;

// An HTTP/1.1 server on 127.0.0.1 that answers each path with whatever bytes
// a test gives it, well formed or not, and can also delay, trickle, stay
// silent, reset, or send a generated body of any size. It answers on a thread
// of its own, so that its work (TLS handshakes above all) never counts as the
// time the program under test held its event loop; what the tests set and
// read goes through a lock.
class LoopbackServer : public QObject {
    Q_OBJECT
public:
    struct Reply {
        enum class After { KeepAlive, Close, Reset, Hang };

        QByteArray head;  // sent as is: status line, headers, blank line
        QByteArray body;
        qint64 generatedBodyBytes = 0;  // this many more body bytes, made as they are sent
        int delayMilliseconds = 0;      // before the first byte
        int bodyDelayMilliseconds = 0;  // between the head and the body
        int trickleMilliseconds = 0;    // one byte of head and body each interval
        bool silent = false;            // reads the request and never answers
        After after = After::KeepAlive;
    };

    // A complete answer: the status line, the extra header lines (each ending
    // in CR LF), Content-Length, the blank line and the body.
    static Reply answer(const QByteArray& statusLine, const QByteArray& headerLines = {}, const QByteArray& body = {});
    // These bytes as they are, well formed or not, and then `after`.
    static Reply raw(const QByteArray& bytes, Reply::After after = Reply::After::KeepAlive)
    {
        Reply reply;
        reply.head = bytes;
        reply.after = after;
        return reply;
    }

    // The certificate and key of the TLS variant, in PEM files.
    struct Tls {
        QString certificateFile;
        QString keyFile;
    };
    // A self-signed certificate for 127.0.0.1 made in the folder with the
    // openssl command, or none when the command is not there.
    static std::optional<Tls> selfSignedCertificate(const QString& folder);

    explicit LoopbackServer(QObject* parent = nullptr);
    // Speaks HTTP over TLS with this certificate: its addresses are https.
    explicit LoopbackServer(const Tls& tls, QObject* parent = nullptr);
    // Plain HTTP on another loopback address (QHostAddress::LocalHostIPv6 for
    // ::1), where the machine may not let it listen: see isListening(). Its
    // addresses are for the test to write; url() names 127.0.0.1.
    explicit LoopbackServer(const QHostAddress& address, QObject* parent = nullptr);
    ~LoopbackServer() override;
    bool isListening() const { return m_port != 0; }

    quint16 port() const { return m_port; }
    QString url(const QString& path) const;
    // The same under another loopback name (a *.localhost one, which curl
    // resolves to 127.0.0.1 itself): a host of its own to the client.
    QString urlOn(const QString& host, const QString& path = QStringLiteral("/")) const;
    // On the numbered one of many such hosts, h<number>.localhost.
    QString urlOnHost(int number, const QString& path = QStringLiteral("/")) const;
    // What a path gets; paths without a route get the fallback, at first a 404.
    void route(const QByteArray& path, const Reply& reply);
    void setFallback(const Reply& reply);
    Reply fallback() const;

    int connectionsAccepted() const;
    qint64 bytesSent() const;
    // The request heads as they arrived, in order.
    QList<QByteArray> requests() const;
    QList<QByteArray> requestedPaths() const;
    // When each request arrived, in milliseconds on the server's own steady
    // clock since it started; in the order of requests().
    QList<qint64> arrivalTimes() const;
    // The most requests under way at once (arrived, answer not yet sent in
    // full): over all, and for each Host header as sent.
    int mostAtOnce() const;
    QHash<QByteArray, int> mostAtOnceByHost() const;

    // A loopback port that refuses every connection: one bound and never
    // listening, held until the tests end, so no other server can take it.
    static quint16 refusedPort();
    // A loopback port free a moment ago, for a server of another process to
    // listen on: it may be taken meanwhile, which that server's start sees.
    static quint16 freePort();

private:
    class Connection;
    class Listener;
    // Makes the server on the server's thread and listens.
    void start(const std::function<std::unique_ptr<QTcpServer>()>& makeServer, const QHostAddress& address);
    // Called on the server's thread.
    Reply replyFor(const QByteArray& path) const;
    // Returns the request's Host header, which answered() takes back.
    QByteArray noteRequest(const QByteArray& head);
    void noteAnswered(const QByteArray& host);
    void noteConnection();
    void noteBytesSent(qint64 bytes);

    QThread m_thread;
    Listener* m_listener = nullptr;  // lives on m_thread
    bool m_tls = false;
    quint16 m_port = 0;

    mutable QMutex m_mutex;  // guards what follows
    QHash<QByteArray, Reply> m_routes;
    Reply m_fallback = answer("HTTP/1.1 404 Not Found", {}, "missing");
    QList<QByteArray> m_requests;
    QList<qint64> m_arrivals;
    QElapsedTimer m_clock;
    QHash<QByteArray, int> m_underWay;  // by Host header
    QHash<QByteArray, int> m_mostAtOnceByHost;
    int m_allUnderWay = 0;
    int m_mostAtOnce = 0;
    int m_connections = 0;
    qint64 m_bytesSent = 0;
};
