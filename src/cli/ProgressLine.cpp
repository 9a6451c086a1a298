#include "cli/ProgressLine.h"

#include <QString>
#include <QStringList>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// Whether standard output and standard error are the same terminal, where
// report lines and the progress line share the screen.
bool reportSharesTheTerminal()
{
    struct stat out {};
    struct stat err {};
    return ::isatty(STDOUT_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1 && ::fstat(STDOUT_FILENO, &out) == 0
        && ::fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
}
}  // namespace

ProgressLine::ProgressLine(qint64 total, bool shown)
    : m_total(total), m_shown(shown), m_sharesTerminal(shown && reportSharesTheTerminal())
{
    m_clock.start();
}

void ProgressLine::judged(bool valid, AnswerClass answerClass, bool fresh)
{
    ++(valid ? m_valid : m_invalid);
    ++m_byClass[static_cast<size_t>(answerClass)];
    m_requested += fresh;
}

// "990 ok, 10 not-found; 2 hosts asked to slow down": the classes met so far.
QString ProgressLine::byClass() const
{
    QStringList counts;
    for (const AnswerClass answerClass : AnswerClasses::All) {
        if (const qint64 count = m_byClass[static_cast<size_t>(answerClass)])
            counts << QStringLiteral("%1 %2").arg(count).arg(AnswerClasses::nameOf(answerClass));
    }
    QString text = counts.join(QStringLiteral(", "));
    if (m_slowedHosts > 0)
        text += QStringLiteral("; %1 %2 asked to slow down").arg(m_slowedHosts).arg(m_slowedHosts == 1 ? u"host" : u"hosts");
    return text;
}

QString ProgressLine::summary() const
{
    const qint64 done = m_valid + m_invalid;
    const QString classes = byClass();
    return QStringLiteral("%1 %2").arg(done).arg(done == 1 ? u"address" : u"addresses")
        + (classes.isEmpty() ? QString() : QStringLiteral(": ") + classes);
}

void ProgressLine::makeRoom(bool forMessage)
{
    if (!m_drawn || !(m_sharesTerminal || forMessage))
        return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    m_drawn = false;
}

void ProgressLine::show(bool now)
{
    if (!m_shown || (!now && m_drawn && m_lastShown.isValid() && !m_lastShown.hasExpired(250)))
        return;
    if (m_sharesTerminal)
        std::fflush(stdout);
    m_lastShown.start();
    m_drawn = true;
    const double seconds = std::max<qint64>(m_clock.elapsed(), 1) / 1000.0;
    const double rate = m_requested / seconds;
    const qint64 done = m_valid + m_invalid;
    const auto count = [](qint64 number) { return static_cast<long long>(number); };
    // A list read as a stream has no total until its end.
    if (m_total < 0) {
        std::fprintf(stderr, "\r%lld done, %lld valid, %lld invalid, %.1f/s; %s\x1b[K", count(done), count(m_valid),
                     count(m_invalid), rate, qPrintable(byClass()));
    } else {
        QString left = QStringLiteral("?");
        if (rate > 0) {
            const qint64 remaining = static_cast<qint64>((m_total - done) / rate);
            left = QStringLiteral("%1:%2").arg(remaining / 60).arg(remaining % 60, 2, 10, QLatin1Char('0'));
        }
        std::fprintf(stderr, "\r%lld of %lld, %lld valid, %lld invalid, %.1f/s, %s left; %s\x1b[K", count(done),
                     count(m_total), count(m_valid), count(m_invalid), rate, qPrintable(left), qPrintable(byClass()));
    }
    std::fflush(stderr);
}

void ProgressLine::end()
{
    if (!m_shown)
        return;
    show(true);
    std::fputc('\n', stderr);
    m_drawn = false;
}
