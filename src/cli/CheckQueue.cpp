#include "cli/CheckQueue.h"

#include "platform/CurlTransfer.h"
#include "platform/Failure.h"

#include <algorithm>

namespace {
using std::chrono::milliseconds;
// How long a request may still read its body after the answer has been
// judged, as the window lets it, before its connection is dropped.
constexpr milliseconds DrainGrace = CurlTransfer::DrainGrace;
// The longest wait between two rounds, so that ticks come a few times a second.
constexpr milliseconds RoundLimit{100};
// curl takes no longer address; one refused before it is converted or copied
// any further.
constexpr qsizetype LongestAddress = 8000000;

qint64 millisecondsBetween(CheckQueue::Clock::time_point from, CheckQueue::Clock::time_point to)
{
    return std::chrono::duration_cast<milliseconds>(to - from).count();
}
}  // namespace

CheckQueue::CheckQueue(Settings settings, Callbacks callbacks, int wake)
    : m_settings(std::move(settings)), m_callbacks(std::move(callbacks)), m_wake(wake),
      // The batch starts reading the trust store at once, before the first request needs it.
      m_batch(m_settings.request.certificateAuthorityFile), m_slots(static_cast<size_t>(m_settings.jobs))
{
}

CheckQueue::~CheckQueue()
{
    for (Slot& slot : m_slots) {
        if (slot.busy)
            m_batch.remove(*slot.request);
    }
}

bool CheckQueue::add(QByteArrayView address)
{
    while (std::ssize(m_window) >= m_settings.window) {
        if (!round())
            return false;
    }
    if (m_callbacks.stopping())
        return false;
    const qint64 position = m_first + std::ssize(m_window);
    m_window.push_back({QByteArray(address.data(), address.size()), std::nullopt});
    if (std::optional<Outcome> earlier = m_callbacks.recorded(position, address)) {
        judged(position, *earlier, false);
    } else if (address.isEmpty()) {
        judged(position, Outcome::unrequested(QStringLiteral("empty address")), true);
    } else if (address.size() > LongestAddress) {
        judged(position, Outcome::unrequested(QStringLiteral("address longer than 8 MB")), true);
    } else {
        const QString hostName = hostOf(address);
        Host& host = m_hosts[hostName];
        host.waiting.push_back(position);
        if (!host.busy && host.restsUntil <= Clock::now())
            m_ready.emplace(host.waiting.front(), hostName);
    }
    handOnInOrder(false);
    startReady();
    return true;
}

bool CheckQueue::finish()
{
    while (!m_window.empty() && round()) {
    }
    if (m_window.empty())
        return true;
    // A request whose answer's head has come is judged on it, as after the
    // grace for its body; the others end unjudged.
    for (Slot& slot : m_slots) {
        if (slot.busy) {
            m_batch.remove(*slot.request);
            if (slot.answered)
                complete(slot);
            else
                slot.busy = false;
        }
    }
    handOnInOrder(true);
    return false;
}

// One turn of the loop: start what may start, wait for answers, a host's
// rest or the next tick, and take in what came.
bool CheckQueue::round()
{
    if (m_callbacks.stopping())
        return false;
    startReady();
    Clock::time_point now = Clock::now();
    Clock::time_point until = now + RoundLimit;
    if (!m_resting.empty())
        until = std::min(until, m_resting.top().first);
    for (const Slot& slot : m_slots) {
        if (slot.busy && slot.answered)
            until = std::min(until, *slot.answered + DrainGrace);
    }
    const auto timeout = std::max(milliseconds(0), std::chrono::ceil<milliseconds>(until - now));
    for (CurlRequest* request : m_batch.wait(timeout, m_wake)) {
        const auto slot = std::find_if(m_slots.begin(), m_slots.end(),
                                       [&](const Slot& each) { return each.request.get() == request; });
        if (slot != m_slots.end() && slot->busy)
            complete(*slot);
    }
    now = Clock::now();
    for (Slot& slot : m_slots) {
        if (slot.busy && slot.answered && now - *slot.answered >= DrainGrace) {
            m_batch.remove(*slot.request);
            complete(slot);
        }
    }
    handOnInOrder(false);
    if (m_callbacks.tick)
        m_callbacks.tick();
    startReady();
    return !m_callbacks.stopping();
}

void CheckQueue::startReady()
{
    wakeRestedHosts(Clock::now());
    while (!m_ready.empty() && !m_callbacks.stopping()) {
        const auto free = std::find_if(m_slots.begin(), m_slots.end(), [](const Slot& slot) { return !slot.busy; });
        if (free == m_slots.end())
            return;
        const auto [position, hostName] = *m_ready.begin();
        m_ready.erase(m_ready.begin());
        m_hosts[hostName].waiting.pop_front();
        start(position, hostName);
    }
}

void CheckQueue::start(qint64 position, const QString& hostName)
{
    Slot& slot = *std::find_if(m_slots.begin(), m_slots.end(), [](const Slot& each) { return !each.busy; });
    if (!slot.request) {
        slot.request = std::make_unique<CurlRequest>(m_settings.request);
        slot.request->setOnResponse([&slot] { slot.answered = Clock::now(); });
    }
    slot.answered.reset();
    try {
        slot.request->prepare(QString::fromUtf8(entryAt(position).address));
        m_batch.add(*slot.request);
    } catch (const Failure& failure) {
        // Nothing was sent: the host is free for its next address at once.
        judged(position, Outcome::unrequested(failure.description()), true);
        Host& host = m_hosts[hostName];
        if (!host.waiting.empty())
            m_ready.emplace(host.waiting.front(), hostName);
        else
            m_hosts.erase(hostName);
        return;
    }
    slot.busy = true;
    slot.position = position;
    slot.host = hostName;
    slot.started = Clock::now();
    m_hosts[hostName].busy = true;
}

void CheckQueue::complete(Slot& slot)
{
    const Clock::time_point now = Clock::now();
    slot.busy = false;
    judged(slot.position, Outcome::of(*slot.request, millisecondsBetween(slot.started, slot.answered.value_or(now))),
           true);
    release(slot.host, m_hosts[slot.host], now);
}

void CheckQueue::judged(qint64 position, const Outcome& outcome, bool fresh)
{
    Entry& entry = entryAt(position);
    entry.outcome = outcome;
    m_callbacks.judged(position, entry.address, outcome, fresh);
}

// A host whose request is done rests for the pause; without one it is ready
// for its next address at once, or forgotten when it has none.
void CheckQueue::release(const QString& hostName, Host& host, Clock::time_point now)
{
    host.busy = false;
    if (m_settings.pause > milliseconds(0)) {
        host.restsUntil = now + m_settings.pause;
        m_resting.emplace(host.restsUntil, hostName);
    } else if (!host.waiting.empty()) {
        m_ready.emplace(host.waiting.front(), hostName);
    } else {
        m_hosts.erase(hostName);
    }
}

void CheckQueue::wakeRestedHosts(Clock::time_point now)
{
    while (!m_resting.empty() && m_resting.top().first <= now) {
        const QString hostName = m_resting.top().second;
        m_resting.pop();
        const auto found = m_hosts.find(hostName);
        if (found == m_hosts.end() || found->second.busy || found->second.restsUntil > now)
            continue;
        if (found->second.waiting.empty())
            m_hosts.erase(found);
        else
            m_ready.emplace(found->second.waiting.front(), hostName);
    }
}

void CheckQueue::handOnInOrder(bool skippingGaps)
{
    while (!m_window.empty() && (m_window.front().outcome || skippingGaps)) {
        const Entry& entry = m_window.front();
        if (entry.outcome)
            m_callbacks.inOrder(m_first, entry.address, *entry.outcome);
        m_window.pop_front();
        ++m_first;
    }
}

// With one request at a time the pause follows every request, whatever its
// host, as in the window's run; otherwise each host name keeps its own turn.
QString CheckQueue::hostOf(QByteArrayView address) const
{
    if (m_settings.jobs == 1)
        return {};
    return CurlRequest::hostOf(address);
}
