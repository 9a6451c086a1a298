#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

class QSaveFile;

// What a test puts between the channel and the disk: it is asked before each
// block of bytes goes out and may raise the Failure the disk would.
class FileFaults {
public:
    virtual ~FileFaults() = default;
    // offset: how many bytes of the file went out before this block.
    virtual void beforeWrite(const QString& path, qint64 offset, qint64 size) = 0;
};

// The window's one file channel, shared by loading and saving, so that at most
// one file is open at a time: opening it while it is taken raises Failure.
//
// Writing never touches the named file until the end: the bytes go to a file
// beside it, which replaces the old one only when the whole content is out.
// A save that fails, or that is abandoned because the program ends, leaves the
// old file exactly as it was.
class FileChannel {
public:
    // Bytes are sent to the disk in blocks of this size.
    static constexpr qsizetype WriteBlockBytes = 64 * 1024;

    FileChannel();
    ~FileChannel();
    FileChannel(const FileChannel&) = delete;
    FileChannel& operator=(const FileChannel&) = delete;

    bool isOpen() const { return m_reading || m_writing != nullptr; }

    // The whole content of a file, read with the channel open for the call.
    // A folder, a pipe or a device raises Failure without being opened.
    QByteArray readAll(const QString& path);

    // Opens the channel for a new content of the file at the path, which is
    // created or replaced when the channel is closed. A path that names a
    // folder, a pipe or a device raises Failure and is left as it is.
    void openForWriting(const QString& path);
    void write(QByteArrayView bytes);
    // Ends the write. When every write went out, the new content replaces the
    // file; after a failed write (already reported) the old file stays as it
    // was and nothing is raised. Closing a channel that is not open does
    // nothing.
    void close();
    // Drops an unfinished write: the old file stays, the file beside it goes.
    void abandon() noexcept;

    void setFaults(FileFaults* faults) { m_faults = faults; }

private:
    void take() const;
    void sendPending();

    bool m_reading = false;
    std::unique_ptr<QSaveFile> m_writing;
    QByteArray m_pending;
    qint64 m_sent = 0;
    bool m_writeFailed = false;
    FileFaults* m_faults = nullptr;
};
