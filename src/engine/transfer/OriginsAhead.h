#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>

// How many addresses each origin still has ahead of the requests going now,
// for a driver that knows what comes next (the window its list, the command
// line its look-ahead): a connection is worth keeping while its origin has an
// address ahead, and worth closing after its last one, so that the idle
// connections kept are as many as the origins still to be asked, no more.
//
// An origin here is the address's scheme and authority as written, in lower
// case, without user information: read without a full parse, so that a list
// of a million addresses is counted in a blink. Where that groups addresses
// otherwise than curl's connections do (a default port written out, a
// trailing dot), a connection is closed early or kept a while longer, no more.
class OriginsAhead {
public:
    static QByteArray originOf(QByteArrayView address);

    // One more address is to come.
    void add(QByteArrayView address) { ++m_addresses[originOf(address)]; }
    // This address is being asked: whether it was its origin's last one known
    // to come. An origin none was known for may have more to come.
    bool take(QByteArrayView address);
    void clear() { m_addresses.clear(); }
    // Origins with an address still to come: the connections worth keeping.
    qsizetype origins() const { return m_addresses.size(); }

private:
    QHash<QByteArray, qint64> m_addresses;
};
