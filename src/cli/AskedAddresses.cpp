#include "cli/AskedAddresses.h"

#include "engine/address/HostKey.h"

AskedAddresses::AskedAddresses(size_t mostAnswers, qint64 mostBytes)
    : m_mostAnswers(mostAnswers), m_mostBytes(mostBytes)
{
}

QByteArray AskedAddresses::keyOf(QByteArrayView address) { return HostKey::requestKey(address); }

AskedAddresses::Asked* AskedAddresses::find(const QByteArray& key)
{
    const auto found = m_asked.find(key);
    return found == m_asked.end() ? nullptr : &found->second;
}

std::pair<AskedAddresses::Asked&, bool> AskedAddresses::ask(const QByteArray& key, qint64 line)
{
    const auto [asked, isNew] = m_asked.try_emplace(key);
    if (isNew)
        asked->second.line = line;
    return {asked->second, isNew};
}

AskedAddresses::Waited AskedAddresses::remember(const QByteArray& key, const Outcome& outcome)
{
    const auto [asked, isNew] = m_asked.try_emplace(key);
    if (asked->second.outcome)
        return {};
    Waited waited{std::exchange(asked->second.waiting, {}), std::exchange(asked->second.hopsWaiting, {})};
    const qint64 bytes = bytesOf(key, outcome);
    // An outcome too large to keep (a long address, a huge Location) serves
    // the lines waiting for it now; a later one is asked again.
    if (bytes > m_mostBytes / 64) {
        m_asked.erase(asked);
    } else {
        asked->second.outcome = outcome;
        m_answersInOrder.push_back(asked->first);
        m_rememberedBytes += bytes;
    }
    return waited;
}

AskedAddresses::Waited AskedAddresses::forget(const QByteArray& key)
{
    const auto asked = m_asked.find(key);
    if (asked == m_asked.end())
        return {};
    Waited waited{std::move(asked->second.waiting), std::move(asked->second.hopsWaiting)};
    m_asked.erase(asked);
    return waited;
}

void AskedAddresses::forgetOldestPastBounds()
{
    while (m_answersInOrder.size() > m_mostAnswers || m_rememberedBytes > m_mostBytes) {
        const auto oldest = m_asked.find(m_answersInOrder.front());
        m_rememberedBytes -= bytesOf(oldest->first, *oldest->second.outcome);
        m_asked.erase(oldest);
        m_answersInOrder.pop_front();
    }
}

// What a remembered outcome holds in memory, roughly: the key twice (in the
// map and the queue of the oldest), the texts in UTF-16, the nodes around them.
qint64 AskedAddresses::bytesOf(QByteArrayView key, const Outcome& outcome)
{
    return 2 * key.size()
         + 2 * (outcome.statusLine.size() + outcome.reason.size() + outcome.location.size() + outcome.finalAddress.size())
         + 200;
}
