#include "engine/transfer/CurlDriver.h"

#include "engine/Failure.h"
#include "engine/transfer/CurlHandles.h"
#include "engine/transfer/CurlRequest.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

using std::chrono::milliseconds;

namespace {
// Calls done(easy handle, CURLcode) for each transfer curl reports done.
template <class Done>
void forEachFinished(CURLM* multi, Done&& done)
{
    int waiting = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &waiting)) {
        if (message->msg == CURLMSG_DONE)
            done(message->easy_handle, message->data.result);
    }
}
}  // namespace

CurlDriver::CurlDriver()
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

// The multi handle tells its sockets through the callbacks as it closes them.
CurlDriver::~CurlDriver()
{
    curl_multi_cleanup(multiOf(m_multi));
    ::close(m_epoll);
}

// Raises Failure when curl cannot make one.
void* CurlDriver::makeMulti() const
{
    initialiseCurlOnce();
    CURLM* made = curl_multi_init();
    if (!made)
        throw Failure(CannotStart);
    curl_multi_setopt(made, CURLMOPT_SOCKETFUNCTION, &CurlDriver::onSocketInterest);
    curl_multi_setopt(made, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(made, CURLMOPT_TIMERFUNCTION, &CurlDriver::onTimerRequest);
    curl_multi_setopt(made, CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(made, CURLMOPT_MAXCONNECTS, m_maxConnects);
    return made;
}

void CurlDriver::setMaxConnects(long connections)
{
    if (connections == m_maxConnects)
        return;
    m_maxConnects = connections;
    curl_multi_setopt(multiOf(m_multi), CURLMOPT_MAXCONNECTS, connections);
}

void CurlDriver::closeIdle()
{
    if (m_transfers > 0)
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
}

std::optional<QString> CurlDriver::add(CurlRequest& request)
{
    // A handle curl refuses may be under way elsewhere, its own marks kept.
    if (const CURLMcode result = curl_multi_add_handle(multiOf(m_multi), easyOf(request)); result != CURLM_OK)
        return QString::fromUtf8(curl_multi_strerror(result));
    curl_easy_setopt(easyOf(request), CURLOPT_PRIVATE, &request);
    ++m_transfers;
    return std::nullopt;
}

void CurlDriver::remove(CurlRequest& request)
{
    CurlRequest* inside = nullptr;
    curl_easy_getinfo(easyOf(request), CURLINFO_PRIVATE, reinterpret_cast<char**>(&inside));
    if (inside == &request && curl_multi_remove_handle(multiOf(m_multi), easyOf(request)) == CURLM_OK) {
        --m_transfers;
        curl_easy_setopt(easyOf(request), CURLOPT_PRIVATE, nullptr);
    }
}

int CurlDriver::onSocketInterest(void*, int socket, int what, void* self, void* socketData)
{
    auto* driver = static_cast<CurlDriver*>(self);
    const bool known = socketData != nullptr;
    // A socket left in the set would keep it ready for ever, curl ignoring
    // it: whatever the set holds already, the socket ends as curl says.
    if (what == CURL_POLL_REMOVE) {
        ::epoll_ctl(driver->m_epoll, EPOLL_CTL_DEL, socket, nullptr);
        return 0;
    }
    epoll_event event{};
    event.events = ((what & CURL_POLL_IN) ? EPOLLIN : 0u) | ((what & CURL_POLL_OUT) ? EPOLLOUT : 0u);
    event.data.fd = socket;
    if (::epoll_ctl(driver->m_epoll, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, socket, &event) != 0)
        ::epoll_ctl(driver->m_epoll, errno == ENOENT ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, socket, &event);
    if (!known)
        curl_multi_assign(multiOf(driver->m_multi), socket, self);
    return 0;
}

int CurlDriver::onTimerRequest(void*, long milliseconds, void* self)
{
    auto& due = static_cast<CurlDriver*>(self)->m_timerDue;
    if (milliseconds < 0)
        due.reset();
    else
        due = Clock::now() + std::chrono::milliseconds(milliseconds);
    return 0;
}

void CurlDriver::driveDueTimer()
{
    if (!m_timerDue || *m_timerDue > Clock::now())
        return;
    m_timerDue.reset();
    int running = 0;
    curl_multi_socket_action(multiOf(m_multi), CURL_SOCKET_TIMEOUT, 0, &running);
}

std::vector<CurlRequest*> CurlDriver::driveReady()
{
    std::array<epoll_event, 256> events;
    const int ready = ::epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), 0);
    for (int i = 0; i < ready; ++i) {
        const int mask = ((events[i].events & (EPOLLIN | EPOLLHUP)) ? CURL_CSELECT_IN : 0)
                       | ((events[i].events & EPOLLOUT) ? CURL_CSELECT_OUT : 0)
                       | ((events[i].events & EPOLLERR) ? CURL_CSELECT_ERR : 0);
        int running = 0;
        curl_multi_socket_action(multiOf(m_multi), events[i].data.fd, mask, &running);
    }
    driveDueTimer();
    return collectFinished();
}

std::vector<CurlRequest*> CurlDriver::drive(milliseconds timeout, std::initializer_list<int> watched)
{
    driveDueTimer();
    std::vector<CurlRequest*> finished = collectFinished();
    if (!finished.empty())
        return finished;

    Clock::time_point until = Clock::now() + timeout;
    if (m_timerDue)
        until = std::min(until, *m_timerDue);
    const auto left = std::chrono::ceil<milliseconds>(until - Clock::now());
    const int waitFor = static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
    std::vector<pollfd> watches{{m_epoll, POLLIN, 0}};
    for (const int descriptor : watched) {
        if (descriptor >= 0)
            watches.push_back({descriptor, POLLIN, 0});
    }
    ::poll(watches.data(), watches.size(), waitFor);
    return driveReady();
}

std::vector<CurlRequest*> CurlDriver::collectFinished()
{
    std::vector<CurlRequest*> finished;
    forEachFinished(multiOf(m_multi), [&](CURL* easy, CURLcode result) {
        CurlRequest* request = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, reinterpret_cast<char**>(&request));
        // The message is gone once its handle leaves the multi handle.
        curl_multi_remove_handle(multiOf(m_multi), easy);
        curl_easy_setopt(easy, CURLOPT_PRIVATE, nullptr);
        --m_transfers;
        if (request) {
            request->finish(result);
            finished.push_back(request);
        }
    });
    return finished;
}
