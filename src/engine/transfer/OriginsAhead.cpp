#include "engine/transfer/OriginsAhead.h"

bool OriginsAhead::removeAndTellIfLast(QByteArrayView address)
{
    const auto found = m_addresses.find(HostKey::originOf(address));
    if (found == m_addresses.end())
        return false;
    if (--*found > 0)
        return false;
    m_addresses.erase(found);
    return true;
}
