#include "engine/extract/DocumentFiles.h"

#include "engine/extract/DocumentKind.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The most a document's buffer keeps between reads.
constexpr qsizetype BufferKeptBytes = 1024 * 1024;

// What makes a file itself, whatever the path to it.
using FileIdentity = std::pair<dev_t, ino_t>;

FileIdentity identityOf(const struct stat& status) { return {status.st_dev, status.st_ino}; }

QString cannotRead(const QString& path, const QString& why)
{
    return QStringLiteral("cannot read %1: %2").arg(path, why);
}

QString cannotReadFolder(const QString& path, int error)
{
    return QStringLiteral("cannot read the folder %1: %2").arg(path, qt_error_string(error));
}

QByteArray joined(const QByteArray& folder, const char* name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// Whether a name found on disk survives the trip through QString that every
// path of the run takes: one that is no UTF-8 would name another file.
bool takesQString(const QByteArray& name) { return QFile::encodeName(QFile::decodeName(name)) == name; }

// How many bytes a UTF-8 sequence starting with this byte takes; 0 for no lead byte.
qsizetype sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xc2 && lead <= 0xdf)
        return 2;
    if (lead >= 0xe0 && lead <= 0xef)
        return 3;
    return lead >= 0xf0 && lead <= 0xf4 ? 4 : 0;
}

// A path for a message, each byte that is no part of UTF-8 in it as "\xFF".
QString shownPath(const QByteArray& path)
{
    QString shown;
    for (qsizetype at = 0; at < path.size();) {
        const auto lead = static_cast<unsigned char>(path[at]);
        const qsizetype length = sequenceLength(lead);
        const QByteArray sequence = path.mid(at, length);
        // An overlong form or a surrogate comes back from QString otherwise.
        if (length > 0 && sequence.size() == length && QString::fromUtf8(sequence).toUtf8() == sequence) {
            shown += QString::fromUtf8(sequence);
            at += length;
        } else {
            shown += QStringLiteral("\\x") + QString::number(lead, 16).toUpper();
            ++at;
        }
    }
    return shown;
}

// The names in a folder but the hidden ones, in byte order; or the error.
std::variant<std::vector<QByteArray>, int> visibleNamesIn(const QByteArray& folder)
{
    DIR* const listing = ::opendir(folder.constData());
    if (!listing)
        return errno;
    const auto closing = qScopeGuard([listing] { ::closedir(listing); });
    std::vector<QByteArray> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing);
        if (!entry && errno != 0)
            return errno;
        if (!entry)
            break;
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());
    return names;
}
}  // namespace

QString DocumentFiles::mostDocumentSize() { return QStringLiteral("%1 MiB").arg(MostDocumentBytes / (1024 * 1024)); }

std::variant<QByteArray, QString> DocumentFiles::readBounded(const QString& path)
{
    // O_NONBLOCK keeps a pipe with no writer from holding the open up; a
    // regular file, the only kind read, ignores it.
    const int handle = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (handle < 0)
        return cannotRead(path, qt_error_string(errno));
    const auto closing = qScopeGuard([handle] { ::close(handle); });
    struct stat status {};
    if (::fstat(handle, &status) != 0)
        return cannotRead(path, qt_error_string(errno));
    if (S_ISDIR(status.st_mode))
        return cannotRead(path, qt_error_string(EISDIR));
    if (!S_ISREG(status.st_mode))
        return cannotRead(path, QStringLiteral("Not a regular file"));
    const auto tooLarge = [&] {
        return cannotRead(path, QStringLiteral("larger than %1, the most a document may be").arg(mostDocumentSize()));
    };
    if (status.st_size > MostDocumentBytes)
        return tooLarge();
    // One buffer for the documents read one after the other: a page's bytes
    // are let go once its links are found, and a run reads thousands,
    // which would each cost an allocation of its size. A large one is not
    // held on to.
    thread_local QByteArray buffer;
    QByteArray& bytes = buffer;
    // A file that grows meanwhile is read one byte past the bound at most.
    bytes.resize(status.st_size + 1);
    qint64 size = 0;
    while (size <= MostDocumentBytes) {
        if (size == bytes.size())
            bytes.resize(std::min(2 * size, MostDocumentBytes + 1));
        const ssize_t got = ::read(handle, bytes.data() + size, bytes.size() - size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return cannotRead(path, qt_error_string(errno));
        if (got == 0)
            break;
        size += got;
    }
    if (size > MostDocumentBytes)
        return tooLarge();
    bytes.truncate(size);
    QByteArray read = bytes;  // shared with the buffer until let go
    if (buffer.capacity() > BufferKeptBytes)
        buffer = QByteArray();
    return read;
}

std::variant<DocumentFiles::WalkedFiles, QString> DocumentFiles::walk(const QString& folder, const QStringList& excluded)
{
    std::set<FileIdentity> excludedFiles;
    for (const QString& path : excluded) {
        struct stat status {};
        if (::stat(QFile::encodeName(path).constData(), &status) == 0)
            excludedFiles.insert(identityOf(status));
    }
    const QByteArray top = QFile::encodeName(QDir::cleanPath(folder));
    struct stat status {};
    if (::stat(top.constData(), &status) != 0)
        return cannotReadFolder(folder, errno);
    if (!S_ISDIR(status.st_mode))
        return cannotReadFolder(folder, ENOTDIR);
    WalkedFiles walked;
    if (excludedFiles.contains(identityOf(status)))
        return walked;

    // Every folder reached without a link is walked before any link is
    // followed, so that a folder is listed under its own path when it can be.
    std::set<FileIdentity> entered{identityOf(status)};
    std::deque<QByteArray> folders{top};
    std::deque<QByteArray> linkedFolders;
    std::vector<QByteArray> files;
    while (!folders.empty() || !linkedFolders.empty()) {
        QByteArray path;
        if (!folders.empty()) {
            path = std::move(folders.front());
            folders.pop_front();
        } else {
            path = std::move(linkedFolders.front());
            linkedFolders.pop_front();
            if (::stat(path.constData(), &status) != 0 || !entered.insert(identityOf(status)).second)
                continue;
        }
        const auto names = visibleNamesIn(path);
        if (const int* error = std::get_if<int>(&names)) {
            if (path == top)
                return cannotReadFolder(folder, *error);
            walked.warnings.append(
                QStringLiteral("skipped the folder %1: %2").arg(QFile::decodeName(path), qt_error_string(*error)));
            continue;
        }
        for (const QByteArray& name : std::get<std::vector<QByteArray>>(names)) {
            const QByteArray entryPath = joined(path, name.constData());
            if (::lstat(entryPath.constData(), &status) != 0)
                continue;  // gone meanwhile
            const bool linked = S_ISLNK(status.st_mode);
            if (linked && ::stat(entryPath.constData(), &status) != 0) {
                const QString why = qt_error_string(errno);
                if (DocumentKinds::takenFromFolder(QFile::decodeName(name)))
                    walked.warnings.append(QStringLiteral("skipped %1: %2").arg(QFile::decodeName(entryPath), why));
                continue;
            }
            if (excludedFiles.contains(identityOf(status)))
                continue;
            if (!takesQString(name)) {
                if (S_ISDIR(status.st_mode))
                    walked.warnings.append(
                        QStringLiteral("skipped the folder %1: its name is not UTF-8").arg(shownPath(entryPath)));
                else if (S_ISREG(status.st_mode) && DocumentKinds::takenFromFolder(QFile::decodeName(name)))
                    walked.warnings.append(QStringLiteral("skipped %1: its name is not UTF-8").arg(shownPath(entryPath)));
                continue;
            }
            if (S_ISDIR(status.st_mode)) {
                if (linked)
                    linkedFolders.push_back(entryPath);
                else if (entered.insert(identityOf(status)).second)
                    folders.push_back(entryPath);
            } else if (S_ISREG(status.st_mode) && DocumentKinds::takenFromFolder(QFile::decodeName(name))) {
                files.push_back(entryPath);
            }
        }
    }
    std::sort(files.begin(), files.end());
    for (const QByteArray& path : files)
        walked.files.append(QFile::decodeName(path));
    return walked;
}
