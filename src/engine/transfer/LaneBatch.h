#pragma once

#include "engine/transfer/CurlRequest.h"
#include "engine/transfer/Policy.h"

#include <QString>

#include <chrono>
#include <initializer_list>
#include <memory>
#include <span>
#include <unordered_set>
#include <vector>

// Many CurlRequests at once on curl multi handles, driven by curl's socket
// interface over epoll: the caller adds prepared requests and calls wait()
// until they come back. Only the transfer whose socket is ready is driven,
// so a round costs the same with 4 requests under way as with 1,000.
// Connections are cached across requests, so addresses on one host share a
// connection one after the other.
//
// With one lane the caller's thread drives everything in wait(). With more,
// each lane is a thread of its own with its own multi handle, and a request
// goes to the lane its origin falls in, so that a host's connection stays in
// one lane's cache; TLS handshakes, the bulk of the work, then run on every
// core. The caller's side stays on one thread: requests come back, already
// finished, through wait().
class LaneBatch {
public:
    // Requests that trust these authorities will come:
    // their trust store is read from now on, in the background.
    explicit LaneBatch(const TrustSources& trust, int lanes = 1);
    ~LaneBatch();
    LaneBatch(const LaneBatch&) = delete;
    LaneBatch& operator=(const LaneBatch&) = delete;

    // The lanes worth running for this many requests at once: one for each
    // of the machine's threads, up to a few, and one for a single request.
    static int lanesFor(int requestsAtOnce);
    // The descriptors that lanes beyond the first hold: each its epoll set,
    // its eventfd, curl's wake-up pair and, while idle connections are
    // closed, a second one; and the eventfds the lanes wake each other by.
    static constexpr long filesBeyondOneLane(int lanes) { return lanes > 1 ? 6L * (lanes - 1) + 2 : 0; }

    // Starts a prepared request. Raises Failure when it is under way already,
    // or when curl refuses it on one lane; with more, a request curl refuses
    // comes back from wait() marked refused, this machine's fault.
    void add(CurlRequest& request);
    // Ends a request under way; it is not reported by wait(). Once this
    // returns no lane touches the request.
    void remove(CurlRequest& request);
    // Ends these requests as one by one, each lane waited for once.
    void remove(std::span<CurlRequest* const> requests);
    int running() const { return static_cast<int>(m_underWay.size()); }
    // Keeps at most this many connections open once their requests are done
    // (Policy::IdleConnections unless set), the requests under way counted.
    // A host's connections are all in one lane, which cannot know how many
    // hosts the others have: each lane may keep that many, within an equal
    // share of `bound`, the most all of them together may keep (the open
    // files' limit, at least `connections`).
    void setIdleConnections(long connections, long bound);
    // Closes every kept connection (none may be under way); TLS sessions stay
    // in the share (the batch keeps no name lookups).
    void closeIdleConnections();
    // Whether a connection may be kept: one was opened since the last close.
    bool connectionsKept() const { return m_mayKeep; }

    // Lets the transfers go on for up to `timeout`, returning early when one
    // of them finishes or one of the file descriptors `watched` (-1 for none)
    // becomes readable or is hung up. Gives the requests that finished, each
    // already given its CURLcode by finish() and out of the batch.
    std::vector<CurlRequest*> wait(std::chrono::milliseconds timeout, std::initializer_list<int> watched = {});

private:
    struct Lane;
    struct Returns;
    size_t laneIndexOf(const CurlRequest& request) const;
    Lane& laneOf(const CurlRequest& request);

    std::unique_ptr<Returns> m_returns;  // with lanes of their own threads only
    // After m_returns: the lanes' threads end before it goes.
    std::vector<std::unique_ptr<Lane>> m_lanes;
    std::unordered_set<CurlRequest*> m_underWay;  // added, not yet handed back or removed
    bool m_mayKeep = false;
};
