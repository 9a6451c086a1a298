#pragma once

#include "cli/Outcome.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>

#include <deque>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

// The addresses a run has asked, each once for every line that holds it
// under any spelling: the lines and redirects' hops that wait for its
// outcome while it is asked, then the outcome, for lines further down the
// list. Outcomes are remembered in bounded memory, the oldest forgotten
// first: a forgotten address is asked again.
class AskedAddresses {
public:
    // Outcomes of up to this many addresses, in about this many bytes.
    static constexpr size_t RememberedAnswers = 100000;
    static constexpr qint64 RememberedBytes = 32 * 1024 * 1024;

    struct Asked {
        std::optional<Outcome> outcome;
        std::vector<qint64> waiting;      // later positions of the same address
        std::vector<qint64> hopsWaiting;  // positions whose redirects led here
        qint64 line = -1;                 // the position that asks it
    };
    // What waited for an address's outcome.
    struct Waited {
        std::vector<qint64> lines;
        std::vector<qint64> hops;
    };

    explicit AskedAddresses(size_t mostAnswers = RememberedAnswers, qint64 mostBytes = RememberedBytes);

    // The request an address makes, however it is spelled.
    static QByteArray keyOf(QByteArrayView address);
    // The key's entry, if it is being asked or its outcome remembered.
    Asked* find(const QByteArray& key);
    // The key's entry, made when there was none (then true), asked by line.
    std::pair<Asked&, bool> ask(const QByteArray& key, qint64 line);
    // The key's outcome, kept unless it alone would take more than a share
    // of the bytes, and what waited for it, handed back to be judged; nothing
    // when the key had an outcome already.
    Waited remember(const QByteArray& key, const Outcome& outcome);
    // Forgets the key, handing back what waited for it.
    Waited forget(const QByteArray& key);
    // Forgets the oldest outcomes until the rest are within the bounds.
    void forgetOldestPastBounds();

private:
    static qint64 bytesOf(QByteArrayView key, const Outcome& outcome);

    size_t m_mostAnswers;
    qint64 m_mostBytes;
    std::unordered_map<QByteArray, Asked> m_asked;
    std::deque<QByteArray> m_answersInOrder;  // the keys remembered, oldest first
    qint64 m_rememberedBytes = 0;
};
