#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// The addresses one address leads to, as a browser follows its redirects:
// an answer of 301, 302, 303, 307 or 308 with a Location leads on to that
// Location, resolved against the address asked, up to a limit of hops. What
// ends the chain is the first answer that is no such redirect, and the
// verdict is that answer's. A chain that comes back to an address it asked,
// runs past its limit, or leads to anything but an http or https address
// ends with no answer at all.
class RedirectChain {
public:
    // How many hops an address may take: as many as browsers allow, and more
    // than any site needs.
    static constexpr int DefaultLimit = 10;
    static constexpr int MostLimit = 50;

    // limit 0 takes the first answer, redirect or not.
    RedirectChain(QByteArrayView address, int limit);

    enum class Step {
        Final,    // this answer is the address's
        Follow,   // ask next() now
        Stopped,  // no answer: stopReason() says why
    };
    // After the answer to next(): its status code and Location (empty when it
    // has none), as received.
    Step after(int statusCode, QByteArrayView location);

    // The address to ask: the first, then each hop's.
    const QByteArray& next() const { return m_next; }
    // Hops followed so far.
    int hops() const { return static_cast<int>(m_asked.size()) - 1; }
    // Some hop was a permanent redirect (301 or 308).
    bool permanent() const { return permanentAfter(0); }
    // Some hop past the first `hops` was.
    bool permanentAfter(int hops) const { return m_permanent.indexOf(true, hops) >= 0; }
    QString stopReason() const { return m_stopReason; }
    // The chain stopped for running past its limit.
    bool pastLimit() const { return m_pastLimit; }
    // The request key of each address asked, the first address's first.
    const QList<QByteArray>& askedKeys() const { return m_asked; }

    // Whether an answer with this status code leads on, given a Location.
    static bool leadsOn(int statusCode);
    // Why a chain past this limit ended.
    static QString tooMany(int limit);

private:
    QByteArray m_next;
    QList<QByteArray> m_asked;  // by their request keys, the first address first
    QList<bool> m_permanent;    // for each hop, whether a 301 or 308 led to it
    int m_limit;
    bool m_pastLimit = false;
    QString m_stopReason;
};
