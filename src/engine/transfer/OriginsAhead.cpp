#include "engine/transfer/OriginsAhead.h"

void OriginsAhead::add(const QString& origin) { ++m_addresses[origin]; }

bool OriginsAhead::take(const QString& origin)
{
    const auto found = m_addresses.find(origin);
    if (found == m_addresses.end())
        return true;
    if (--*found > 0)
        return false;
    m_addresses.erase(found);
    return true;
}
