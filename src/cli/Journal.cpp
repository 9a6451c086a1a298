#include "cli/Journal.h"

#include "engine/Failure.h"
#include "engine/lists/FileChannel.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr QByteArrayView Heading("tessaly-check journal 1\n");

std::optional<QJsonObject> objectOf(const QByteArray& line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}
}  // namespace

Journal::~Journal()
{
    if (m_writer >= 0)
        ::close(m_writer);
}

bool Journal::open(const QString& path) { return open(path, false); }

bool Journal::openForReading(const QString& path) { return open(path, true); }

bool Journal::open(const QString& path, bool readOnly)
{
    m_path = path;
    m_reader.setFileName(path);
    const auto fail = [&](const QString& why) {
        m_error = path + QStringLiteral(": ") + why;
        return false;
    };
    const auto systemFail = [&] { return fail(QString::fromLocal8Bit(std::strerror(errno))); };
    if (path.isEmpty())
        return fail(QStringLiteral("no file named"));
    // Not blocking: a FIFO would hold the open until a writer came.
    const int flags = readOnly ? O_RDONLY : O_RDWR | O_APPEND | O_CREAT;
    m_writer = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (m_writer < 0)
        return systemFail();
    struct stat status {};
    if (::fstat(m_writer, &status) != 0)
        return systemFail();
    // A device or a pipe would take the entries and give none back.
    if (!S_ISREG(status.st_mode))
        return fail(QStringLiteral("not a regular file, so no journal"));
    // Readers share the file; a run writing it holds it alone.
    if (::flock(m_writer, (readOnly ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? fail(QStringLiteral("another tessaly-check run is using this journal"))
                                    : systemFail();
    if (!m_reader.open(QIODevice::ReadOnly))
        return fail(m_reader.errorString());
    // A new journal gets its heading, read back below like any other's.
    if (m_reader.size() == 0 && !readOnly && !append(Heading)) {
        m_error = m_writeError;
        return false;
    }
    // Anything else given by mistake, a list of addresses say, is left alone.
    if (m_reader.readLine() != Heading)
        return fail(QStringLiteral("not a journal of tessaly-check"));
    for (qint64 offset = m_reader.pos(); !m_reader.atEnd(); offset = m_reader.pos()) {
        const QByteArray line = m_reader.readLine();
        m_cutShort = !line.endsWith('\n');
        // A line cut short when a run was killed is no entry.
        const std::optional<QJsonObject> object = objectOf(line);
        if (object && object->value("position").isDouble())
            m_index.emplace_back(object->value("position").toInteger(), offset);
    }
    // An address judged again, in a later run over a changed list, counts by
    // its latest entry: the stable sort keeps entries of one position in file
    // order and recorded() takes the last.
    std::stable_sort(m_index.begin(), m_index.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return true;
}

std::optional<Outcome> Journal::recorded(qint64 position, QByteArrayView address)
{
    while (m_next < m_index.size() && m_index[m_next].first < position)
        ++m_next;
    std::optional<qint64> offset;
    while (m_next < m_index.size() && m_index[m_next].first == position)
        offset = m_index[m_next++].second;
    if (!offset || !m_reader.seek(*offset))
        return std::nullopt;
    const std::optional<QJsonObject> object = objectOf(m_reader.readLine());
    if (!object)
        return std::nullopt;
    const auto entry = Report::fromJson(*object);
    if (!entry || entry->first != address)
        return std::nullopt;
    return entry->second;
}

bool Journal::record(qint64 position, QByteArrayView address, const Outcome& outcome)
{
    if (!m_writeError.isEmpty())
        return false;
    QJsonObject object = Report::toJson(address, outcome);
    object.insert("position", position);
    // The first entry after a line cut short starts a line of its own.
    const QByteArray entry = (m_cutShort ? "\n" : "") + QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    if (!append(entry))
        return false;
    m_cutShort = false;
    return true;
}

// Hands the bytes to the system at once.
bool Journal::append(QByteArrayView bytes)
{
    try {
        writeWhole(m_writer, bytes.data(), bytes.size());
        return true;
    } catch (const Failure& failure) {
        m_writeError = m_path + QStringLiteral(": ") + failure.description();
        return false;
    }
}
