#include "engine/transfer/CurlBatch.h"
#include "engine/transfer/CurlHandles.h"
#include "engine/transfer/Policy.h"

#include "engine/transfer/TrustStore.h"
#include "engine/Failure.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

CurlBatch::CurlBatch()
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0)
        throw Failure(CannotStart);
    try {
        m_multi = makeMulti();
    } catch (const Failure&) {
        ::close(m_epoll);
        throw;
    }
}

CurlBatch::CurlBatch(const QString& certificateAuthorityFile) : CurlBatch()
{
    TrustStore::readAhead(certificateAuthorityFile);
}

// The multi handle tells its sockets through the callbacks as it closes them.
CurlBatch::~CurlBatch()
{
    curl_multi_cleanup(multiOf(m_multi));
    ::close(m_epoll);
}

void* CurlBatch::makeMulti()
{
    CURLM* multi = newMultiHandle();
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &CurlBatch::onSocketInterest);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &CurlBatch::onTimerRequest);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
    return multi;
}

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
    void* fresh = nullptr;
    try {
        fresh = makeMulti();
    } catch (const Failure&) {
        return;  // the connections stay until a later try
    }
    curl_multi_cleanup(multiOf(m_multi));
    m_multi = fresh;
    m_timerDue.reset();
    setIdleConnections(m_idleConnections);
    m_mayKeep = false;
}

void CurlBatch::add(CurlRequest& request)
{
    curl_easy_setopt(easyOf(request), CURLOPT_PRIVATE, &request);
    // curl walks its whole name cache at the end of every transfer to drop
    // stale entries: with thousands of hosts under way that walk cost more
    // than the lookups it saves, a host being looked up once per connection.
    curl_easy_setopt(easyOf(request), CURLOPT_DNS_CACHE_TIMEOUT, 0L);
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

int CurlBatch::onSocketInterest(void*, int socket, int what, void* self, void* socketData)
{
    const int epoll = static_cast<CurlBatch*>(self)->m_epoll;
    const bool known = socketData != nullptr;
    // A socket left in the set would keep it ready for ever, curl ignoring
    // it: whatever the set holds already, the socket ends as curl says.
    if (what == CURL_POLL_REMOVE) {
        ::epoll_ctl(epoll, EPOLL_CTL_DEL, socket, nullptr);
        return 0;
    }
    epoll_event event{};
    event.events = ((what & CURL_POLL_IN) ? EPOLLIN : 0u) | ((what & CURL_POLL_OUT) ? EPOLLOUT : 0u);
    event.data.fd = socket;
    if (::epoll_ctl(epoll, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, socket, &event) != 0)
        ::epoll_ctl(epoll, errno == ENOENT ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, socket, &event);
    if (!known)
        curl_multi_assign(static_cast<CurlBatch*>(self)->m_multi, socket, self);
    return 0;
}

int CurlBatch::onTimerRequest(void*, long milliseconds, void* self)
{
    auto& due = static_cast<CurlBatch*>(self)->m_timerDue;
    if (milliseconds < 0)
        due.reset();
    else
        due = Clock::now() + std::chrono::milliseconds(milliseconds);
    return 0;
}

void CurlBatch::driveDueTimer()
{
    if (!m_timerDue || *m_timerDue > Clock::now())
        return;
    m_timerDue.reset();
    int running = 0;
    curl_multi_socket_action(multiOf(m_multi), CURL_SOCKET_TIMEOUT, 0, &running);
}

std::vector<CurlRequest*> CurlBatch::wait(std::chrono::milliseconds timeout, std::initializer_list<int> watched)
{
    // What curl asked to be called back for by now (a new request starts
    // that way) comes first.
    driveDueTimer();
    std::vector<CurlRequest*> finished = collectFinished();
    if (!finished.empty())
        return finished;

    Clock::time_point until = Clock::now() + timeout;
    if (m_timerDue)
        until = std::min(until, *m_timerDue);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    const int milliseconds = static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
    // The epoll descriptor is readable when one of curl's sockets is ready.
    std::vector<pollfd> watches{{m_epoll, POLLIN, 0}};
    for (const int descriptor : watched) {
        if (descriptor >= 0)
            watches.push_back({descriptor, POLLIN, 0});
    }
    ::poll(watches.data(), watches.size(), milliseconds);

    std::array<epoll_event, 256> events;
    const int ready = ::epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), 0);
    for (int i = 0; i < ready; ++i) {
        const int mask = ((events[i].events & (EPOLLIN | EPOLLHUP)) ? CURL_CSELECT_IN : 0)
            | ((events[i].events & EPOLLOUT) ? CURL_CSELECT_OUT : 0) | ((events[i].events & EPOLLERR) ? CURL_CSELECT_ERR : 0);
        int running = 0;
        curl_multi_socket_action(multiOf(m_multi), events[i].data.fd, mask, &running);
    }
    driveDueTimer();
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
