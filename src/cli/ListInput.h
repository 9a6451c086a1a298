#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

#include <sys/stat.h>

// One list the command reads, as the window reads it (see ListFiles) but
// without holding it whole. A regular file is read twice in chunks that end
// at a line end: once to tell UTF-8 from Windows-1252 and count the
// addresses, then for the addresses themselves; a file that changes in
// between, or while it is read, stops the run rather than give a torn line.
// Standard input that is a regular file is read like a list file, from where
// it stands. A pipe, a FIFO or a terminal is read once, as a stream: UTF-8
// until its first line that is not valid UTF-8, Windows-1252 from there on.
class ListInput {
public:
    // Bytes read at a time; a chunk is cut at the last line end in them.
    static constexpr qint64 ChunkBytes = 1 << 20;
    // A longer line is no address, and the input no list: the run stops
    // rather than hold it (curl takes 8 MB at most).
    static constexpr qint64 LongestLine = 64 << 20;

    // Waits until the descriptor can be read without blocking (data, its end,
    // or an error); false when the run is stopping.
    using WaitForInput = std::function<bool(int descriptor)>;

    // Opens every list, and reads each list file through once, before
    // anything is asked or written, so that one that cannot be read stops the
    // command with nothing done. Nothing, or why one cannot be read.
    static std::optional<QString> openAll(const QStringList& names, std::deque<ListInput>& inputs, const WaitForInput& wait);
    // How many addresses they hold together; -1 when a stream is among them.
    static qint64 totalOf(const std::deque<ListInput>& inputs);

    ListInput() = default;
    ~ListInput();
    ListInput(const ListInput&) = delete;
    ListInput& operator=(const ListInput&) = delete;

    // Opens the list, and reads a regular file through once. The name "-" is
    // standard input. Nothing, or why it cannot be read.
    std::optional<QString> open(const QString& name, const WaitForInput& wait);
    // How many addresses a regular file holds; -1 for a stream, not known
    // until its end.
    qint64 items() const { return m_items; }
    // The file as it stands, for telling it apart from the result files.
    const struct stat& status() const { return m_seen; }

    // Calls item(address) for each address in UTF-8, in order, while it
    // returns true. Nothing, or why the list could not be read.
    std::optional<QString> forEachItem(const std::function<bool(QByteArrayView)>& item, const WaitForInput& wait);

private:
    // Calls chunk(bytes) for each chunk from the start, each ending at a line
    // end but the last; a CR LF is never cut apart, and a byte-order mark
    // first is dropped.
    std::optional<QString> forEachChunk(const std::function<bool(QByteArrayView)>& chunk, const WaitForInput& wait);
    std::optional<QString> changed(qint64 offset, bool atEnd) const;
    QString failure(int error) const;

    QString m_name;
    int m_descriptor = -1;
    bool m_ownsDescriptor = false;
    bool m_stream = false;
    qint64 m_start = 0;  // where a regular file's list starts (standard input: where it stood)
    bool m_windows1252 = false;
    qint64 m_items = -1;
    struct stat m_seen {};
};
