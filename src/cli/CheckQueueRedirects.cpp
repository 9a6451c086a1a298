// The part of the queue that follows redirects: each hop asked in its own
// host's turn like any address, a hop to an address already judged or being
// asked taking its outcome, and the line judged where its redirects led.

#include "cli/CheckQueue.h"

#include "engine/address/HostKey.h"

// Whether the answer leads on to another address: that address is then asked
// in its own host's turn, or its outcome taken when it was judged already, or
// the line judged for where its redirects led. False when the answer is the
// line's to be judged on.
bool CheckQueue::followed(qint64 position, const Outcome& answer, QByteArrayView location)
{
    if (m_settings.redirects <= 0 || !RedirectChain::leadsOn(answer.statusCode) || location.isEmpty())
        return false;
    Entry& entry = entryAt(position);
    if (!entry.redirects)
        entry.redirects = std::make_unique<RedirectChain>(entry.address, m_settings.redirects);
    const RedirectChain::Step step = entry.redirects->after(answer.statusCode, location);
    if (step == RedirectChain::Step::Final)
        return false;
    if (step == RedirectChain::Step::Stopped) {
        judgedAfterRedirects(position, Outcome::redirectsEnded(entry.redirects->stopReason(), answer));
        return true;
    }
    entry.milliseconds += answer.milliseconds;
    entry.attempts = 0;
    // The user's patterns and --exclude-private hold for where a redirect
    // leads as for the line itself: such a hop is not asked, and the line
    // is judged left out.
    if (const std::optional<QString> leftOut = m_settings.filter.whyLeftOut(entry.redirects->next())) {
        judgedAfterRedirects(position, Outcome::excluded(*leftOut));
        return true;
    }
    // Asked for this line when new: other lines led here, or holding it, wait.
    if (auto [asked, isNew] = m_asked.ask(AskedAddresses::keyOf(entry.redirects->next()), position); !isNew) {
        if (asked.outcome) {
            judgedAfterRedirects(position, *asked.outcome);
            return true;
        }
        // A line asking it now serves this one too, unless that line waits
        // for another itself: two lines leading to each other would wait
        // for ever.
        const qint64 line = asked.line;
        if (line >= m_first && line != position && !entryAt(line).waitingForHop) {
            asked.hopsWaiting.push_back(position);
            entry.waitingForHop = true;
            return true;
        }
    }
    askHop(position);
    return true;
}

void CheckQueue::askHop(qint64 position)
{
    const QByteArray& next = entryAt(position).asked();
    m_ahead.add(next);
    queueFor(next, position);
}

void CheckQueue::queueFor(QByteArrayView address, qint64 position)
{
    m_turns.wait(m_turns.turnOf(address), position, Clock::now());
}

// The line's outcome: the last answer's, or the one taken for where its
// redirects led, with the hops that led there and every try the line made.
// An answer got here at the end of the hops is that address's own too, for
// a line of it further down the list.
void CheckQueue::judgedAfterRedirects(qint64 position, Outcome outcome, bool answeredHere)
{
    Entry& entry = entryAt(position);
    if (const RedirectChain* redirects = entry.redirects.get()) {
        if (answeredHere) {
            Outcome own = outcome;
            own.attempts = entry.attempts;
            remember(AskedAddresses::keyOf(redirects->next()), own);
        }
        outcome.hops += redirects->hops();
        if (outcome.finalAddress.isEmpty())
            outcome.finalAddress = QString::fromUtf8(redirects->next());
        if (outcome.hops > m_settings.redirects) {
            Outcome ended = Outcome::redirectsEnded(RedirectChain::tooMany(m_settings.redirects), outcome);
            ended.hops = outcome.hops;
            ended.finalAddress = outcome.finalAddress;
            outcome = ended;
        }
        if (redirects->permanent() && outcome.answerClass == AnswerClass::Ok)
            outcome.answerClass = AnswerClass::Moved;
        outcome.milliseconds += entry.milliseconds;
        settleHops(position, outcome, redirects->pastLimit() || outcome.hops > m_settings.redirects);
    }
    outcome.attempts = entry.tries;
    judged(position, outcome, true);
    remember(AskedAddresses::keyOf(entry.address), outcome);
}

// The addresses a line's redirects passed through, asked for it, are
// settled with it: each leads where the line did, in fewer hops. Where the
// line ran past the limit the rest of the way is not known, and what waits
// for them is asked afresh.
void CheckQueue::settleHops(qint64 position, const Outcome& outcome, bool pastLimit)
{
    const RedirectChain& redirects = *entryAt(position).redirects;
    const QList<QByteArray>& keys = redirects.askedKeys();
    for (qsizetype hop = 1; hop < keys.size(); ++hop) {
        const AskedAddresses::Asked* asked = m_asked.find(keys[hop]);
        if (!asked || asked->outcome || asked->line != position)
            continue;
        if (pastLimit) {
            askAfresh(keys[hop]);
            continue;
        }
        Outcome rest = outcome;
        rest.hops -= static_cast<int>(hop);
        if (rest.hops <= 0)
            rest.finalAddress.clear();
        if (rest.answerClass == AnswerClass::Moved && !redirects.permanentAfter(static_cast<int>(hop)))
            rest.answerClass = AnswerClass::Ok;
        remember(keys[hop], rest);
    }
}

// The lines and hops waiting for an address that will get no outcome from
// the line that asked it go on their own: its first line asks it, the others
// wait for that one.
void CheckQueue::askAfresh(const QByteArray& key)
{
    const auto [lines, hops] = m_asked.forget(key);
    for (const qint64 position : hops) {
        entryAt(position).waitingForHop = false;
        askHop(position);
    }
    if (lines.empty())
        return;
    const Entry& first = entryAt(lines.front());
    AskedAddresses::Asked& fresh = m_asked.ask(AskedAddresses::keyOf(first.address), lines.front()).first;
    fresh.waiting.assign(lines.begin() + 1, lines.end());
    m_ahead.add(first.address);
    queueFor(first.address, lines.front());
}
