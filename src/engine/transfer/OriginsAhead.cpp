#include "engine/transfer/OriginsAhead.h"

bool OriginsAhead::removeAndTellIfLast(QByteArrayView address)
{
    const QByteArray origin = HostKey::originOf(address);
    m_asked.insert(origin);
    const auto found = m_addresses.find(origin);
    if (found == m_addresses.end())
        return false;
    if (--*found > 0)
        return false;
    m_addresses.erase(found);
    return true;
}
