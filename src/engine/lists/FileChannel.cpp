#include "engine/lists/FileChannel.h"

#include "engine/Failure.h"

#include <QByteArrayList>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>

#include <cerrno>
#include <csignal>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {
const QString AlreadyOpen = QStringLiteral("File already open");
const QString NotOpen = QStringLiteral("File not open");

Failure systemFailure(int error) { return Failure(qt_error_string(error)); }

// Only a regular file is read or replaced. Reading a pipe waits for a writer
// with the window frozen and a device may never end; replacing either would
// put a regular file in its place.
void requireRegularFileOrNone(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        throw Failure(info.isDir() ? QStringLiteral("Is a directory") : QStringLiteral("Not a regular file"));
}

// The file at the path (a symbolic link followed) opened for writing over,
// and for reading too where the user may; null when there is no such file.
// Opening it is the test that the user may write it at all.
std::unique_ptr<QFile> openExisting(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    constexpr int Flags = O_CLOEXEC | O_NOCTTY;
    int handle = ::open(name.constData(), O_RDWR | Flags);
    if (handle < 0 && errno == EACCES)
        handle = ::open(name.constData(), O_WRONLY | Flags);
    if (handle < 0) {
        if (errno == ENOENT)
            return nullptr;
        throw systemFailure(errno);
    }
    const bool readable = (::fcntl(handle, F_GETFL) & O_ACCMODE) == O_RDWR;
    auto file = std::make_unique<QFile>();
    if (!file->open(handle, (readable ? QIODevice::ReadWrite : QIODevice::WriteOnly) | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
        ::close(handle);
        throw Failure(file->errorString());
    }
    return file;
}

// The names of a file's extended attributes; nothing when they cannot be read.
std::optional<QByteArrayList> attributeNames(int handle)
{
    for (;;) {
        const ssize_t size = ::flistxattr(handle, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP ? std::optional(QByteArrayList()) : std::nullopt;
        QByteArray names(size, Qt::Uninitialized);
        const ssize_t listed = ::flistxattr(handle, names.data(), names.size());
        if (listed < 0 && errno == ERANGE)
            continue;  // one was added meanwhile
        if (listed < 0)
            return std::nullopt;
        names.truncate(listed);
        QByteArrayList list = names.split('\0');
        list.removeAll(QByteArray());
        return list;
    }
}

std::optional<QByteArray> attribute(int handle, const QByteArray& name)
{
    for (;;) {
        const ssize_t size = ::fgetxattr(handle, name.constData(), nullptr, 0);
        if (size < 0)
            return std::nullopt;
        QByteArray value(size, Qt::Uninitialized);
        const ssize_t read = ::fgetxattr(handle, name.constData(), value.data(), value.size());
        if (read < 0 && errno == ERANGE)
            continue;
        if (read < 0)
            return std::nullopt;
        value.truncate(read);
        return value;
    }
}

// Gives the new file what the old one is beyond its bytes: owner, group, mode
// and extended attributes, ACLs among them, and no attribute the old one
// lacks. False when any of it cannot be given.
bool carryOver(int from, const struct stat& old, int to)
{
    // The owner first: a change of owner clears the set-id bits of the mode.
    if (::fchown(to, old.st_uid, old.st_gid) != 0 || ::fchmod(to, old.st_mode & 07777) != 0)
        return false;
    const std::optional<QByteArrayList> kept = attributeNames(from);
    const std::optional<QByteArrayList> present = attributeNames(to);
    if (!kept || !present)
        return false;
    for (const QByteArray& name : *present) {
        if (!kept->contains(name) && ::fremovexattr(to, name.constData()) != 0)
            return false;
    }
    for (const QByteArray& name : *kept) {
        const std::optional<QByteArray> value = attribute(from, name);
        if (!value || ::fsetxattr(to, name.constData(), value->constData(), value->size(), 0) != 0)
            return false;
    }
    return true;
}
}  // namespace

void writeWhole(int handle, const char* bytes, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(handle, bytes, static_cast<size_t>(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            throw systemFailure(errno);
        bytes += written;
        size -= written;
    }
}

FileChannel::FileChannel()
{
    // A write past the user's file-size limit fails like any other write
    // (EFBIG) instead of ending the program with its lists.
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

FileChannel::~FileChannel() { abandon(); }

void FileChannel::requireNotOpen() const
{
    if (isOpen())
        throw Failure(AlreadyOpen);
}

QByteArray FileChannel::readAll(const QString& path)
{
    requireNotOpen();
    m_reading = true;
    const auto release = qScopeGuard([this] { m_reading = false; });

    requireRegularFileOrNone(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Failure(file.errorString());
    return bytes;
}

void FileChannel::openForWriting(const QString& path)
{
    requireNotOpen();
    requireRegularFileOrNone(path);
    std::unique_ptr<QFile> existing = openExisting(path);
    if (!openReplacement(path, existing.get()))
        m_inPlace = std::move(existing);
    m_path = path;
    m_pending.resize(0);
    m_pending.reserve(WriteBlockBytes);
    m_sent = 0;
    m_writeFailed = false;
}

// Opens the new file that is to take the place of the one at the path by a
// rename. False, with nothing left behind, when the rename would lose
// something the existing file is, or when no file can be made beside it.
bool FileChannel::openReplacement(const QString& path, QFile* existing)
{
    // A symbolic link stays: the file it leads to is the one replaced.
    auto replacement = std::make_unique<QSaveFile>(existing ? QFileInfo(path).canonicalFilePath() : path);
    // Unbuffered: the blocks below are the only buffer, so a failing disk
    // shows at the write that hit it rather than somewhere later.
    constexpr QIODevice::OpenMode Mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (!existing) {
        if (!replacement->open(Mode))
            throw Failure(replacement->errorString());
        m_replacement = std::move(replacement);
        return true;
    }
    // Another name of the same file would keep the old content.
    struct stat old {};
    if (::fstat(existing->handle(), &old) != 0 || old.st_nlink != 1)
        return false;
    // A QSaveFile that goes without its commit removes the file it made.
    if (!replacement->open(Mode) || !carryOver(existing->handle(), old, replacement->handle()))
        return false;
    m_replacement = std::move(replacement);
    return true;
}

void FileChannel::write(QByteArrayView bytes)
{
    if ((!m_replacement && !m_inPlace) || m_writeFailed)
        throw Failure(NotOpen);
    m_pending.append(bytes);
    if (m_replacement && m_pending.size() >= WriteBlockBytes)
        sendPending();
}

void FileChannel::sendPending()
{
    if (m_pending.isEmpty())
        return;
    // Counts as failed until the block is out, whichever way it fails.
    m_writeFailed = true;
    if (m_faults)
        m_faults->beforeWrite(m_path, m_sent, m_pending.size());
    writeWhole(m_replacement->handle(), m_pending.constData(), m_pending.size());
    m_writeFailed = false;
    m_sent += m_pending.size();
    m_pending.resize(0);  // keeps the block's room
}

// Writes the gathered content over the old file. Room for it is taken before
// the first byte changes, so a full disk or a size limit leaves the old file
// as it was; a write that fails after that puts the old bytes back, which go
// where the file's own blocks already are.
void FileChannel::writeInPlace()
{
    QFile& file = *m_inPlace;
    const int handle = file.handle();
    const qint64 oldSize = file.size();
    const qint64 newSize = m_pending.size();
    // A file the user may write but not read cannot have its bytes back.
    const QByteArray old = file.isReadable() ? file.readAll() : QByteArray();
    const bool canPutBack = file.isReadable() && old.size() == oldSize;
    if (newSize > oldSize && ::fallocate(handle, 0, oldSize, newSize - oldSize) != 0 && errno != EOPNOTSUPP) {
        const int error = errno;
        file.resize(oldSize);
        throw systemFailure(error);
    }
    auto putBack = qScopeGuard([&] {
        if (canPutBack && file.seek(0) && file.write(old) == oldSize)
            file.resize(oldSize);
    });
    if (!file.seek(0))
        throw Failure(file.errorString());
    for (qint64 offset = 0; offset < newSize; offset += WriteBlockBytes) {
        const qint64 size = std::min<qint64>(WriteBlockBytes, newSize - offset);
        if (m_faults)
            m_faults->beforeWrite(m_path, offset, size);
        writeWhole(handle, m_pending.constData() + offset, size);
    }
    if (!file.resize(newSize))
        throw Failure(file.errorString());
    if (::fdatasync(handle) != 0)
        throw systemFailure(errno);
    putBack.dismiss();
}

void FileChannel::close()
{
    if (!m_replacement && !m_inPlace)
        return;
    // Whatever happens below, the channel is free afterwards.
    const auto release = qScopeGuard([this] { abandon(); });
    if (m_writeFailed)
        return;
    if (m_inPlace)
        return writeInPlace();
    sendPending();
    if (!m_replacement->commit())
        throw Failure(m_replacement->errorString());
}

void FileChannel::abandon() noexcept
{
    m_replacement.reset();
    m_inPlace.reset();
    m_pending = QByteArray();
    m_writeFailed = false;
}
