#pragma once

#include "engine/address/HostKey.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QSet>

#include <algorithm>

// How many addresses each origin still has ahead of the requests going now,
// for a driver that knows what comes next (the window its list, the command
// line its look-ahead): a connection is worth keeping while its origin has an
// address ahead, and worth closing after its last one, so that the idle
// connections kept are as many as the origins still to be asked, no more.
//
// While more addresses may still come (a list being read, documents whose
// links to a host come spread over the whole run), an origin with nothing
// ahead may soon have: the connections of the origins asked most lately are
// kept too, up to a bound, curl closing the oldest idle one beyond.
//
// An origin is what one kept connection serves: scheme, host and port as
// HostKey reads them.
class OriginsAhead {
public:
    // One more address is to come.
    void add(QByteArrayView address) { ++m_addresses[HostKey::originOf(address)]; }
    // This address is being asked: whether it was its origin's last one known
    // to come. An origin none was known for may have more to come.
    bool removeAndTellIfLast(QByteArrayView address);
    // Origins with an address still to come.
    qsizetype origins() const { return m_addresses.size(); }
    // Idle connections worth keeping: one for each of them and, while more
    // may come, for each origin asked so far up to `recent`; at least one,
    // at most `most`.
    long connectionsWorthKeeping(long most, bool moreMayCome = false, long recent = 0) const
    {
        const long asked = moreMayCome ? std::min<long>(m_asked.size(), recent) : 0;
        return std::clamp<long>(std::max<long>(origins(), asked), 1, most);
    }

private:
    QHash<QByteArray, qint64> m_addresses;
    QSet<QByteArray> m_asked;  // origins asked at least once
};
