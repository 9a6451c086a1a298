#pragma once

#include "cli/Report.h"

#include <QFile>

#include <optional>
#include <utility>
#include <vector>

// The record of a run's judged addresses, so that a run started again skips
// them. A text file: a first line naming it, then one JSON object per judged
// address, written as soon as the address is judged: its position in the
// list (counted from 0 over all the inputs), the address and the outcome, as
// the JSON report gives them. Only an index of positions and line offsets is
// kept in memory; an entry is read back when its position comes up. A run
// holds the journal locked: two runs on one journal would both do all the
// work and record it twice.
class Journal {
public:
    Journal() = default;
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Opens the file, making it when it does not exist. False, with
    // errorString(), when it cannot be read or written, is no regular file,
    // is no journal, or another run holds it.
    bool open(const QString& path);
    // Opens an existing journal only to read it, sharing it with other
    // readers; false, with errorString(), also while a run writes it.
    bool openForReading(const QString& path);
    QString errorString() const { return m_error; }

    // The outcome recorded for this position, when the address there is still
    // the same. Positions must be asked in increasing order.
    std::optional<Outcome> recorded(qint64 position, QByteArrayView address);
    // Records a judged address and hands it to the system at once. False,
    // with writeError(), when that failed; nothing more is recorded then.
    bool record(qint64 position, QByteArrayView address, const Outcome& outcome);
    QString writeError() const { return m_writeError; }

private:
    bool open(const QString& path, bool readOnly);
    bool append(QByteArrayView bytes);

    QString m_path;
    QFile m_reader;
    int m_writer = -1;                               // appends only, each entry in one write
    std::vector<std::pair<qint64, qint64>> m_index;  // position, line offset; sorted
    size_t m_next = 0;
    QString m_error;
    bool m_cutShort = false;  // the file ends inside a line
    QString m_writeError;
};
