#pragma once

#include "engine/transfer/CurlRequest.h"
#include "engine/transfer/Policy.h"

#include <QString>

#include <chrono>
#include <initializer_list>
#include <optional>
#include <vector>

// Many CurlRequests at once on one curl multi handle, driven by curl's socket
// interface over epoll: the caller adds prepared requests and calls wait()
// until they come back. Only the transfer whose socket is ready is driven,
// so a round costs the same with 4 requests under way as with 1,000.
// Connections are cached across requests, so addresses on one host share a
// connection one after the other.
class CurlBatch {
public:
    CurlBatch();
    // Requests that trust these authorities (empty: the system's) will come:
    // their trust store is read from now on, in the background.
    explicit CurlBatch(const QString& certificateAuthorityFile);
    ~CurlBatch();
    CurlBatch(const CurlBatch&) = delete;
    CurlBatch& operator=(const CurlBatch&) = delete;

    // Starts a prepared request. Raises Failure when curl refuses it.
    void add(CurlRequest& request);
    // Ends a request under way; it is not reported by wait().
    void remove(CurlRequest& request);
    int running() const { return m_running; }
    // Keeps at most this many connections open once their requests are done
    // (Policy::IdleConnections unless set).
    void setIdleConnections(long connections);
    // Closes every kept connection (none may be under way); TLS sessions and
    // name lookups stay in the share.
    void closeIdleConnections();
    // Whether a connection may be kept: one was opened since the last close.
    bool connectionsKept() const { return m_mayKeep; }

    // Lets the transfers go on for up to `timeout`, returning early when one
    // of them finishes or one of the file descriptors `watched` (-1 for none)
    // becomes readable or is hung up. Gives the requests that finished, each
    // already given its CURLcode by finish() and out of the batch.
    std::vector<CurlRequest*> wait(std::chrono::milliseconds timeout, std::initializer_list<int> watched = {});

private:
    static int onSocketInterest(void* easy, int socket, int what, void* self, void* socketData);
    static int onTimerRequest(void* multi, long milliseconds, void* self);
    void* makeMulti();
    void driveDueTimer();
    std::vector<CurlRequest*> collectFinished();

    int m_epoll = -1;
    // When curl wants to be called back without a socket event, if it does.
    std::optional<std::chrono::steady_clock::time_point> m_timerDue;
    void* m_multi = nullptr;
    int m_running = 0;
    long m_idleConnections = Policy::IdleConnections;
    bool m_mayKeep = false;
};
