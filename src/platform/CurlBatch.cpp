#include "platform/CurlBatch.h"

#include "platform/CurlShared.h"
#include "platform/Failure.h"

#include <curl/curl.h>

#include <algorithm>

namespace {
CURLM* multiOf(void* handle) { return static_cast<CURLM*>(handle); }
CURL* easyOf(const CurlRequest& request) { return static_cast<CURL*>(request.handle()); }
}  // namespace

CurlBatch::CurlBatch()
{
    initialiseCurlOnce();
    m_multi = curl_multi_init();
    if (!m_multi)
        throw Failure(QStringLiteral("The transfer library cannot be started"));
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_MAXCONNECTS, CurlShared::IdleConnections);
}

CurlBatch::CurlBatch(const QString& certificateAuthorityFile) : CurlBatch()
{
    CurlShared::readTrustStoreAhead(certificateAuthorityFile);
}

CurlBatch::~CurlBatch() { curl_multi_cleanup(multiOf(m_multi)); }

void CurlBatch::setIdleConnections(long connections)
{
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_MAXCONNECTS, connections);
}

void CurlBatch::add(CurlRequest& request)
{
    curl_easy_setopt(easyOf(request), CURLOPT_PRIVATE, &request);
    if (const CURLMcode result = curl_multi_add_handle(multiOf(m_multi), easyOf(request)); result != CURLM_OK)
        throw Failure(QString::fromUtf8(curl_multi_strerror(result)));
    ++m_running;
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
    int waiting = 0;
    while (CURLMsg* message = curl_multi_info_read(multiOf(m_multi), &waiting)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CurlRequest* request = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&request));
        const CURLcode result = message->data.result;
        // The message is gone once its handle leaves the multi handle.
        curl_multi_remove_handle(multiOf(m_multi), message->easy_handle);
        --m_running;
        if (request) {
            request->finish(result);
            finished.push_back(request);
        }
    }
    return finished;
}

