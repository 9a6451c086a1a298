#pragma once

#include <QHash>
#include <QString>

// How many addresses each origin still has ahead of the requests going now,
// for a driver that knows what comes next (the window its list, the command
// line its look-ahead): a connection is worth keeping while its origin has an
// address ahead, and worth closing after its last one, so that the idle
// connections kept are as many as the origins still to be asked, no more.
class OriginsAhead {
public:
    // One more address of this origin is to come.
    void add(const QString& origin);
    // One address of this origin is being asked: whether it was the last one
    // known to come (or none was known).
    bool take(const QString& origin);
    void clear() { m_addresses.clear(); }
    // Origins with an address still to come: the connections worth keeping.
    qsizetype origins() const { return m_addresses.size(); }

private:
    QHash<QString, qint64> m_addresses;
};
