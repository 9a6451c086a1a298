#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// One list the command reads, as the window reads it (see ListFiles) but
// without holding a file whole: a file is read twice in chunks that end at a
// line end, once to tell UTF-8 from Windows-1252 and count the addresses,
// then for the addresses themselves. Standard input or a pipe, which cannot
// be read twice, is held whole.
class ListInput {
public:
    // Bytes read at a time; a chunk is cut at the last line end in them.
    static constexpr qint64 ChunkBytes = 1 << 20;

    // Opens the list and reads it through once. The name "-" is standard
    // input. Nothing, or why it cannot be read.
    std::optional<QString> open(const QString& name);
    qint64 items() const { return m_items; }
    // Calls item(address) for each address in UTF-8, in order, while it
    // returns true. Nothing, or why the list could not be read.
    std::optional<QString> forEachItem(const std::function<bool(QByteArrayView)>& item);

private:
    // Calls chunk(bytes) for each chunk of the file from its start, each
    // ending at a line end but the last; a CR LF is never cut apart.
    std::optional<QString> forEachChunk(const std::function<bool(QByteArrayView)>& chunk);
    QString failure() const;

    QString m_name;
    std::unique_ptr<QFile> m_file;  // none for a list held whole
    QByteArray m_text;              // a list held whole, in UTF-8
    bool m_windows1252 = false;
    qint64 m_items = 0;
};
