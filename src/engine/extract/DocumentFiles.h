#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <variant>

// Reading the documents to check, and finding them in a folder.
namespace DocumentFiles {
// The most a document may hold, read from disk or inflated: bigger ones are
// refused rather than held in memory, whatever their content.
inline constexpr qint64 MostDocumentBytes = 64 * 1024 * 1024;
// The bound as the messages name it: "64 MiB".
QString mostDocumentSize();

// The file's bytes, or why they cannot be had: a file past the bound (which
// is never read whole), a folder, a pipe or a device, a missing or
// unreadable file. Each message names the file.
std::variant<QByteArray, QString> readBounded(const QString& path);

struct WalkedFiles {
    // Sorted as `find | LC_ALL=C sort` would list them.
    QStringList files;
    // A subfolder or a link that could not be followed, one line each.
    QStringList warnings;
};
// The files under the folder that a folder walk takes (see DocumentKinds),
// at any depth. Symbolic links are followed, but no real folder is entered
// twice, which also breaks loops; a folder reached both directly and by a
// link is walked under its direct path. Names starting with "." are skipped,
// and so is any file or folder named in `excluded`, however spelt (relative
// or absolute, with a trailing "/"), since what is compared is the file
// itself, not its name. Only a folder that cannot be read at the top is a
// failure, whose message is returned.
std::variant<WalkedFiles, QString> walk(const QString& folder, const QStringList& excluded);
}
