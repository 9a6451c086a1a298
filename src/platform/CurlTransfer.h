#pragma once

#include "platform/TransferControl.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

class QSocketNotifier;
class QEventLoop;

// The transfer control on libcurl's multi interface, driven from the Qt event
// loop of the user-interface thread: curl tells which sockets to watch and
// when to call it back, socket notifiers and one timer hand the work back to
// it. One easy handle and the multi handle's connection cache serve every
// request, so addresses on one host share one connection.
//
// HTTP/1.1 only, so that the status line is the server's own; GET; redirects
// are answers, not followed; http and https only; proxies from the usual
// environment variables; certificates verified against the system's store.
// At most BodyLimit bytes of a body are read; a smaller body is drained in
// the background so that its connection stays usable.
class CurlTransfer final : public TransferControl {
public:
    struct Options {
        std::chrono::milliseconds timeout;
        bool environmentProxy;            // http_proxy, https_proxy, no_proxy
        QString certificateAuthorityFile;  // empty: the system's store
    };
    static constexpr std::chrono::milliseconds DefaultTimeout{30000};
    static constexpr qint64 BodyLimit = 64 * 1024;
    // How long a new request lets the previous body finish before it drops
    // that transfer and its connection.
    static constexpr std::chrono::milliseconds DrainGrace{1000};

    CurlTransfer();
    explicit CurlTransfer(Options options);
    ~CurlTransfer() override;
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    void request(const QString& address) override;
    QString responseHeaders() override;

    // Connections opened since the control was made (reused ones not counted).
    qint64 connectionsOpened() const { return m_connectionsOpened; }
    // Body bytes taken in for the last address.
    qint64 bodyBytesReceived() const { return m_bodyBytes; }
    bool transferGoing() const { return m_transferGoing; }

private:
    struct SocketWatch;

    static size_t onHeaderLine(char* data, size_t size, size_t count, void* self);
    static size_t onBodyData(char* data, size_t size, size_t count, void* self);
    static int onSocketInterest(void* easy, int socket, int what, void* self, void* socketData);
    static int onTimerRequest(void* multi, long milliseconds, void* self);

    void watchSocket(int socket, int what);
    void forgetSocket(int socket);
    void driveSocket(int socket, int events);
    void driveTimeout();
    void collectFinished();
    void endTransfer();
    void finishPreviousTransfer();
    void waitUntil(const std::function<bool()>& condition, QDeadlineTimer deadline);
    void wake();

    Options m_options;
    void* m_multi = nullptr;
    void* m_easy = nullptr;
    std::map<int, std::unique_ptr<SocketWatch>> m_sockets;
    QTimer m_curlTimer;
    bool m_driving = false;        // inside a notifier's or the timer's slot
    QEventLoop* m_waiting = nullptr;

    bool m_transferGoing = false;
    QByteArray m_block;            // the header block being received
    QByteArray m_finalHeaders;     // the final response's complete header block
    bool m_haveResponse = false;
    qint64 m_bodyBytes = 0;
    qint64 m_connectionsOpened = 0;
};
