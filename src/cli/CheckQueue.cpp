#include "cli/CheckQueue.h"

#include "cli/FileBudget.h"
#include "engine/Failure.h"
#include "engine/OpenFiles.h"
#include "engine/address/HostKey.h"
#include "engine/pacing/Backoff.h"
#include "engine/pacing/Retry.h"
#include "engine/transfer/Policy.h"
#include "engine/verdict/Verdict.h"

#include <algorithm>
#include <ctime>

#include <poll.h>

namespace {
using std::chrono::milliseconds;
// How long a request may still read its body after the answer has been
// judged, before its connection is dropped.
constexpr milliseconds DrainGrace = Policy::DrainGrace;
// The longest wait between two rounds, so that ticks come a few times a second.
constexpr milliseconds RoundLimit{100};

qint64 millisecondsBetween(CheckQueue::Clock::time_point from, CheckQueue::Clock::time_point to)
{
    return std::chrono::duration_cast<milliseconds>(to - from).count();
}
}  // namespace

CheckQueue::CheckQueue(Settings settings, Callbacks callbacks, int wake)
    : m_settings(std::move(settings)), m_callbacks(std::move(callbacks)), m_wake(wake),
      // The batch starts reading the trust store at once, before the first request needs it.
      m_batch(m_settings.request.trust, m_settings.lanes.value_or(LaneBatch::lanesFor(m_settings.jobs))),
      m_turns(m_settings.pause, m_settings.pauseBetweenAny, m_settings.longestWait),
      m_slots(static_cast<size_t>(m_settings.jobs)), m_jobLimit(m_settings.jobs)
{
    // Whether to ask again is the queue's to decide, and every request that
    // goes out is one the report counts.
    m_settings.request.sendOnce = true;
    // Until told otherwise, what the open files allow beside the requests.
    setIdleConnections(OpenFiles::free() - Policy::FilesKeptFree - m_settings.jobs * FileBudget::FilesPerRequest);
}

void CheckQueue::setIdleConnections(long connections)
{
    m_mostIdleConnections = std::max(1L, connections);
    keepIdleConnections();
}

// An idle connection for every origin still to be asked and, until the input
// ends, for those asked lately: curl counts the connections in use too, and
// closes the oldest idle one beyond.
void CheckQueue::keepIdleConnections()
{
    m_batch.setIdleConnections(
        m_ahead.connectionsWorthKeeping(m_mostIdleConnections, !m_listEnded, Policy::IdleConnections) + m_settings.jobs,
                               m_mostIdleConnections + m_settings.jobs);
}

CheckQueue::~CheckQueue()
{
    takeFromBatch([](const Slot&) { return true; });
}

// The slots under way that `taken` picks, their requests taken out of the batch.
std::vector<CheckQueue::Slot*> CheckQueue::takeFromBatch(const std::function<bool(const Slot&)>& taken)
{
    std::vector<Slot*> picked;
    std::vector<CurlRequest*> requests;
    for (Slot& slot : m_slots) {
        if (slot.busy && taken(slot)) {
            picked.push_back(&slot);
            requests.push_back(slot.request.get());
        }
    }
    m_batch.remove(requests);
    return picked;
}

bool CheckQueue::add(QByteArrayView address, std::optional<Outcome> decided)
{
    // Another shard's lines take no room in the look-ahead, within a bound.
    while (m_ownInLookAhead >= m_settings.lookAhead || std::ssize(m_lookAhead) >= OtherLinesBound * m_settings.lookAhead) {
        if (!round())
            return false;
    }
    if (stopping())
        return false;
    const qint64 position = m_first + std::ssize(m_lookAhead);
    if (m_settings.shard && !m_settings.shard->holds(address)) {
        m_lookAhead.push_back({QByteArray(), std::nullopt, 0, true, 0, 0, nullptr});
        handOnInOrder(false);
        return true;
    }
    m_lookAhead.push_back({QByteArray(address.data(), address.size()), std::nullopt, 0, false, 0, 0, nullptr});
    ++m_ownInLookAhead;
    std::optional<Outcome> earlier = m_callbacks.recorded(position, address);
    // What an earlier run left out by its own options is decided by this
    // run's: a journal resumed without the --exclude still asks.
    if (earlier && earlier->answerClass == AnswerClass::Excluded)
        earlier.reset();
    if (earlier) {
        judged(position, *earlier, false);
        remember(AskedAddresses::keyOf(address), *earlier);
    } else if (decided) {
        judged(position, *decided, true);
    } else if (address.isEmpty()) {
        judged(position, Outcome::unrequested(QStringLiteral("empty address")), true);
    } else if (address.size() > Policy::LongestAddress) {
        judged(position, Outcome::unrequested(QStringLiteral("address longer than 8 MB")), true);
    } else if (const std::optional<QString> leftOut = m_settings.filter.whyLeftOut(address)) {
        judged(position, Outcome::excluded(*leftOut), true);
    } else if (auto [asked, isNew] = m_asked.ask(AskedAddresses::keyOf(address), position); !isNew) {
        if (asked.outcome)
            judged(position, *asked.outcome, true);
        else
            asked.waiting.push_back(position);
    } else {
        m_ahead.add(address);
        queueFor(address, position);
    }
    handOnInOrder(false);
    // Requests start once the look-ahead is full, or the list ends or waits
    // for more: by then it shows which origins have addresses ahead.
    return true;
}

bool CheckQueue::awaitInput(int descriptor)
{
    for (;;) {
        pollfd watch{descriptor, POLLIN, 0};
        if (::poll(&watch, 1, 0) != 0)
            return !stopping();
        if (!round(descriptor))
            return false;
    }
}

bool CheckQueue::finish()
{
    m_listEnded = true;
    keepIdleConnections();
    while (!m_lookAhead.empty() && round()) {
    }
    if (m_lookAhead.empty())
        return true;
    // A request whose answer's head has come is judged on it, as after the
    // grace for its body; the others end unjudged.
    for (Slot* slot : takeFromBatch([](const Slot&) { return true; })) {
        if (slot->request->respondedAt()) {
            complete(*slot);
        } else {
            slot->busy = false;
            --m_busy;
        }
    }
    handOnInOrder(true);
    return false;
}

// One turn of the loop: start what may start, wait for answers, a host's
// rest or the next tick, and take in what came.
bool CheckQueue::round(int input)
{
    if (stopping())
        return false;
    startReady();
    Clock::time_point now = Clock::now();
    Clock::time_point until = now + RoundLimit;
    if (const auto wake = m_turns.nextWake())
        until = std::min(until, *wake);
    for (const Slot& slot : m_slots) {
        if (!slot.busy)
            continue;
        if (const auto answered = slot.request->respondedAt())
            until = std::min(until, *answered + DrainGrace);
    }
    const auto timeout = std::max(milliseconds(0), std::chrono::ceil<milliseconds>(until - now));
    for (CurlRequest* request : m_batch.wait(timeout, {m_wake, input})) {
        const auto slot = std::find_if(m_slots.begin(), m_slots.end(),
                                       [&](const Slot& each) { return each.request.get() == request; });
        if (slot != m_slots.end() && slot->busy)
            complete(*slot);
    }
    now = Clock::now();
    const auto drained = [&](const Slot& slot) {
        const auto answered = slot.request->respondedAt();
        return answered && now - *answered >= DrainGrace;
    };
    for (Slot* slot : takeFromBatch(drained))
        complete(*slot);
    handOnInOrder(false);
    if (m_callbacks.tick)
        m_callbacks.tick();
    startReady();
    // Kept connections go after a minute without a request, as servers let
    // theirs go too (a stream that stopped coming, a host's long rest).
    if (m_busy == 0 && Clock::now() - m_lastRequest >= Policy::IdleConnectionAge && m_batch.connectionsKept()) {
        m_batch.closeIdleConnections();
        keepIdleConnections();
    }
    return !stopping();
}

void CheckQueue::startReady()
{
    while (m_busy < m_jobLimit && Clock::now() >= m_restAfterFault && !stopping()) {
        const auto free = std::find_if(m_slots.begin(), m_slots.end(), [](const Slot& slot) { return !slot.busy; });
        if (free == m_slots.end())
            return;
        const std::optional<HostTurns::Next> next = m_turns.startNext(Clock::now());
        if (!next)
            return;
        start(next->position, next->turn);
    }
}

void CheckQueue::start(qint64 position, const QString& turn)
{
    Slot& slot = *std::find_if(m_slots.begin(), m_slots.end(), [](const Slot& each) { return !each.busy; });
    slot.position = position;
    slot.turn = turn;
    const Entry& entry = entryAt(position);
    // The origin's last address closes its connection once done; while more
    // input may come, nothing is known to be last: a document's links to a
    // host come spread over the run, far beyond the look-ahead.
    const bool lastOfItsOrigin = m_ahead.removeAndTellIfLast(entry.asked()) && m_listEnded;
    try {
        if (!slot.request)
            slot.request = std::make_unique<CurlRequest>(m_settings.request);
    } catch (const Failure& failure) {
        return askAgainAfterMachineFault(position, turn, failure.description());
    }
    try {
        slot.request->prepare(QString::fromUtf8(entry.asked()));
    } catch (const Failure& failure) {
        // The address is not one to ask (nor one to be led to). Nothing was
        // sent: the host is free for its next address at once.
        judgedAfterRedirects(position, entry.redirects ? Outcome::redirectsEnded(failure.description(), Outcome())
                                                       : Outcome::unrequested(failure.description()));
        m_turns.rest(turn, milliseconds(0), Clock::now());
        return;
    }
    if (entry.redirects && HostKey::originOf(entry.asked()) != HostKey::originOf(entry.address))
        slot.request->withoutCredentials();
    if (lastOfItsOrigin)
        slot.request->closeConnectionAfter();
    // The connection that gave no answer may be what failed.
    if (entry.attempts > 0)
        slot.request->useNewConnection();
    keepIdleConnections();
    // Timed from before the add: a lane may have it under way at once.
    const Clock::time_point started = Clock::now();
    // curl refusing a prepared request is curl's, or this machine's, want.
    try {
        m_batch.add(*slot.request);
    } catch (const Failure& failure) {
        return askAgainAfterMachineFault(position, turn, failure.description());
    }
    slot.busy = true;
    ++m_busy;
    slot.started = started;
    m_lastRequest = slot.started;
}

void CheckQueue::complete(Slot& slot)
{
    const Clock::time_point now = Clock::now();
    slot.busy = false;
    --m_busy;
    const CurlRequest& request = *slot.request;
    // Kept connections are idle from the end of the last request.
    m_lastRequest = now;
    if (request.failedHere())
        return askAgainAfterMachineFault(slot.position, slot.turn, request.failureReason());
    m_faultsAlone = 0;
    m_jobLimit = std::min(m_jobLimit + 1, m_settings.jobs);
    Entry& entry = entryAt(slot.position);
    ++entry.attempts;
    ++entry.tries;
    if (askAgainAfterNoAnswer(slot, now))
        return;
    const Outcome answer = Outcome::of(request, millisecondsBetween(slot.started, request.respondedAt().value_or(now)));
    const QString askingHost = QString::fromLatin1(HostKey::hostOf(entry.asked()));
    if (!request.haveResponse()
        || !followed(slot.position, answer, HeaderBlock::values(request.headers(), "location").value(0)))
        judgedAfterRedirects(slot.position, answer, true);

    std::optional<milliseconds> retryAfter;
    if (request.haveResponse()) {
        if (const QList<QByteArray> values = HeaderBlock::values(request.headers(), "retry-after"); !values.isEmpty())
            retryAfter = Backoff::retryAfter(values.constFirst(), std::time(nullptr));
    }
    if (m_turns.answered(slot.turn, answer.statusCode, retryAfter, now) && m_turns.slowedDownFirstTime(askingHost)
        && m_callbacks.slowedDown)
        m_callbacks.slowedDown(askingHost);
}

// An address that got no answer, where another try may get one, goes back to
// the head of its host's queue, and the host rests until then. A run being
// stopped leaves it unjudged, to be asked by the next run.
bool CheckQueue::askAgainAfterNoAnswer(Slot& slot, Clock::time_point now)
{
    const CurlRequest& request = *slot.request;
    const Entry& entry = entryAt(slot.position);
    if (request.haveResponse())
        return false;
    const std::optional<milliseconds> wait = Retry::afterNoResponse(request.fault(), entry.attempts, m_settings.retries,
                                                                    request.keptConnectionClosed(), m_settings.longestWait);
    if (!wait)
        return false;
    m_ahead.add(entry.asked());
    m_turns.askAgain(slot.turn, slot.position, *wait, now);
    return true;
}

// The address goes back to the head of its host's queue, the host rests a
// while, and no more requests go at once than are under way now: one of
// them ending gives back what this one lacked.
void CheckQueue::askAgainAfterMachineFault(qint64 position, const QString& turn, const QString& why)
{
    m_turns.giveBack(turn, position);
    m_ahead.add(entryAt(position).asked());
    m_jobLimit = std::max(1, m_busy);
    if (m_busy > 0)
        return;
    // Nothing else under way will give the resources back: nothing starts
    // for a while, longer each time, and at last the run stops.
    const std::optional<milliseconds> rest = Retry::afterMachineFault(++m_faultsAlone);
    if (!rest) {
        m_machineFault = why;
        return;
    }
    m_restAfterFault = Clock::now() + *rest;
}

void CheckQueue::judged(qint64 position, const Outcome& outcome, bool fresh)
{
    Entry& entry = entryAt(position);
    entry.outcome = outcome;
    m_callbacks.judged(position, entry.address, outcome, fresh);
}

// The outcome of an address asked serves every later line that holds it.
void CheckQueue::remember(const QByteArray& key, const Outcome& outcome)
{
    const auto [lines, hops] = m_asked.remember(key, outcome);
    for (const qint64 position : lines)
        judged(position, outcome, true);
    for (const qint64 position : hops) {
        entryAt(position).waitingForHop = false;
        judgedAfterRedirects(position, outcome);
    }
    m_asked.forgetOldestPastBounds();
}

void CheckQueue::handOnInOrder(bool skippingGaps)
{
    while (!m_lookAhead.empty() && (m_lookAhead.front().outcome || m_lookAhead.front().elsewhere || skippingGaps)) {
        const Entry& entry = m_lookAhead.front();
        if (entry.outcome)
            m_callbacks.inOrder(m_first, entry.address, *entry.outcome);
        m_ownInLookAhead -= !entry.elsewhere;
        m_lookAhead.pop_front();
        ++m_first;
    }
}
