#include "cli/Journal.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

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

bool Journal::open(const QString& path)
{
    m_reader.setFileName(path);
    m_writer.setFileName(path);
    const auto fail = [&](const QString& why) {
        m_error = path + QStringLiteral(": ") + why;
        return false;
    };
    if (!m_writer.open(QIODevice::ReadWrite | QIODevice::Append))
        return fail(m_writer.errorString());
    if (!m_reader.open(QIODevice::ReadOnly))
        return fail(m_reader.errorString());
    if (m_reader.size() == 0) {
        m_writer.write(Heading.data(), Heading.size());
        m_writer.flush();
        return true;
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
    std::stable_sort(m_index.begin(), m_index.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
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
    if (m_writer.write(entry) != entry.size() || !m_writer.flush()) {
        m_writeError = m_writer.fileName() + QStringLiteral(": ") + m_writer.errorString();
        return false;
    }
    m_cutShort = false;
    return true;
}
