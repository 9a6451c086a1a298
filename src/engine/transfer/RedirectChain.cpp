#include "engine/transfer/RedirectChain.h"

#include "engine/address/HostKey.h"
#include "engine/address/UsableAddress.h"

namespace {
// The scheme a reference starts with, in lower case, or empty for a
// relative one.
QByteArray schemeOf(QByteArrayView reference)
{
    const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (reference.isEmpty() || !isLetter(reference.front()))
        return {};
    for (qsizetype i = 1; i < reference.size(); ++i) {
        const char c = reference[i];
        if (c == ':')
            return reference.first(i).toByteArray().toLower();
        if (!isLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return {};
    }
    return {};
}
}  // namespace

RedirectChain::RedirectChain(QByteArrayView address, int limit)
    : m_next(address.toByteArray()), m_asked{HostKey::requestKey(address)}, m_limit(limit)
{
}

bool RedirectChain::leadsOn(int statusCode)
{
    return statusCode == 301 || statusCode == 302 || statusCode == 303 || statusCode == 307 || statusCode == 308;
}

QString RedirectChain::tooMany(int limit)
{
    return limit == 1 ? QStringLiteral("more than 1 redirect") : QStringLiteral("more than %1 redirects").arg(limit);
}

RedirectChain::Step RedirectChain::after(int statusCode, QByteArrayView location)
{
    if (m_limit <= 0 || !leadsOn(statusCode) || location.isEmpty())
        return Step::Final;
    const auto stop = [this](const QString& reason) {
        m_stopReason = reason;
        return Step::Stopped;
    };
    if (hops() >= m_limit) {
        m_pastLimit = true;
        return stop(tooMany(m_limit));
    }
    // A fragment alone is the page asked, at another place.
    if (location.startsWith('#'))
        return stop(QStringLiteral("redirect loop"));
    // A scheme curl does not speak would not even parse as its own.
    if (const QByteArray scheme = schemeOf(location); !scheme.isEmpty() && scheme != "http" && scheme != "https")
        return stop(QStringLiteral("redirect to another scheme (%1)").arg(QString::fromUtf8(scheme)));
    const ParsedAddress target(ParsedAddress(m_next), location);
    if (target.result() != CURLUE_OK)
        return stop(QStringLiteral("redirect to an address that cannot be used"));
    QByteArray address = target.part(CURLUPART_URL);
    const QByteArray key = HostKey::requestKey(address);
    if (m_asked.contains(key))
        return stop(QStringLiteral("redirect loop"));
    m_permanent.append(statusCode == 301 || statusCode == 308);
    m_asked.append(key);
    m_next = std::move(address);
    return Step::Follow;
}
