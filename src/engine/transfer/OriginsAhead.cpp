#include "engine/transfer/OriginsAhead.h"

QByteArray OriginsAhead::originOf(QByteArrayView address)
{
    const qsizetype schemeEnd = address.indexOf("://");
    const qsizetype authorityStart = schemeEnd < 0 ? 0 : schemeEnd + 3;
    qsizetype authorityEnd = authorityStart;
    while (authorityEnd < address.size() && address[authorityEnd] != '/' && address[authorityEnd] != '?'
           && address[authorityEnd] != '#')
        ++authorityEnd;
    const QByteArrayView authority = address.sliced(authorityStart, authorityEnd - authorityStart);
    const QByteArrayView host = authority.sliced(authority.lastIndexOf('@') + 1);
    QByteArray origin = address.first(authorityStart).toByteArray();
    origin += host;
    return origin.toLower();
}

bool OriginsAhead::take(QByteArrayView address)
{
    const auto found = m_addresses.find(originOf(address));
    if (found == m_addresses.end())
        return false;
    if (--*found > 0)
        return false;
    m_addresses.erase(found);
    return true;
}
