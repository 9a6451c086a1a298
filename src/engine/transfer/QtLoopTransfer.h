#pragma once

#include "engine/transfer/CurlDriver.h"
#include "engine/transfer/CurlRequest.h"
#include "engine/transfer/OriginsAhead.h"
#include "engine/transfer/Policy.h"
#include "engine/transfer/TrustStore.h"
#include "engine/transfer/TransferControl.h"

#include <QDeadlineTimer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

class QSocketNotifier;
class QEventLoop;

// The transfer control on libcurl's multi interface, driven from the Qt event
// loop of the user-interface thread: a CurlDriver keeps curl's sockets and
// time, one socket notifier on its descriptor and one timer hand the work
// back to it. One request (see CurlRequest for how it asks) and the multi handle's
// connection cache serve every address, so addresses on one host share one
// connection, and idle connections to many hosts are kept, until the control
// has been idle for the connections' idle age. Told the addresses a run will
// ask, it keeps a connection for every host with an address still to come,
// as far as the limit on open files allows, and closes each host's after its
// last address. A body smaller than the request's limit is drained in the
// background so that its connection stays usable, as long as it arrives in
// less time than a new connection to that host took.
class QtLoopTransfer final : public TransferControl {
public:
    using Options = CurlRequest::Options;

    QtLoopTransfer();
    explicit QtLoopTransfer(Options options);
    ~QtLoopTransfer() override;
    QtLoopTransfer(const QtLoopTransfer&) = delete;
    QtLoopTransfer& operator=(const QtLoopTransfer&) = delete;

    void request(const QString& address) override;
    QString responseHeaders() override;
    void expectAddresses(qsizetype count, const AddressAt& address) override;

    // Connections opened since the control was made (reused ones not counted).
    qint64 connectionsOpened() const { return m_connectionsOpened; }
    // Body bytes taken in for the last address.
    qint64 bodyBytesReceived() const { return m_request.bodyBytes(); }
    // How long kept connections may stay idle before they are closed.
    void setIdleConnectionAge(std::chrono::milliseconds age) { m_idleConnectionAge = age; }

private:
    // Lets another thread end the wait of the loop being watched.
    class CrossThreadWake {
    public:
        void wake();
        void watch(QEventLoop* loop);

    private:
        std::mutex m_guard;
        QEventLoop* m_loop = nullptr;
    };

    void closeIdleConnections();
    void keepIdleConnections();
    void drive();
    void armTimer();
    void endTransfer();
    void finishPreviousTransfer();
    void noteConnectionCost();
    void waitUntil(const std::function<bool()>& condition, QDeadlineTimer deadline, CrossThreadWake* wakeFromWorker = nullptr);
    bool mayUseTls(QByteArrayView address) const;
    void askPrepared(const QByteArray& address, bool lastOfItsOrigin);
    void wake();

    CurlRequest m_request;
    // After the request, which it may hold, and before the notifier on its
    // descriptor.
    CurlDriver m_driver;
    std::unique_ptr<QSocketNotifier> m_ready;  // readable: one of curl's sockets is ready
    QTimer m_curlTimer;
    QTimer m_idleTimer;  // closes the kept connections after their idle age
    QEventLoop* m_waiting = nullptr;

    bool m_transferGoing = false;
    bool m_redirectsEnded = false;  // the address's redirects led nowhere: no answer
    std::chrono::milliseconds m_idleConnectionAge = Policy::IdleConnectionAge;
    qint64 m_connectionsOpened = 0;
    QString m_origin;                     // scheme, host and port of the current address
    std::optional<OriginsAhead> m_ahead;  // once told what a run will ask
    long m_mostIdleConnections = Policy::IdleConnections;
    std::map<QString, std::chrono::microseconds> m_connectionCost;  // by origin
};
