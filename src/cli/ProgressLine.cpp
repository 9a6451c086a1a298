#include "cli/ProgressLine.h"

#include <QString>

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

void ProgressLine::judged(bool valid, bool fresh)
{
    ++(valid ? m_valid : m_invalid);
    m_requested += fresh;
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
        std::fprintf(stderr, "\r%lld done, %lld valid, %lld invalid, %.1f/s\x1b[K", count(done), count(m_valid),
                     count(m_invalid), rate);
    } else {
        QString left = QStringLiteral("?");
        if (rate > 0) {
            const qint64 remaining = static_cast<qint64>((m_total - done) / rate);
            left = QStringLiteral("%1:%2").arg(remaining / 60).arg(remaining % 60, 2, 10, QLatin1Char('0'));
        }
        std::fprintf(stderr, "\r%lld of %lld, %lld valid, %lld invalid, %.1f/s, %s left\x1b[K", count(done),
                     count(m_total), count(m_valid), count(m_invalid), rate, qPrintable(left));
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
