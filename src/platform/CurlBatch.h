#pragma once

#include "platform/CurlRequest.h"

#include <QString>

#include <chrono>
#include <vector>

// Many CurlRequests at once on one curl multi handle, driven by a plain
// curl_multi_poll loop: the caller adds prepared requests and calls wait()
// until they come back. Connections are cached across requests, so
// addresses on one host share a connection one after the other.
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

    // Lets the transfers go on for up to `timeout`, returning early when one
    // of them finishes or the file descriptor `wake` (if not -1) becomes
    // readable. Gives the requests that finished, each already given its
    // CURLcode by finish() and out of the batch.
    std::vector<CurlRequest*> wait(std::chrono::milliseconds timeout, int wake = -1);

private:
    std::vector<CurlRequest*> collectFinished();

    void* m_multi = nullptr;
    int m_running = 0;
};
