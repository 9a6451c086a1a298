#include "cli/ProgressLine.h"

#include <QString>
#include <QStringList>

#include <cstdio>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Whether the report and the error stream are the same terminal, where
// report lines and the progress line share the screen.
bool reportSharesTheTerminal(const Streams& streams)
{
    const int outDescriptor = ::fileno(streams.out);
    const int errDescriptor = ::fileno(streams.err);
    struct stat out {};
    struct stat err {};
    return ::isatty(outDescriptor) == 1 && ::isatty(errDescriptor) == 1 && ::fstat(outDescriptor, &out) == 0
        && ::fstat(errDescriptor, &err) == 0 && out.st_rdev == err.st_rdev;
}
}  // namespace

ProgressLine::ProgressLine(qint64 total, const Streams& streams)
    : m_total(total), m_streams(streams), m_shown(::isatty(::fileno(streams.err)) == 1),
      m_sharesTerminal(m_shown && reportSharesTheTerminal(streams))
{
    m_clock.start();
}

void ProgressLine::judged(bool valid, AnswerClass answerClass, bool fresh)
{
    ++(valid ? m_valid : m_invalid);
    ++m_byClass[static_cast<size_t>(answerClass)];
    m_requested += fresh;
}

// ": 990 ok", ", 10 not-found", "; 2 hosts asked to slow down": the classes
// met so far, each after its separator, the first after lead.
QStringList ProgressLine::byClass(QStringView lead) const
{
    QStringList parts;
    const auto after = [&](QStringView separator) { return (parts.isEmpty() ? lead : separator).toString(); };
    for (const AnswerClass answerClass : AnswerClasses::All) {
        if (const qint64 count = m_byClass[static_cast<size_t>(answerClass)])
            parts << after(u", ") + QStringLiteral("%1 %2").arg(count).arg(AnswerClasses::nameOf(answerClass));
    }
    if (m_slowedHosts > 0)
        parts << after(u"; ")
                     + QStringLiteral("%1 %2 asked to slow down").arg(m_slowedHosts).arg(m_slowedHosts == 1 ? u"host" : u"hosts");
    return parts;
}

QString ProgressLine::summary() const
{
    const qint64 done = m_valid + m_invalid;
    return QStringLiteral("%1 %2").arg(done).arg(done == 1 ? u"address" : u"addresses") + byClass(u": ").join(QString());
}

QString ProgressLine::fitted(const QStringList& parts, int columns)
{
    const qsizetype room = (columns > 0 ? columns : 80) - 1;
    QString line;
    for (const QString& part : parts) {
        if (line.size() + part.size() > room)
            break;
        line += part;
    }
    if (line.isEmpty() && !parts.isEmpty())
        line = parts.first().left(room);
    return line;
}

void ProgressLine::makeRoom(bool forMessage)
{
    if (!m_drawn || !(m_sharesTerminal || forMessage))
        return;
    std::fputs("\r\x1b[K", m_streams.err);
    std::fflush(m_streams.err);
    m_drawn = false;
}

void ProgressLine::show(bool now)
{
    if (!m_shown || (!now && m_drawn && m_lastShown.isValid() && !m_lastShown.hasExpired(250)))
        return;
    if (m_sharesTerminal)
        std::fflush(m_streams.out);
    m_lastShown.start();
    m_drawn = true;
    const double seconds = std::max<qint64>(m_clock.elapsed(), 1) / 1000.0;
    const double rate = m_requested / seconds;
    const qint64 done = m_valid + m_invalid;
    // A list read as a stream has no total until its end.
    QString counts = m_total < 0 ? QStringLiteral("%1 done").arg(done) : QStringLiteral("%1 of %2").arg(done).arg(m_total);
    counts += QStringLiteral(", %1 valid, %2 invalid").arg(m_valid).arg(m_invalid);
    QString pace = QStringLiteral(", %1/s").arg(rate, 0, 'f', 1);
    if (m_total >= 0) {
        QString left = QStringLiteral("?");
        if (rate > 0) {
            const qint64 remaining = static_cast<qint64>((m_total - done) / rate);
            left = QStringLiteral("%1:%2").arg(remaining / 60).arg(remaining % 60, 2, 10, QLatin1Char('0'));
        }
        pace += QStringLiteral(", %1 left").arg(left);
    }
    // The terminal is measured at each line, as its window may be resized
    // during the run; a line wider than it would wrap and leave rows behind.
    winsize size{};
    const int columns = ::ioctl(::fileno(m_streams.err), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
    const QString line = fitted(QStringList{counts, pace} + byClass(u"; "), columns);
    std::fprintf(m_streams.err, "\r%s\x1b[K", qPrintable(line));
    std::fflush(m_streams.err);
}

void ProgressLine::end()
{
    if (!m_shown)
        return;
    show(true);
    std::fputc('\n', m_streams.err);
    m_drawn = false;
}
