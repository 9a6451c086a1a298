#include "engine/transfer/CurlBatch.h"
#include "engine/transfer/CurlHandles.h"
#include "engine/transfer/OriginsAhead.h"
#include "engine/transfer/Policy.h"

#include "engine/transfer/TrustStore.h"
#include "engine/Failure.h"

#include <QHash>

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <unordered_set>
#include <vector>

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {
// Past this many threads the handshakes would wait for the lanes' shared
// locks (the TLS session cache, OpenSSL's own) more than for a core.
constexpr int MostLanes = 4;

int newEventFile()
{
    const int event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (event < 0)
        throw Failure(CannotStart);
    return event;
}

void rouse(int event)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(event, &one, sizeof one);
}

void drain(int event)
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(event, &count, sizeof count);
}
}  // namespace

// Where the lanes hand finished requests back to the caller's thread.
struct CurlBatch::Returns {
    std::mutex guard;
    std::vector<CurlRequest*> finished;  // guarded
    int wake = newEventFile();  // readable while `finished` may hold some

    ~Returns() { ::close(wake); }
    // The wake-up is written under the lock: a request the caller can take
    // has always signalled already, so a caller that drains before it takes
    // is never woken afterwards for what it took.
    void give(const std::vector<CurlRequest*>& requests)
    {
        const std::lock_guard locked(guard);
        if (finished.empty())
            rouse(wake);
        finished.insert(finished.end(), requests.begin(), requests.end());
    }
    std::vector<CurlRequest*> take()
    {
        const std::lock_guard locked(guard);
        return std::exchange(finished, {});
    }
    // Those of the requests that were waiting here are no longer.
    void withdraw(const std::vector<CurlRequest*>& requests)
    {
        const std::lock_guard locked(guard);
        std::erase_if(finished, [&](CurlRequest* request) {
            return std::find(requests.begin(), requests.end(), request) != requests.end();
        });
    }
};

// One multi handle and the epoll set of its sockets, touched only by the
// thread that drives the lane; from `returns` on, what a lane with a thread
// of its own is given work by and hands it back through.
struct CurlBatch::Lane {
    int epoll = -1;
    CURLM* multi = nullptr;
    // When curl wants to be called back without a socket event, if it does.
    std::optional<Clock::time_point> timerDue;
    long maxConnects = Policy::IdleConnections;
    int transfers = 0;  // under way on this multi handle

    struct Command {
        enum Kind { Add, Remove, CloseIdle } kind;
        CurlRequest* request = nullptr;
    };
    Returns* returns = nullptr;
    int wake = -1;
    std::mutex guard;
    std::condition_variable commandsDone;
    std::vector<Command> commands;  // guarded, as the three that follow
    std::uint64_t posted = 0;
    std::uint64_t done = 0;
    bool stopping = false;
    // What the caller's thread asks the lane to keep, those in use counted.
    std::atomic<long> connectionLimit{Policy::IdleConnections};
    std::thread thread;
    // The thread's own: the requests taken on and not yet handed back or
    // removed, the last command taken, and whether the lane has failed.
    std::unordered_set<CurlRequest*> held;
    std::uint64_t takenUpTo = 0;
    bool broken = false;

    Lane()
    {
        epoll = ::epoll_create1(EPOLL_CLOEXEC);
        if (epoll < 0)
            throw Failure(CannotStart);
        try {
            multi = makeMulti();
        } catch (const Failure&) {
            ::close(epoll);
            throw;
        }
    }
    // The multi handle tells its sockets through the callbacks as it closes them.
    ~Lane()
    {
        if (thread.joinable()) {
            {
                const std::lock_guard locked(guard);
                stopping = true;
            }
            rouse(wake);
            thread.join();
        }
        curl_multi_cleanup(multi);
        ::close(epoll);
        if (wake >= 0)
            ::close(wake);
    }
    Lane(const Lane&) = delete;
    Lane& operator=(const Lane&) = delete;

    CURLM* makeMulti()
    {
        CURLM* made = newMultiHandle();
        curl_multi_setopt(made, CURLMOPT_SOCKETFUNCTION, &Lane::onSocketInterest);
        curl_multi_setopt(made, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(made, CURLMOPT_TIMERFUNCTION, &Lane::onTimerRequest);
        curl_multi_setopt(made, CURLMOPT_TIMERDATA, this);
        curl_multi_setopt(made, CURLMOPT_MAXCONNECTS, maxConnects);
        return made;
    }

    void setMaxConnects(long connections)
    {
        if (connections == maxConnects)
            return;
        maxConnects = connections;
        curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, connections);
    }

    // curl closes a connection too old to reuse only when a later request
    // looks for one: a new multi handle lets them all go at once.
    void closeIdle()
    {
        if (transfers > 0)
            return;
        CURLM* fresh = nullptr;
        try {
            fresh = makeMulti();
        } catch (const Failure&) {
            return;  // the connections stay until a later try
        }
        curl_multi_cleanup(multi);
        multi = fresh;
        timerDue.reset();
    }

    CURLMcode add(CurlRequest& request)
    {
        const CURLMcode result = curl_multi_add_handle(multi, easyOf(request));
        transfers += result == CURLM_OK;
        return result;
    }

    void remove(CurlRequest& request)
    {
        // A request that has come back is no longer in the multi handle.
        CurlRequest* inside = nullptr;
        curl_easy_getinfo(easyOf(request), CURLINFO_PRIVATE, reinterpret_cast<char**>(&inside));
        if (inside == &request && curl_multi_remove_handle(multi, easyOf(request)) == CURLM_OK) {
            --transfers;
            curl_easy_setopt(easyOf(request), CURLOPT_PRIVATE, nullptr);
        }
    }

    static int onSocketInterest(void*, int socket, int what, void* self, void* socketData)
    {
        auto* lane = static_cast<Lane*>(self);
        const bool known = socketData != nullptr;
        // A socket left in the set would keep it ready for ever, curl
        // ignoring it: whatever the set holds already, the socket ends as
        // curl says.
        if (what == CURL_POLL_REMOVE) {
            ::epoll_ctl(lane->epoll, EPOLL_CTL_DEL, socket, nullptr);
            return 0;
        }
        epoll_event event{};
        event.events = ((what & CURL_POLL_IN) ? EPOLLIN : 0u) | ((what & CURL_POLL_OUT) ? EPOLLOUT : 0u);
        event.data.fd = socket;
        if (::epoll_ctl(lane->epoll, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, socket, &event) != 0)
            ::epoll_ctl(lane->epoll, errno == ENOENT ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, socket, &event);
        if (!known)
            curl_multi_assign(lane->multi, socket, self);
        return 0;
    }

    static int onTimerRequest(void*, long milliseconds, void* self)
    {
        auto& due = static_cast<Lane*>(self)->timerDue;
        if (milliseconds < 0)
            due.reset();
        else
            due = Clock::now() + std::chrono::milliseconds(milliseconds);
        return 0;
    }

    void driveDueTimer()
    {
        if (!timerDue || *timerDue > Clock::now())
            return;
        timerDue.reset();
        int running = 0;
        curl_multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &running);
    }

    // Lets the transfers go on for up to `timeout`, or until one of them
    // finishes or a watched descriptor is readable. Gives those finished,
    // out of the multi handle, each given its result by finish().
    std::vector<CurlRequest*> drive(milliseconds timeout, std::initializer_list<int> watched)
    {
        // What curl asked to be called back for by now (a new request
        // starts that way) comes first.
        driveDueTimer();
        std::vector<CurlRequest*> finished = collectFinished();
        if (!finished.empty())
            return finished;

        Clock::time_point until = Clock::now() + timeout;
        if (timerDue)
            until = std::min(until, *timerDue);
        const auto left = std::chrono::ceil<milliseconds>(until - Clock::now());
        const int waitFor = static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
        // The epoll descriptor is readable when one of curl's sockets is ready.
        std::vector<pollfd> watches{{epoll, POLLIN, 0}};
        for (const int descriptor : watched) {
            if (descriptor >= 0)
                watches.push_back({descriptor, POLLIN, 0});
        }
        ::poll(watches.data(), watches.size(), waitFor);

        std::array<epoll_event, 256> events;
        const int ready = ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 0);
        for (int i = 0; i < ready; ++i) {
            const int mask = ((events[i].events & (EPOLLIN | EPOLLHUP)) ? CURL_CSELECT_IN : 0)
                | ((events[i].events & EPOLLOUT) ? CURL_CSELECT_OUT : 0)
                | ((events[i].events & EPOLLERR) ? CURL_CSELECT_ERR : 0);
            int running = 0;
            curl_multi_socket_action(multi, events[i].data.fd, mask, &running);
        }
        driveDueTimer();
        return collectFinished();
    }

    std::vector<CurlRequest*> collectFinished()
    {
        std::vector<CurlRequest*> finished;
        forEachFinished(multi, [&](CURL* easy, CURLcode result) {
            CurlRequest* request = nullptr;
            curl_easy_getinfo(easy, CURLINFO_PRIVATE, reinterpret_cast<char**>(&request));
            // The message is gone once its handle leaves the multi handle.
            curl_multi_remove_handle(multi, easy);
            curl_easy_setopt(easy, CURLOPT_PRIVATE, nullptr);
            --transfers;
            if (request) {
                request->finish(result);
                finished.push_back(request);
            }
        });
        return finished;
    }

    // From the caller's thread. Gives the command's ticket: done reaches it
    // once the lane has carried the command out.
    std::uint64_t post(Command command)
    {
        bool wasEmpty = false;
        std::uint64_t ticket = 0;
        {
            const std::lock_guard locked(guard);
            wasEmpty = commands.empty();
            commands.push_back(command);
            ticket = ++posted;
        }
        // The lane takes all that are waiting at once: it was roused for
        // the first of them.
        if (wasEmpty)
            rouse(wake);
        return ticket;
    }
    // From the caller's thread: once this returns, the commands up to the
    // ticket are carried out; a request removed by them is out of the multi
    // handle and, if it finished meanwhile, in `returns`.
    void awaitDone(std::uint64_t ticket)
    {
        std::unique_lock locked(guard);
        commandsDone.wait(locked, [&] { return done >= ticket; });
    }

    void start(Returns& into)
    {
        returns = &into;
        wake = newEventFile();
        // Signals are the caller's thread's business (the interrupt's wake-up
        // pipe): the lane's thread takes none.
        sigset_t all;
        sigset_t before;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &before);
        try {
            thread = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            pthread_sigmask(SIG_SETMASK, &before, nullptr);
            throw Failure(CannotStart);
        }
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }

    void run()
    {
        for (;;) {
            try {
                if (turn())
                    return;
            } catch (...) {
                abandon();
            }
        }
    }

    // One turn of the lane's loop: the commands waiting, then the transfers
    // for up to a second. True once the lane is to stop.
    bool turn()
    {
        std::vector<Command> taken;
        bool stop = false;
        {
            const std::lock_guard locked(guard);
            taken.swap(commands);
            takenUpTo = posted;
            stop = stopping;
        }
        for (const Command& command : taken) {
            if (command.kind == Command::Add)
                held.insert(command.request);
        }
        std::vector<CurlRequest*> refused;
        for (const Command& command : taken) {
            switch (command.kind) {
            case Command::Add:
                if (broken) {
                    command.request->refuse(QStringLiteral("its lane has failed"));
                    refused.push_back(command.request);
                } else if (const CURLMcode result = add(*command.request); result != CURLM_OK) {
                    curl_easy_setopt(easyOf(*command.request), CURLOPT_PRIVATE, nullptr);
                    command.request->refuse(QString::fromUtf8(curl_multi_strerror(result)));
                    refused.push_back(command.request);
                }
                break;
            case Command::Remove:
                held.erase(command.request);
                if (!broken)
                    remove(*command.request);
                break;
            case Command::CloseIdle:
                if (!broken)
                    closeIdle();
                break;
            }
        }
        handBack(refused);
        if (!taken.empty())
            acknowledge();
        if (stop)
            return true;
        std::vector<CurlRequest*> finished;
        if (broken) {
            pollfd watch{wake, POLLIN, 0};
            ::poll(&watch, 1, 1000);
        } else {
            setMaxConnects(connectionLimit.load(std::memory_order_relaxed));
            finished = drive(milliseconds(1000), {wake});
        }
        drain(wake);
        handBack(finished);
        return false;
    }

    void handBack(const std::vector<CurlRequest*>& requests)
    {
        if (requests.empty())
            return;
        returns->give(requests);
        for (CurlRequest* request : requests)
            held.erase(request);
    }

    void acknowledge()
    {
        {
            const std::lock_guard locked(guard);
            done = takenUpTo;
        }
        commandsDone.notify_all();
    }

    // After an exception on the lane's thread nothing it holds can be
    // trusted to go on: every request it took on goes back failed, this
    // machine's fault, and it takes on no more; the caller's thread hears
    // of it as of any request handed back.
    void abandon() noexcept
    {
        broken = true;
        std::vector<CurlRequest*> dropped(held.begin(), held.end());
        for (CurlRequest* request : dropped) {
            curl_multi_remove_handle(multi, easyOf(*request));
            curl_easy_setopt(easyOf(*request), CURLOPT_PRIVATE, nullptr);
            request->refuse(QStringLiteral("its lane has failed"));
        }
        held.clear();
        transfers = 0;
        returns->give(dropped);
        acknowledge();
    }
};

CurlBatch::CurlBatch() : CurlBatch(QString()) {}

CurlBatch::CurlBatch(const QString& certificateAuthorityFile, int lanes)
{
    lanes = std::clamp(lanes, 1, MostLanes);
    for (int i = 0; i < lanes; ++i)
        m_lanes.push_back(std::make_unique<Lane>());
    if (lanes > 1) {
        m_returns = std::make_unique<Returns>();
        for (const auto& lane : m_lanes)
            lane->start(*m_returns);
    }
    TrustStore::readAhead(certificateAuthorityFile);
}

// The lanes stop, and their threads end, before the returns go.
CurlBatch::~CurlBatch() = default;

int CurlBatch::lanesFor(int requestsAtOnce)
{
    // The cores this process may run on (a container's or taskset's share),
    // not all the machine has.
    int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        threads = std::max(1, CPU_COUNT(&allowed));
    return std::clamp(std::min(threads, requestsAtOnce), 1, MostLanes);
}

// By the origin's hash, seeded the same in every run, so that a host's
// requests share one lane and its connection.
size_t CurlBatch::laneIndexOf(const CurlRequest& request) const
{
    if (m_lanes.size() == 1)
        return 0;
    return qHash(HostKey::originOf(request.url()), 0) % m_lanes.size();
}

CurlBatch::Lane& CurlBatch::laneOf(const CurlRequest& request)
{
    return *m_lanes[laneIndexOf(request)];
}

void CurlBatch::setIdleConnections(long connections, long bound)
{
    if (!m_returns) {
        m_lanes.front()->setMaxConnects(connections);
        return;
    }
    const long lanes = static_cast<long>(m_lanes.size());
    const long perLane = std::min(connections, std::max(1L, bound / lanes));
    for (const auto& lane : m_lanes)
        lane->connectionLimit.store(perLane, std::memory_order_relaxed);
}

void CurlBatch::closeIdleConnections()
{
    if (running() > 0)
        return;
    for (const auto& lane : m_lanes) {
        if (m_returns)
            lane->post({Lane::Command::CloseIdle});
        else
            lane->closeIdle();
    }
    m_mayKeep = false;
}

void CurlBatch::add(CurlRequest& request)
{
    // A lane would take it on a second time, and it would never come back.
    if (m_underWay.contains(&request))
        throw Failure(QStringLiteral("The request is already under way"));
    curl_easy_setopt(easyOf(request), CURLOPT_PRIVATE, &request);
    // curl walks its whole name cache at the end of every transfer to drop
    // stale entries: with thousands of hosts under way that walk cost more
    // than the lookups it saves, a host being looked up once per connection.
    curl_easy_setopt(easyOf(request), CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    Lane& lane = laneOf(request);
    if (m_returns) {
        lane.post({Lane::Command::Add, &request});
    } else if (const CURLMcode result = lane.add(request); result != CURLM_OK) {
        curl_easy_setopt(easyOf(request), CURLOPT_PRIVATE, nullptr);
        throw Failure(QString::fromUtf8(curl_multi_strerror(result)));
    }
    m_underWay.insert(&request);
    m_mayKeep = true;
}

void CurlBatch::remove(CurlRequest& request)
{
    CurlRequest* const one = &request;
    remove(std::span(&one, 1));
}

// Every lane is given all its removals before any is waited for: a round
// trip per lane, not per request.
void CurlBatch::remove(std::span<CurlRequest* const> requests)
{
    std::vector<std::uint64_t> tickets(m_lanes.size(), 0);
    std::vector<CurlRequest*> removed;
    for (CurlRequest* request : requests) {
        if (m_underWay.erase(request) == 0)
            continue;
        const size_t lane = laneIndexOf(*request);
        if (!m_returns) {
            m_lanes[lane]->remove(*request);
            continue;
        }
        tickets[lane] = m_lanes[lane]->post({Lane::Command::Remove, request});
        removed.push_back(request);
    }
    if (removed.empty())
        return;
    for (size_t lane = 0; lane < m_lanes.size(); ++lane) {
        if (tickets[lane] > 0)
            m_lanes[lane]->awaitDone(tickets[lane]);
    }
    m_returns->withdraw(removed);
}

std::vector<CurlRequest*> CurlBatch::wait(milliseconds timeout, std::initializer_list<int> watched)
{
    std::vector<CurlRequest*> finished;
    if (!m_returns) {
        finished = m_lanes.front()->drive(timeout, watched);
    } else {
        // Drained before the take, not after: a hand-back after it rouses
        // the next wait(), and nothing taken now leaves it roused for none.
        drain(m_returns->wake);
        finished = m_returns->take();
        if (finished.empty()) {
            std::vector<pollfd> watches{{m_returns->wake, POLLIN, 0}};
            for (const int descriptor : watched) {
                if (descriptor >= 0)
                    watches.push_back({descriptor, POLLIN, 0});
            }
            const int waitFor = static_cast<int>(std::clamp<long long>(timeout.count(), 0, 1 << 30));
            ::poll(watches.data(), watches.size(), waitFor);
            drain(m_returns->wake);
            finished = m_returns->take();
        }
    }
    for (CurlRequest* request : finished)
        m_underWay.erase(request);
    return finished;
}
