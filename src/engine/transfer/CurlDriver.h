#pragma once

#include "engine/transfer/Policy.h"

#include <QString>

#include <chrono>
#include <initializer_list>
#include <optional>
#include <vector>

class CurlRequest;

// One curl multi handle driven through curl's socket interface: curl says
// which sockets to watch and when to be called back, the driver keeps those
// sockets in an epoll set and the time in timerDue(), and drives only the
// transfers whose sockets are ready, so a round costs the same with 4
// requests under way as with 1,000. Connections are cached across requests.
//
// Whoever owns a driver runs it from its own loop: a lane's thread waits in
// drive(); the window's transfer control watches descriptor() with one
// socket notifier and timerDue() with one timer, and calls driveReady().
// After any call curl may want its timer elsewhere: the owner reads
// timerDue() again. One thread at a time uses a driver (a lane's is made
// before its thread starts and goes after it ends).
// curl is driven from this class alone.
class CurlDriver {
public:
    using Clock = std::chrono::steady_clock;

    // Raises Failure when curl or the epoll set cannot be had.
    CurlDriver();
    ~CurlDriver();
    CurlDriver(const CurlDriver&) = delete;
    CurlDriver& operator=(const CurlDriver&) = delete;

    // Readable while one of curl's sockets is ready.
    int descriptor() const { return m_epoll; }
    // When curl wants to be called back without a socket event, if it does.
    const std::optional<Clock::time_point>& timerDue() const { return m_timerDue; }

    // Starts a prepared request; curl's words when it refuses it.
    std::optional<QString> add(CurlRequest& request);
    // Takes a request out, if it is in (one that finished is out already).
    void remove(CurlRequest& request);
    // Requests added and neither finished nor removed.
    int transfers() const { return m_transfers; }
    // Connections kept open once their requests are done, those in use counted.
    void setMaxConnects(long connections);
    // curl closes a connection too old to reuse only when a later request
    // looks for one: with no transfer under way, a new multi handle lets
    // them all go at once (TLS sessions stay in the share).
    void closeIdle();

    // Drives what is ready now: the sockets with events, then the timer if
    // it is due. Gives the requests that finished, each out of the multi
    // handle and given its result by finish().
    std::vector<CurlRequest*> driveReady();
    // Waits up to `timeout` for a socket, the timer or one of the `watched`
    // descriptors (-1 for none) to be readable, then drives what is ready.
    // A request the timer was due for (one just added) goes first, at once.
    std::vector<CurlRequest*> drive(std::chrono::milliseconds timeout, std::initializer_list<int> watched);

private:
    static int onSocketInterest(void* easy, int socket, int what, void* self, void* socketData);
    static int onTimerRequest(void* multi, long milliseconds, void* self);
    void* makeMulti() const;
    void driveDueTimer();
    std::vector<CurlRequest*> collectFinished();

    int m_epoll = -1;
    void* m_multi = nullptr;
    std::optional<Clock::time_point> m_timerDue;
    long m_maxConnects = Policy::IdleConnections;
    int m_transfers = 0;
};
