#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <queue>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

// Whose turn it is to ask: each host has a queue of its waiting positions in
// a list, takes one request at a time, and after each answer rests for the
// pause before its next; a host that asks to slow down rests longer (its
// Retry-After, or a pause that doubles with each such answer, within the
// longest wait). Of the hosts free to go, the one whose next position comes
// first in the list goes first, so the list moves forward evenly.
//
// The time is always handed in, so that nothing here waits or reads a clock.
class HostTurns {
public:
    using Clock = std::chrono::steady_clock;
    using milliseconds = std::chrono::milliseconds;

    // pause: the user's, after each answer. pauseBetweenAny: every address
    // shares one turn, the pause following every request whatever its host.
    HostTurns(milliseconds pause, bool pauseBetweenAny, milliseconds longestWait);

    // The turn an address waits in: its host's, under any spelling, or the
    // one all share.
    QString turnOf(QByteArrayView address) const;
    // The position waits in the turn, in list order among the others there.
    void wait(const QString& turn, qint64 position, Clock::time_point now);

    struct Next {
        qint64 position;
        QString turn;
    };
    // The position to ask now: the first in the list of those whose turn is
    // free; that turn is busy until it rests, or its position is given back.
    std::optional<Next> startNext(Clock::time_point now);
    // The turn's request is done: it is free again after `rest` (none: at
    // once), or forgotten when it has nothing more to ask.
    void rest(const QString& turn, milliseconds rest, Clock::time_point now);
    // The turn's request got an answer with this status code: its pace
    // after it (Backoff::paceAfter), then its rest. True when the answer
    // asked it to slow down.
    bool answered(const QString& turn, int statusCode, std::optional<milliseconds> retryAfter, Clock::time_point now);
    // The position goes back to the head of its turn, to be asked again
    // after `rest`.
    void askAgain(const QString& turn, qint64 position, milliseconds rest, Clock::time_point now);
    // The position was never asked: back at the head of its turn, which is
    // free at once.
    void giveBack(const QString& turn, qint64 position);
    // When the next turn that rests wakes, if one does.
    std::optional<Clock::time_point> nextWake() const;
    // The host asked to slow down for the first time.
    bool slowedDownFirstTime(const QString& host);

private:
    struct Host {
        std::deque<qint64> waiting;  // positions, in list order
        bool busy = false;
        Clock::time_point restsUntil{};
        milliseconds pause{0};  // longer than the user's while it asks to slow down
    };
    using Due = std::pair<Clock::time_point, QString>;

    Host& hostFor(const QString& turn);
    void wake(Clock::time_point now);
    void forgetWhenDone(const QString& turn, const Host& host, Clock::time_point now);

    milliseconds m_pause;
    bool m_pauseBetweenAny;
    milliseconds m_longestWait;
    std::unordered_map<QString, Host> m_hosts;
    std::set<std::pair<qint64, QString>> m_ready;  // turns free to go, by their next position
    std::priority_queue<Due, std::vector<Due>, std::greater<>> m_resting;
    std::unordered_set<size_t> m_slowedHosts;  // by the hash of their names: only counted
};
