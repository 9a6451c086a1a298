#include "cli/ListInput.h"

#include "engine/lists/ListFormat.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {
bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }
}  // namespace

std::optional<QString> ListInput::openAll(const QStringList& names, std::deque<ListInput>& inputs, const WaitForInput& wait)
{
    for (const QString& name : names) {
        if (std::optional<QString> unreadable = inputs.emplace_back().open(name, wait))
            return unreadable;
    }
    return std::nullopt;
}

qint64 ListInput::totalOf(const std::deque<ListInput>& inputs)
{
    qint64 total = 0;
    for (const ListInput& input : inputs) {
        if (input.items() < 0)
            return -1;
        total += input.items();
    }
    return total;
}

ListInput::~ListInput()
{
    if (m_ownsDescriptor)
        ::close(m_descriptor);
}

std::optional<QString> ListInput::open(const QString& name, const WaitForInput& wait)
{
    m_name = name;
    if (name == QStringLiteral("-")) {
        m_name = QStringLiteral("standard input");
        m_descriptor = STDIN_FILENO;
    } else {
        // Not blocking: a FIFO with no writer yet would hold the open, deaf to
        // Ctrl-C. Reading waits for it through `wait` instead.
        m_descriptor = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (m_descriptor < 0)
            return failure(errno);
        m_ownsDescriptor = true;
        ::fcntl(m_descriptor, F_SETFL, ::fcntl(m_descriptor, F_GETFL) & ~O_NONBLOCK);
    }
    if (::fstat(m_descriptor, &m_seen) != 0)
        return failure(errno);
    if (S_ISDIR(m_seen.st_mode))
        return name + QStringLiteral(": is a folder");
    // A device named as a list, such as /dev/zero, is no list file. Standard
    // input is read as a stream whatever it is (a terminal, /dev/null), a
    // line without end cut off by LongestLine.
    if (m_descriptor != STDIN_FILENO && (S_ISCHR(m_seen.st_mode) || S_ISBLK(m_seen.st_mode)))
        return name + QStringLiteral(": is a device, not a list file");
    m_stream = !S_ISREG(m_seen.st_mode);
    if (m_stream)
        return std::nullopt;
    // Standard input is read from where it stands: a script may have read
    // a heading off it first.
    m_start = std::max<qint64>(::lseek(m_descriptor, 0, SEEK_CUR), 0);
    // The whole file is UTF-8 when every chunk is: a chunk ends at a line
    // end, which no UTF-8 sequence holds.
    bool utf8 = true;
    m_items = 0;
    const std::optional<QString> unreadable = forEachChunk(
        [&](QByteArrayView chunk) {
        utf8 = utf8 && chunk.isValidUtf8();
        ListFormat::forEachLine(chunk, [&](QByteArrayView) { ++m_items; });
        return true;
        },
        wait);
    m_windows1252 = !utf8;
    return unreadable;
}

std::optional<QString> ListInput::forEachItem(const std::function<bool(QByteArrayView)>& item, const WaitForInput& wait)
{
    // A file changed while its addresses are asked is noticed within a
    // fraction of a second, not only at the next chunk.
    std::optional<QString> change;
    QElapsedTimer sinceLooked;
    sinceLooked.start();
    bool passing = true;
    const auto passLine = [&](QByteArrayView address) {
        if (passing && !m_stream && sinceLooked.hasExpired(100)) {
            change = changed(-1, false);
            passing = !change;
            sinceLooked.restart();
        }
        passing = passing && item(address);
    };
    const std::optional<QString> unreadable = forEachChunk(
        [&](QByteArrayView chunk) {
        if (m_windows1252) {
            ListFormat::forEachLine(ListFormat::utf8OfWindows1252(chunk), passLine);
        } else if (!m_stream || chunk.isValidUtf8()) {
            ListFormat::forEachLine(chunk, passLine);
        } else {
            // A stream is UTF-8 until its first line that is not, and
            // Windows-1252 from there on.
            ListFormat::forEachLine(chunk, [&](QByteArrayView line) {
                m_windows1252 = m_windows1252 || !line.isValidUtf8();
                passLine(m_windows1252 ? ListFormat::utf8OfWindows1252(line) : line.toByteArray());
            });
        }
        return passing;
        },
        wait);
    return unreadable ? unreadable : change;
}

std::optional<QString> ListInput::forEachChunk(const std::function<bool(QByteArrayView)>& chunk, const WaitForInput& wait)
{
    if (!m_stream && ::lseek(m_descriptor, m_start, SEEK_SET) != m_start)
        return failure(errno);
    QByteArray buffer;
    qint64 offset = 0;
    // The first chunk loses a byte-order mark before anyone sees it.
    bool first = true;
    const auto handOn = [&](QByteArrayView bytes) {
        return chunk(std::exchange(first, false) ? ListFormat::withoutByteOrderMark(bytes) : bytes);
    };
    for (;;) {
        if (!wait(m_descriptor))
            return std::nullopt;
        const qsizetype searchedBefore = buffer.size();
        buffer.resize(searchedBefore + ChunkBytes);
        const ssize_t read = ::read(m_descriptor, buffer.data() + searchedBefore, ChunkBytes);
        buffer.resize(searchedBefore + std::max<ssize_t>(read, 0));
        if (read < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (read < 0)
            return failure(errno);
        offset += read;
        const bool atEnd = read == 0;
        if (std::optional<QString> change = changed(offset, atEnd))
            return change;
        if (atEnd) {
            if (!buffer.isEmpty())
                handOn(buffer);
            return std::nullopt;
        }
        // A CR last may be the first half of a CR LF: it waits for what follows.
        // Only the bytes just read can hold a new line end, so a line of many
        // chunks is not searched again for each of them.
        qsizetype cut = buffer.size() - (buffer.endsWith('\r') ? 1 : 0);
        while (cut > searchedBefore && !isLineEnd(buffer[cut - 1]))
            --cut;
        if (cut == searchedBefore && (cut == 0 || !isLineEnd(buffer[cut - 1]))) {
            if (buffer.size() > LongestLine)
                return m_name + QStringLiteral(": a line longer than %1 MB; not a list of addresses").arg(LongestLine >> 20);
            continue;  // a line longer than a chunk
        }
        if (!handOn(QByteArrayView(buffer).first(cut)))
            return std::nullopt;
        buffer.remove(0, cut);
    }
}

// A regular file is judged only as it was when first seen: one that grew,
// shrank or was written since would give lines that were never in it whole.
// offset: how much of it was read (-1: not at a read).
std::optional<QString> ListInput::changed(qint64 offset, bool atEnd) const
{
    if (m_stream)
        return std::nullopt;
    struct stat now {};
    if (::fstat(m_descriptor, &now) != 0)
        return failure(errno);
    const qint64 end = m_seen.st_size - m_start;
    if (now.st_size != m_seen.st_size || !sameTime(now.st_mtim, m_seen.st_mtim) || offset > end || (atEnd && offset != end))
        return m_name + QStringLiteral(": the list changed while it was read; run again once it stays as it is");
    return std::nullopt;
}

QString ListInput::failure(int error) const
{
    return m_name + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}
