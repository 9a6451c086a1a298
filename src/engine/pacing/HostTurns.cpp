#include "engine/pacing/HostTurns.h"

#include "engine/address/HostKey.h"
#include "engine/pacing/Backoff.h"

#include <algorithm>

HostTurns::HostTurns(milliseconds pause, bool pauseBetweenAny, milliseconds longestWait)
    : m_pause(pause), m_pauseBetweenAny(pauseBetweenAny), m_longestWait(longestWait)
{
}

QString HostTurns::turnOf(QByteArrayView address) const
{
    if (m_pauseBetweenAny)
        return {};
    return QString::fromLatin1(HostKey::hostOf(address));
}

HostTurns::Host& HostTurns::hostFor(const QString& turn)
{
    auto [found, isNew] = m_hosts.try_emplace(turn);
    if (isNew)
        found->second.pause = m_pause;
    return found->second;
}

// A position waits in its turn in its line's place (a redirect's hop comes
// after later lines of its host), and goes when the host is free and its
// turn comes.
void HostTurns::wait(const QString& turn, qint64 position, Clock::time_point now)
{
    Host& host = hostFor(turn);
    const bool wasReady = !host.waiting.empty() && m_ready.erase({host.waiting.front(), turn}) > 0;
    host.waiting.insert(std::lower_bound(host.waiting.begin(), host.waiting.end(), position), position);
    if (wasReady || (!host.busy && host.restsUntil <= now))
        m_ready.emplace(host.waiting.front(), turn);
}

std::optional<HostTurns::Next> HostTurns::startNext(Clock::time_point now)
{
    wake(now);
    if (m_ready.empty())
        return std::nullopt;
    Next next{m_ready.begin()->first, m_ready.begin()->second};
    m_ready.erase(m_ready.begin());
    Host& host = m_hosts[next.turn];
    host.waiting.pop_front();
    host.busy = true;
    return next;
}

// Without a rest the host is ready for its next position at once, or
// forgotten when it has none.
void HostTurns::rest(const QString& turn, milliseconds rest, Clock::time_point now)
{
    Host& host = m_hosts[turn];
    host.busy = false;
    if (rest > milliseconds(0)) {
        host.restsUntil = now + rest;
        m_resting.emplace(host.restsUntil, turn);
    } else if (!host.waiting.empty()) {
        m_ready.emplace(host.waiting.front(), turn);
    } else {
        host.restsUntil = now;
        forgetWhenDone(turn, host, now);
    }
}

// A host that asks to slow down gets a longer rest; any other answer brings
// back the user's pause.
bool HostTurns::answered(const QString& turn, int statusCode, std::optional<milliseconds> retryAfter, Clock::time_point now)
{
    Host& host = m_hosts[turn];
    const Backoff::Pace pace = Backoff::paceAfter(statusCode, retryAfter, host.pause, m_pause, m_longestWait);
    host.pause = pace.pause;
    rest(turn, pace.rest, now);
    return Backoff::asksToSlowDown(statusCode);
}

void HostTurns::askAgain(const QString& turn, qint64 position, milliseconds rest, Clock::time_point now)
{
    m_hosts[turn].waiting.push_front(position);
    this->rest(turn, rest, now);
}

void HostTurns::giveBack(const QString& turn, qint64 position)
{
    Host& host = m_hosts[turn];
    host.busy = false;
    host.waiting.push_front(position);
    m_ready.emplace(position, turn);
}

std::optional<HostTurns::Clock::time_point> HostTurns::nextWake() const
{
    if (m_resting.empty())
        return std::nullopt;
    return m_resting.top().first;
}

bool HostTurns::slowedDownFirstTime(const QString& host) { return m_slowedHosts.insert(qHash(host, 0)).second; }

void HostTurns::wake(Clock::time_point now)
{
    while (!m_resting.empty() && m_resting.top().first <= now) {
        const QString turn = m_resting.top().second;
        m_resting.pop();
        const auto found = m_hosts.find(turn);
        if (found == m_hosts.end() || found->second.busy || found->second.restsUntil > now)
            continue;
        if (found->second.waiting.empty())
            forgetWhenDone(turn, found->second, now);
        else
            m_ready.emplace(found->second.waiting.front(), turn);
    }
}

// A host with nothing to ask is forgotten; one still slowed down only once
// a whole pause has passed after its rest, so that a position of it coming
// meanwhile finds its pause as it was.
void HostTurns::forgetWhenDone(const QString& turn, const Host& host, Clock::time_point now)
{
    const Clock::time_point forgotten = host.restsUntil + host.pause;
    if (host.pause <= m_pause || forgotten <= now)
        m_hosts.erase(turn);
    else
        m_resting.emplace(forgotten, turn);
}
