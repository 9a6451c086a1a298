#include "engine/transfer/CurlBatch.h"
#include "engine/transfer/CurlHandles.h"
#include "engine/transfer/Policy.h"

#include "engine/transfer/TrustStore.h"
#include "engine/Failure.h"

#include <curl/curl.h>

#include <algorithm>


CurlBatch::CurlBatch()
{
    m_multi = newMultiHandle();
}

CurlBatch::CurlBatch(const QString& certificateAuthorityFile) : CurlBatch()
{
    TrustStore::readAhead(certificateAuthorityFile);
}

CurlBatch::~CurlBatch() { curl_multi_cleanup(multiOf(m_multi)); }

void CurlBatch::setIdleConnections(long connections)
{
    m_idleConnections = connections;
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_MAXCONNECTS, connections);
}

// curl closes a connection too old to reuse only when a later request looks
// for one: a new multi handle lets them all go at once.
void CurlBatch::closeIdleConnections()
{
    if (m_running > 0)
        return;
    CURLM* fresh = newMultiHandle();
    curl_multi_cleanup(multiOf(m_multi));
    m_multi = fresh;
    setIdleConnections(m_idleConnections);
    m_mayKeep = false;
}

void CurlBatch::add(CurlRequest& request)
{
    curl_easy_setopt(easyOf(request), CURLOPT_PRIVATE, &request);
    if (const CURLMcode result = curl_multi_add_handle(multiOf(m_multi), easyOf(request)); result != CURLM_OK)
        throw Failure(QString::fromUtf8(curl_multi_strerror(result)));
    ++m_running;
    m_mayKeep = true;
}

void CurlBatch::remove(CurlRequest& request)
{
    if (curl_multi_remove_handle(multiOf(m_multi), easyOf(request)) == CURLM_OK)
        --m_running;
}

std::vector<CurlRequest*> CurlBatch::wait(std::chrono::milliseconds timeout, std::initializer_list<int> watched)
{
    int stillRunning = 0;
    curl_multi_perform(multiOf(m_multi), &stillRunning);
    std::vector<CurlRequest*> finished = collectFinished();
    if (!finished.empty())
        return finished;
    std::vector<curl_waitfd> watches;
    for (const int descriptor : watched) {
        if (descriptor >= 0)
            watches.push_back({descriptor, CURL_WAIT_POLLIN, 0});
    }
    const int milliseconds = static_cast<int>(std::clamp<long long>(timeout.count(), 0, 1 << 30));
    curl_multi_poll(multiOf(m_multi), watches.data(), static_cast<unsigned>(watches.size()), milliseconds, nullptr);
    curl_multi_perform(multiOf(m_multi), &stillRunning);
    return collectFinished();
}

std::vector<CurlRequest*> CurlBatch::collectFinished()
{
    std::vector<CurlRequest*> finished;
    forEachFinished(multiOf(m_multi), [&](CURL* easy, CURLcode result) {
        CurlRequest* request = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, reinterpret_cast<char**>(&request));
        // The message is gone once its handle leaves the multi handle.
        curl_multi_remove_handle(multiOf(m_multi), easy);
        --m_running;
        if (request) {
            request->finish(result);
            finished.push_back(request);
        }
    });
    return finished;
}
