#pragma once

#include "cli/AddressFilter.h"
#include "cli/AskedAddresses.h"
#include "cli/Defaults.h"
#include "cli/Report.h"
#include "cli/Shard.h"
#include "engine/pacing/HostTurns.h"
#include "engine/transfer/LaneBatch.h"
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
#include <vector>

// Judges a stream of addresses with several requests at once and hands the
// outcomes on in list order, whatever order the answers come in.
//
// Each host takes one request at a time, in its turn (HostTurns). Only a
// look-ahead of addresses beyond the first one not yet judged is taken in: a
// list of any length runs in bounded memory, and one slow host holds back
// the others by at most that look-ahead.
//
// A connection is kept for every origin with an address in the look-ahead, as
// far as the open files allow, and closed after its origin's last one.
//
// An address asked more than once in the list is asked once: the others take
// its outcome (as long as AskedAddresses remembers it).
// A redirect is followed to where it leads, each hop in its own host's turn
// like any address, and a hop to an address already judged takes its outcome.
//
// An address that got no answer at all is asked again (Retry), on a new
// connection, while the other hosts go on.
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
        // Threads driving the requests; as LaneBatch::lanesFor() the jobs
        // unless given.
        std::optional<int> lanes = std::nullopt;
        // Redirects followed, each hop asked in its own host's turn; 0 judges
        // the first answer.
        int redirects = Defaults::Redirects;
        // The addresses of the list left unasked, judged excluded.
        AddressFilter filter = {};
    };
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
    // An address `decided` already (a file on disk, a kind never asked) is
    // asked nothing and handed on in its place. False once the run is stopping.
    bool add(QByteArrayView address, std::optional<Outcome> decided = std::nullopt);
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
        int attempts = 0;         // tries of the address asked now that got an answer, or none for want of one
        bool elsewhere = false;   // another shard's: neither asked nor handed on
        int tries = 0;            // of every hop
        qint64 milliseconds = 0;  // the hops' before the one asked now
        std::unique_ptr<RedirectChain> redirects;  // once an answer led on
        bool waitingForHop = false;                // for the outcome of the line its redirects led to
        // The address asked now: the line's own, or where its redirects led.
        const QByteArray& asked() const { return redirects ? redirects->next() : address; }
    };
    struct Slot {
        std::unique_ptr<CurlRequest> request;
        bool busy = false;
        qint64 position = -1;
        QString turn;
        Clock::time_point started{};
    };

    bool round(int input = -1);
    std::vector<Slot*> takeFromBatch(const std::function<bool(const Slot&)>& taken);
    bool stopping() const { return m_stopped || m_machineFault || m_callbacks.stopping(); }
    void askAgainAfterMachineFault(qint64 position, const QString& turn, const QString& why);
    void startReady();
    void start(qint64 position, const QString& turn);
    void complete(Slot& slot);
    void judged(qint64 position, const Outcome& outcome, bool fresh);
    void judgedAfterRedirects(qint64 position, Outcome outcome, bool answeredHere = false);
    bool followed(qint64 position, const Outcome& answer, QByteArrayView location);
    void askHop(qint64 position);
    void settleHops(qint64 position, const Outcome& outcome, bool pastLimit);
    void askAfresh(const QByteArray& key);
    void queueFor(QByteArrayView address, qint64 position);
    bool askAgainAfterNoAnswer(Slot& slot, Clock::time_point now);
    void remember(const QByteArray& key, const Outcome& outcome);
    void keepIdleConnections();
    void handOnInOrder(bool skippingGaps);
    Entry& entryAt(qint64 position) { return m_lookAhead[static_cast<size_t>(position - m_first)]; }

    Settings m_settings;
    Callbacks m_callbacks;
    int m_wake;
    LaneBatch m_batch;
    std::deque<Entry> m_lookAhead;
    qsizetype m_ownInLookAhead = 0;  // entries of this shard's addresses
    qint64 m_first = 0;              // the position of the look-ahead's first entry
    HostTurns m_turns;
    std::vector<Slot> m_slots;
    OriginsAhead m_ahead;
    long m_mostIdleConnections = 1;
    AskedAddresses m_asked;
    Clock::time_point m_lastRequest = Clock::now();
    int m_busy = 0;                        // slots with a request under way
    int m_jobLimit = 1;                    // how many of them may be, lowered after a fault of this machine
    int m_faultsAlone = 0;                 // faults in a row with no other request under way
    Clock::time_point m_restAfterFault{};  // nothing starts before
    std::optional<QString> m_machineFault;
    bool m_stopped = false;
    bool m_listEnded = false;  // finish() was called: no more addresses come
};
