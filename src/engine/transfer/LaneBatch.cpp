#include "engine/transfer/LaneBatch.h"
#include "engine/transfer/CurlDriver.h"
#include "engine/address/HostKey.h"
#include "engine/transfer/CurlHandles.h"
#include "engine/transfer/Policy.h"

#include "engine/transfer/TrustStore.h"
#include "engine/Failure.h"

#include <QHash>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <unordered_set>
#include <vector>

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

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
struct LaneBatch::Returns {
    std::mutex guard;
    std::vector<CurlRequest*> finished;  // guarded
    int wake = newEventFile();           // readable while `finished` may hold some

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
    std::vector<CurlRequest*> takeAllFinished()
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

// One driver of a multi handle, touched only by the thread that drives the
// lane; from `returns` on, what a lane with a thread of its own is given work
// by and hands it back through.
struct LaneBatch::Lane {
    CurlDriver driver;

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

    Lane() = default;
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
        if (wake >= 0)
            ::close(wake);
    }
    Lane(const Lane&) = delete;
    Lane& operator=(const Lane&) = delete;

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
                } else if (const std::optional<QString> refusal = driver.add(*command.request)) {
                    command.request->refuse(*refusal);
                    refused.push_back(command.request);
                }
                break;
            case Command::Remove:
                held.erase(command.request);
                if (!broken)
                    driver.remove(*command.request);
                break;
            case Command::CloseIdle:
                if (!broken)
                    driver.closeIdle();
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
            driver.setMaxConnects(connectionLimit.load(std::memory_order_relaxed));
            finished = driver.drive(milliseconds(1000), {wake});
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
            driver.remove(*request);
            request->refuse(QStringLiteral("its lane has failed"));
        }
        held.clear();
        returns->give(dropped);
        acknowledge();
    }
};

LaneBatch::LaneBatch(const TrustSources& trust, int lanes)
{
    lanes = std::clamp(lanes, 1, MostLanes);
    for (int i = 0; i < lanes; ++i)
        m_lanes.push_back(std::make_unique<Lane>());
    if (lanes > 1) {
        m_returns = std::make_unique<Returns>();
        for (const auto& lane : m_lanes)
            lane->start(*m_returns);
    }
    TrustStore::readAhead(trust);
}

// The lanes stop, and their threads end, before the returns go.
LaneBatch::~LaneBatch() = default;

int LaneBatch::lanesFor(int requestsAtOnce)
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
size_t LaneBatch::laneIndexOf(const CurlRequest& request) const
{
    if (m_lanes.size() == 1)
        return 0;
    return qHash(HostKey::originOf(request.url()), 0) % m_lanes.size();
}

LaneBatch::Lane& LaneBatch::laneOf(const CurlRequest& request) { return *m_lanes[laneIndexOf(request)]; }

void LaneBatch::setIdleConnections(long connections, long bound)
{
    if (!m_returns) {
        m_lanes.front()->driver.setMaxConnects(connections);
        return;
    }
    const long lanes = static_cast<long>(m_lanes.size());
    const long perLane = std::min(connections, std::max(1L, bound / lanes));
    for (const auto& lane : m_lanes)
        lane->connectionLimit.store(perLane, std::memory_order_relaxed);
}

void LaneBatch::closeIdleConnections()
{
    if (running() > 0)
        return;
    for (const auto& lane : m_lanes) {
        if (m_returns)
            lane->post({Lane::Command::CloseIdle});
        else
            lane->driver.closeIdle();
    }
    m_mayKeep = false;
}

void LaneBatch::add(CurlRequest& request)
{
    // A lane would take it on a second time, and it would never come back.
    if (m_underWay.contains(&request))
        throw Failure(QStringLiteral("The request is already under way"));
    // curl walks its whole name cache at the end of every transfer to drop
    // stale entries: with thousands of hosts under way that walk cost more
    // than the lookups it saves, a host being looked up once per connection.
    curl_easy_setopt(easyOf(request), CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    Lane& lane = laneOf(request);
    if (m_returns) {
        lane.post({Lane::Command::Add, &request});
    } else if (const std::optional<QString> refusal = lane.driver.add(request)) {
        throw Failure(*refusal);
    }
    m_underWay.insert(&request);
    m_mayKeep = true;
}

void LaneBatch::remove(CurlRequest& request)
{
    CurlRequest* const one = &request;
    remove(std::span(&one, 1));
}

// Every lane is given all its removals before any is waited for: a round
// trip per lane, not per request.
void LaneBatch::remove(std::span<CurlRequest* const> requests)
{
    std::vector<std::uint64_t> tickets(m_lanes.size(), 0);
    std::vector<CurlRequest*> removed;
    for (CurlRequest* request : requests) {
        if (m_underWay.erase(request) == 0)
            continue;
        const size_t lane = laneIndexOf(*request);
        if (!m_returns) {
            m_lanes[lane]->driver.remove(*request);
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

std::vector<CurlRequest*> LaneBatch::wait(milliseconds timeout, std::initializer_list<int> watched)
{
    std::vector<CurlRequest*> finished;
    if (!m_returns) {
        finished = m_lanes.front()->driver.drive(timeout, watched);
    } else {
        // Drained before taking what finished, not after: a hand-back after
        // it rouses the next wait(), and nothing taken now leaves it roused
        // for none.
        drain(m_returns->wake);
        finished = m_returns->takeAllFinished();
        if (finished.empty()) {
            std::vector<pollfd> watches{{m_returns->wake, POLLIN, 0}};
            for (const int descriptor : watched) {
                if (descriptor >= 0)
                    watches.push_back({descriptor, POLLIN, 0});
            }
            const int waitFor = static_cast<int>(std::clamp<long long>(timeout.count(), 0, 1 << 30));
            ::poll(watches.data(), watches.size(), waitFor);
            drain(m_returns->wake);
            finished = m_returns->takeAllFinished();
        }
    }
    for (CurlRequest* request : finished)
        m_underWay.erase(request);
    return finished;
}
