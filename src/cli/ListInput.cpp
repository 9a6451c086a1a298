#include "cli/ListInput.h"

#include "lists/ListFiles.h"

#include <QFileInfo>

#include <sys/stat.h>

namespace {
constexpr QByteArrayView ByteOrderMark("\xEF\xBB\xBF");

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }
}  // namespace

std::optional<QString> ListInput::open(const QString& name)
{
    m_name = name;
    m_file = std::make_unique<QFile>();
    if (name == QStringLiteral("-")) {
        m_name = QStringLiteral("standard input");
        if (!m_file->open(stdin, QIODevice::ReadOnly))
            return QStringLiteral("standard input cannot be read");
    } else {
        if (QFileInfo(name).isDir())
            return name + QStringLiteral(": is a folder");
        // A device such as /dev/zero would be read without end; pipes are fine.
        if (struct stat status{}; ::stat(QFile::encodeName(name).constData(), &status) == 0
            && (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)))
            return name + QStringLiteral(": is a device, not a list file");
        m_file->setFileName(name);
        if (!m_file->open(QIODevice::ReadOnly))
            return failure();
    }
    // A pipe, <(command) say, cannot be read twice: it is held whole, as is
    // standard input, which is read from where it stands.
    if (name == QStringLiteral("-") || m_file->isSequential()) {
        QByteArray bytes = m_file->readAll();
        if (m_file->error() != QFileDevice::NoError)
            return failure();
        m_file.reset();
        m_text = ListFiles::utf8TextOf(std::move(bytes));
        FileToListview1::ForEachItem(m_text, [&](QByteArrayView) { ++m_items; });
        return std::nullopt;
    }
    // The whole file is UTF-8 when every chunk is: a chunk ends at a line
    // end, which no UTF-8 sequence holds.
    bool utf8 = true;
    bool first = true;
    const std::optional<QString> unreadable = forEachChunk([&](QByteArrayView chunk) {
        if (first && chunk.startsWith(ByteOrderMark))
            chunk = chunk.sliced(ByteOrderMark.size());
        first = false;
        utf8 = utf8 && chunk.isValidUtf8();
        FileToListview1::ForEachItem(chunk, [&](QByteArrayView) { ++m_items; });
        return true;
    });
    m_windows1252 = !utf8;
    return unreadable;
}

std::optional<QString> ListInput::forEachItem(const std::function<bool(QByteArrayView)>& item)
{
    bool taking = true;
    const auto eachOf = [&](QByteArrayView text) {
        FileToListview1::ForEachItem(text, [&](QByteArrayView address) { taking = taking && item(address); });
        return taking;
    };
    if (!m_file) {
        eachOf(m_text);
        return std::nullopt;
    }
    bool first = true;
    return forEachChunk([&](QByteArrayView chunk) {
        if (first && chunk.startsWith(ByteOrderMark))
            chunk = chunk.sliced(ByteOrderMark.size());
        first = false;
        if (m_windows1252)
            return eachOf(ListFiles::utf8OfWindows1252(chunk));
        return eachOf(chunk);
    });
}

std::optional<QString> ListInput::forEachChunk(const std::function<bool(QByteArrayView)>& chunk)
{
    if (!m_file->seek(0))
        return failure();
    QByteArray buffer;
    for (;;) {
        const QByteArray read = m_file->read(ChunkBytes);
        if (m_file->error() != QFileDevice::NoError)
            return failure();
        buffer += read;
        const bool atEnd = read.isEmpty();
        if (atEnd) {
            if (!buffer.isEmpty())
                chunk(buffer);
            return std::nullopt;
        }
        // A CR last may be the first half of a CR LF: it waits for what follows.
        // Only the bytes just read can hold a new line end, so a line of many
        // chunks is not searched again for each of them.
        const qsizetype searchedBefore = buffer.size() - read.size();
        qsizetype cut = buffer.size() - (buffer.endsWith('\r') ? 1 : 0);
        while (cut > searchedBefore && !isLineEnd(buffer[cut - 1]))
            --cut;
        if (cut == searchedBefore && (cut == 0 || !isLineEnd(buffer[cut - 1])))
            continue;  // a line longer than a chunk
        if (!chunk(QByteArrayView(buffer).first(cut)))
            return std::nullopt;
        buffer.remove(0, cut);
    }
}

QString ListInput::failure() const { return m_name + QStringLiteral(": ") + m_file->errorString(); }
