#pragma once

#include "cli/Report.h"
#include "engine/transfer/CurlBatch.h"
#include "engine/transfer/CurlRequest.h"

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
#include <vector>

// Judges a stream of addresses with several requests at once and hands the
// outcomes on in list order, whatever order the answers come in.
//
// Each host has a queue of its waiting addresses; a host takes one request at
// a time, and after each answer rests for the pause before its next. Of the
// hosts ready to go, the one whose next address comes first in the list goes
// first, so the list moves forward evenly. Only a window of addresses beyond
// the first one not yet judged is taken in: a list of any length runs in
// bounded memory, and one slow host holds back the others by at most that
// window.
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
    // pair.
    static constexpr long SpareFiles = 8;
    // A request under way holds its connection and, while its host name is
    // looked up, the lookup's socket pair and the system resolver's own files
    // (the hosts file, a socket to the name server).
    static constexpr long FilesPerRequest = 5;
    // How many requests at once, and how many idle connections kept, fit in
    // this many free descriptors: up to a sixth of them for idle connections,
    // the rest for requests. Nothing when not even one request fits.
    struct FileBudget {
        int jobs;
        long idleConnections;
    };
    static std::optional<FileBudget> budgetWithin(long freeFiles, int jobs);

    struct Settings {
        int jobs = 16;
        std::chrono::milliseconds pause{0};
        // The pause follows every request, whatever its host, as in the
        // window's run (--jobs 1), rather than each host's own.
        bool pauseBetweenAny = false;
        CurlRequest::Options request;
        qsizetype window = 8192;
    };
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
    };

    CheckQueue(Settings settings, Callbacks callbacks, int wake);
    ~CheckQueue();
    // Keeps at most this many connections open between requests.
    void setIdleConnections(long connections);

    // Takes the next address of the list, once there is room in the window.
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
    };
    struct Host {
        std::deque<qint64> waiting;  // positions, in list order
        bool busy = false;
        Clock::time_point restsUntil{};
    };
    struct Slot {
        std::unique_ptr<CurlRequest> request;
        bool busy = false;
        qint64 position = -1;
        QString host;
        Clock::time_point started{};
        std::optional<Clock::time_point> answered;
    };
    using Due = std::pair<Clock::time_point, QString>;

    bool round(int input = -1);
    bool stopping() const { return m_stopped || m_machineFault || m_callbacks.stopping(); }
    void retryLater(qint64 position, const QString& hostName, const QString& why);
    void startReady();
    void start(qint64 position, const QString& hostName);
    void complete(Slot& slot);
    void judged(qint64 position, const Outcome& outcome, bool fresh);
    void release(const QString& hostName, Host& host, Clock::time_point now);
    void wakeRestedHosts(Clock::time_point now);
    void handOnInOrder(bool skippingGaps);
    QString hostOf(QByteArrayView address) const;
    Entry& entryAt(qint64 position) { return m_window[static_cast<size_t>(position - m_first)]; }

    Settings m_settings;
    Callbacks m_callbacks;
    int m_wake;
    CurlBatch m_batch;
    std::deque<Entry> m_window;
    qint64 m_first = 0;  // the position of the window's first entry
    std::unordered_map<QString, Host> m_hosts;
    std::set<std::pair<qint64, QString>> m_ready;  // hosts free to go, by their next position
    std::priority_queue<Due, std::vector<Due>, std::greater<>> m_resting;
    std::vector<Slot> m_slots;
    int m_busy = 0;      // slots with a request under way
    int m_jobLimit = 1;  // how many of them may be, lowered after a fault of this machine
    int m_faultsAlone = 0;  // faults in a row with no other request under way
    Clock::time_point m_restAfterFault{};  // nothing starts before
    std::optional<QString> m_machineFault;
    bool m_stopped = false;
};
