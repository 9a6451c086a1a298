#include "platform/FileChannel.h"

#include "platform/Failure.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>

namespace {
const QString AlreadyOpen = QStringLiteral("File already open");
const QString NotOpen = QStringLiteral("File not open");

// Only a regular file is read or replaced. Reading a pipe waits for a writer
// with the window frozen and a device may never end; replacing either would
// put a regular file in its place.
void requireRegularFileOrNone(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        throw Failure(info.isDir() ? QStringLiteral("Is a directory") : QStringLiteral("Not a regular file"));
}
}  // namespace

FileChannel::FileChannel() = default;

FileChannel::~FileChannel()
{
    abandon();
}

void FileChannel::take() const
{
    if (isOpen())
        throw Failure(AlreadyOpen);
}

QByteArray FileChannel::readAll(const QString& path)
{
    take();
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
    take();
    requireRegularFileOrNone(path);
    auto file = std::make_unique<QSaveFile>(path);
    // Unbuffered: the blocks below are the only buffer, so a failing disk
    // shows at the write that hit it rather than somewhere later.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw Failure(file->errorString());
    m_writing = std::move(file);
    m_pending.resize(0);
    m_pending.reserve(WriteBlockBytes);
    m_sent = 0;
    m_writeFailed = false;
}

void FileChannel::write(QByteArrayView bytes)
{
    if (!m_writing || m_writeFailed)
        throw Failure(NotOpen);
    m_pending.append(bytes);
    if (m_pending.size() >= WriteBlockBytes)
        sendPending();
}

void FileChannel::sendPending()
{
    if (m_pending.isEmpty())
        return;
    // Counts as failed until the block is out, whichever way it fails.
    m_writeFailed = true;
    if (m_faults)
        m_faults->beforeWrite(m_writing->fileName(), m_sent, m_pending.size());
    if (m_writing->write(m_pending) != m_pending.size())
        throw Failure(m_writing->errorString());
    m_writeFailed = false;
    m_sent += m_pending.size();
    m_pending.resize(0);  // keeps the block's room
}

void FileChannel::close()
{
    if (!m_writing)
        return;
    // Whatever happens below, the channel is free afterwards; a QSaveFile
    // that goes without its commit removes the file it wrote.
    const auto release = qScopeGuard([this] { abandon(); });
    if (m_writeFailed)
        return;
    sendPending();
    if (!m_writing->commit())
        throw Failure(m_writing->errorString());
}

void FileChannel::abandon() noexcept
{
    m_writing.reset();
    m_pending = QByteArray();
    m_writeFailed = false;
}
