#pragma once

#include "cli/Defaults.h"
#include "cli/Report.h"
#include "cli/Shard.h"
#include "engine/transfer/CurlBatch.h"
#include "engine/transfer/CurlRequest.h"
#include "engine/transfer/OriginsAhead.h"
#include "engine/transfer/RedirectChain.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <queue>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Judges a stream of addresses with several requests at once and hands the
// outcomes on in list order, whatever order the answers come in.
//
// Each host has a queue of its waiting addresses; a host takes one request at
// a time, and after each answer rests for the pause before its next. Of the
// hosts ready to go, the one whose next address comes first in the list goes
// first, so the list moves forward evenly. Only a look-ahead of addresses
// beyond the first one not yet judged is taken in: a list of any length runs
// in bounded memory, and one slow host holds back the others by at most that
// look-ahead.
//
// A connection is kept for every origin with an address in the look-ahead, as
// far as the open files allow, and closed after its origin's last one.
//
// An address asked more than once in the list is asked once: the others take
// its outcome (as long as it is among the last RememberedAnswers judged).
// A redirect is followed to where it leads, each hop in its own host's turn
// like any address, and a hop to an address already judged takes its outcome.
//
// A host that answers 429 or 503 rests for its Retry-After, or for a pause
// that doubles with each such answer, before its next request. An address
// that got no answer at all is asked again, on a new connection, after a
// wait that doubles each time, while the other hosts go on.
//
// A request that fails for want of something on this machine (file
// descriptors, memory, a local port) is no verdict: its address goes back to
// the head of its host's queue and is asked again once another request ends,
// with no more at once than are under way then. With nothing else under way
// the queue rests a while first, longer each time, and stops at last
// (machineFault()).
class CheckQueue {
public:
    using Clock = std::chrono::steady_clock;

    // Descriptors kept back for what the run may open while it goes: the
    // trust store while it is read, a list file read again, curl's wake-up
    // pair and its epoll descriptor, and a second wake-up pair while idle
    // connections are closed.
    static constexpr long SpareFiles = 8;
    // A request under way holds its connection and, while its host name is
    // looked up, the lookup's socket pair and the system resolver's own files
    // (the hosts file, a socket to the name server).
    static constexpr long FilesPerRequest = 5;
    // How many requests at once, and how many idle connections kept, fit in
    // this many free descriptors: requests first (each with room for an idle
    // connection beside it), every descriptor left for idle connections.
    // Nothing when not even one request fits. The batch's lanes beyond the
    // first hold some too, so the lanes are part of the budget: as many as
    // mostLanes (CurlBatch::lanesFor() the jobs asked for) where at least as
    // many jobs fit beside them, or fewer, at least one.
    struct FileBudget {
        int jobs;
        int lanes;
        long idleConnections;  // at most; as many are kept as origins have an address ahead
    };
    static std::optional<FileBudget> budgetWithin(long freeFiles, int jobs, int mostLanes);

    struct Settings {
        int jobs = Defaults::Jobs;
        std::chrono::milliseconds pause = Defaults::Pause;
        // The pause follows every request, whatever its host, as in the
        // window's run (--jobs 1), rather than each host's own.
        bool pauseBetweenAny = false;
        // The window's transfer: proxies from the environment, the system's certificates.
        CurlRequest::Options request{Defaults::Timeout, true, {}};
        qsizetype lookAhead = Defaults::lookAheadFor(Defaults::Jobs);
        // How many more times an address that got no answer is asked.
        int retries = Defaults::Retries;
        // The longest rest a host is given for asking to slow down, and the
        // longest wait before an address is asked again.
        std::chrono::milliseconds longestWait = Defaults::LongestWait;
        // Only the addresses of this shard are asked and handed on; the
        // others keep their places in the list.
        std::optional<Shard> shard = std::nullopt;
        // Threads driving the requests; as CurlBatch::lanesFor() the jobs
        // unless given.
        std::optional<int> lanes = std::nullopt;
        // Redirects followed, each hop asked in its own host's turn; 0 judges
        // the first answer.
        int redirects = Defaults::Redirects;
    };
    // Outcomes of up to this many addresses asked, in about this many bytes,
    // are remembered for the same address further down the list.
    static constexpr size_t RememberedAnswers = 100000;
    static constexpr qint64 RememberedBytes = 32 * 1024 * 1024;
    // A shard's look-ahead holds at most this many times its size in lines of
    // other shards behind an address still unjudged.
    static constexpr qsizetype OtherLinesBound = 16;
    struct Callbacks {
        // An outcome, in list order.
        std::function<void(qint64 position, QByteArrayView address, const Outcome&)> inOrder;
        // As soon as an address is judged, in the order of the answers.
        // fresh: judged now, not recorded by an earlier run.
        std::function<void(qint64 position, QByteArrayView address, const Outcome&, bool fresh)> judged;
        // What an earlier run recorded for this position, if anything.
        std::function<std::optional<Outcome>(qint64 position, QByteArrayView address)> recorded;
        // Whether to stop: checked between rounds and when `wake` is readable.
        std::function<bool()> stopping;
        // Called after every round of the loop.
        std::function<void()> tick;
        // A host asked to slow down for the first time.
        std::function<void(const QString& host)> slowedDown;
    };

    CheckQueue(Settings settings, Callbacks callbacks, int wake);
    ~CheckQueue();
    // Keeps at most this many connections open between requests, one for
    // each origin still to be asked.
    void setIdleConnections(long connections);

    // Takes the next address of the list, once there is room in the look-ahead.
    // False once the run is stopping.
    bool add(QByteArrayView address);
    // Starts no more requests: finish() ends those under way, as for a signal.
    void stop() { m_stopped = true; }
    // Lets the requests under way go on until the descriptor can be read
    // without blocking; false once the run is stopping.
    bool awaitInput(int descriptor);
    // Why the run stopped for this machine's own fault, if it did.
    const std::optional<QString>& machineFault() const { return m_machineFault; }
    // Waits until every address taken is judged and handed on; true unless
    // the run was stopped, in which case the requests under way are ended
    // (judged when their answer's head has come) and every address judged so
    // far is handed on, in list order, gaps skipped.
    bool finish();

private:
    struct Entry {
        QByteArray address;
        std::optional<Outcome> outcome;
        int attempts = 0;  // tries of the address asked now that got an answer, or none for want of one
        bool elsewhere = false;  // another shard's: neither asked nor handed on
        int tries = 0;     // of every hop
        qint64 milliseconds = 0;  // the hops' before the one asked now
        std::unique_ptr<RedirectChain> redirects;  // once an answer led on
        bool waitingForHop = false;  // for the outcome of the line its redirects led to
        // The address asked now: the line's own, or where its redirects led.
        const QByteArray& asked() const { return redirects ? redirects->next() : address; }
    };
    struct Host {
        std::deque<qint64> waiting;  // positions, in list order
        bool busy = false;
        Clock::time_point restsUntil{};
        std::chrono::milliseconds pause{0};  // longer than the user's while it asks to slow down
    };
    // An address asked once for every line that holds it.
    struct Asked {
        std::optional<Outcome> outcome;
        std::vector<qint64> waiting;  // later positions of the same address
        std::vector<qint64> hopsWaiting;  // positions whose redirects led here
        qint64 line = -1;  // the position that asks it
    };
    using AskedAddresses = std::unordered_map<QByteArray, Asked>;
    struct Slot {
        std::unique_ptr<CurlRequest> request;
        bool busy = false;
        qint64 position = -1;
        QString host;
        Clock::time_point started{};
    };
    using Due = std::pair<Clock::time_point, QString>;

    bool round(int input = -1);
    bool stopping() const { return m_stopped || m_machineFault || m_callbacks.stopping(); }
    void askAgainAfterMachineFault(qint64 position, const QString& hostName, const QString& why);
    void startReady();
    void start(qint64 position, const QString& hostName);
    void complete(Slot& slot);
    void judged(qint64 position, const Outcome& outcome, bool fresh);
    void judgedAfterRedirects(qint64 position, Outcome outcome, bool answeredHere = false);
    bool followed(qint64 position, const Outcome& answer, QByteArrayView location);
    void askHop(qint64 position);
    void settleHops(qint64 position, const Outcome& outcome, bool pastLimit);
    void askAfresh(AskedAddresses::iterator asked);
    void queueFor(const QString& hostName, qint64 position);
    bool askAgainAfterNoAnswer(Slot& slot, Clock::time_point now);
    void rest(const QString& hostName, Host& host, std::chrono::milliseconds rest, Clock::time_point now);
    void forgetWhenDone(const QString& hostName, const Host& host, Clock::time_point now);
    void remember(QByteArrayView address, const Outcome& outcome);
    void rememberKey(const QByteArray& key, const Outcome& outcome);
    static qint64 rememberedBytesOf(QByteArrayView address, const Outcome& outcome);
    void keepIdleConnections();
    void wakeRestedHosts(Clock::time_point now);
    void handOnInOrder(bool skippingGaps);
    QString hostOf(QByteArrayView address) const;
    Entry& entryAt(qint64 position) { return m_lookAhead[static_cast<size_t>(position - m_first)]; }

    Settings m_settings;
    Callbacks m_callbacks;
    int m_wake;
    CurlBatch m_batch;
    std::deque<Entry> m_lookAhead;
    qsizetype m_ownInLookAhead = 0;  // entries of this shard's addresses
    qint64 m_first = 0;  // the position of the look-ahead's first entry
    std::unordered_map<QString, Host> m_hosts;
    std::set<std::pair<qint64, QString>> m_ready;  // hosts free to go, by their next position
    std::priority_queue<Due, std::vector<Due>, std::greater<>> m_resting;
    std::vector<Slot> m_slots;
    OriginsAhead m_ahead;
    long m_mostIdleConnections = 1;
    AskedAddresses m_asked;
    std::deque<QByteArray> m_answersInOrder;  // the asked addresses answered, oldest first
    qint64 m_rememberedBytes = 0;
    std::unordered_set<size_t> m_slowedHosts;  // by the hash of their names: only counted
    Clock::time_point m_lastRequest = Clock::now();
    int m_busy = 0;      // slots with a request under way
    int m_jobLimit = 1;  // how many of them may be, lowered after a fault of this machine
    int m_faultsAlone = 0;  // faults in a row with no other request under way
    Clock::time_point m_restAfterFault{};  // nothing starts before
    std::optional<QString> m_machineFault;
    bool m_stopped = false;
    bool m_listEnded = false;  // finish() was called: no more addresses come
};
