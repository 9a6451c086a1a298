#pragma once

#include "cli/Streams.h"
#include "engine/verdict/AnswerClass.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <iterator>

// done of total, valid, invalid, rate and time left, and how many of each
// class, on one line of the error stream rewritten in place, a few times a
// second; only when that is a terminal. At the end, the summary by class.
class ProgressLine {
public:
    // total: -1 for a list read as a stream, whose length is not known.
    ProgressLine(qint64 total, const Streams& streams);
    void judged(bool valid, AnswerClass answerClass, bool fresh);
    // One more host asked to slow down.
    void slowedDown() { ++m_slowedHosts; }
    // "1,000 addresses: 990 ok, 10 not-found; 2 hosts asked to slow down".
    QString summary() const;
    // Before a report line: on a shared terminal the line would be glued to
    // the progress line, so that is cleared, and drawn again by show().
    // Before a message on the error stream, the line is cleared on any terminal.
    void makeRoom(bool forMessage = false);
    // Draws the line, at most four times a second unless now.
    void show(bool now = false);
    void end();

    // The parts of a line, most needed first, each starting with its
    // separator, as many as fit in columns - 1 characters (so that the cursor
    // never wraps onto the next row): those that do not fit are left off from
    // the last, and a first part too long is cut. Columns not known (0): 80.
    static QString fitted(const QStringList& parts, int columns);

private:
    qint64 m_total;
    Streams m_streams;
    QStringList byClass(QStringView lead) const;

    bool m_shown;
    bool m_sharesTerminal;
    bool m_drawn = false;
    qint64 m_valid = 0;
    qint64 m_invalid = 0;
    qint64 m_requested = 0;
    std::array<qint64, std::size(AnswerClasses::All)> m_byClass{};
    qint64 m_slowedHosts = 0;
    QElapsedTimer m_clock;
    QElapsedTimer m_lastShown;
};
