#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

class QFile;
class QSaveFile;

// What a test puts between the channel and the disk: it is asked before each
// block of bytes goes out and may raise the Failure the disk would.
class FileFaults {
public:
    virtual ~FileFaults() = default;
    // offset: how many bytes of the file went out before this block.
    virtual void beforeWrite(const QString& path, qint64 offset, qint64 size) = 0;
};

// Writes every byte at the descriptor's position. Raises Failure with the
// system's own words ("No space left on device"), which Qt's write may lose
// once part of a block went out.
void writeWhole(int handle, const char* bytes, qint64 size);

// A channel to one file at a time, for reading a list or writing one: the
// window has one, shared by loading and saving, so that at most one file is
// open at a time; opening a channel while it is taken raises Failure. Each
// result file of tessaly-check has its own.
//
// Writing never touches the named file until the end, and a save that fails,
// or that is abandoned because the program ends, leaves the old file as it
// was. An existing file stays the file it was: a symbolic link stays a link
// and its target is written; the owner, group, mode and extended attributes
// (ACLs among them) stay. Where the file system allows it, the bytes go to a
// new file beside the old one, given all of that, which replaces it by a
// rename only when the whole content is out. Where it does not (a file with
// other hard links, a folder the user cannot write to, an owner or attribute
// the new file cannot be given), the content is gathered in memory and
// written over the old file at the close: room for it is taken first, and a
// write that fails after all puts the old bytes back (which a file the user
// may write but not read cannot have).
class FileChannel {
public:
    // Bytes are sent to the disk in blocks of this size.
    static constexpr qsizetype WriteBlockBytes = 64 * 1024;

    FileChannel();
    ~FileChannel();
    FileChannel(const FileChannel&) = delete;
    FileChannel& operator=(const FileChannel&) = delete;

    bool isOpen() const { return m_reading || m_replacement || m_inPlace; }

    // The whole content of a file, read with the channel open for the call.
    // A folder, a pipe or a device raises Failure without being opened.
    QByteArray readAll(const QString& path);

    // Opens the channel for a new content of the file at the path, which is
    // created or replaced when the channel is closed. A path that names a
    // folder, a pipe or a device, or an existing file the user may not write,
    // raises Failure and is left as it is.
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
    void requireNotOpen() const;
    bool openReplacement(const QString& path, QFile* existing);
    void sendPending();
    void writeInPlace();

    bool m_reading = false;
    // Exactly one of these while a write is open: the new file that replaces
    // the old one by a rename, or the old file itself, written over.
    std::unique_ptr<QSaveFile> m_replacement;
    std::unique_ptr<QFile> m_inPlace;
    QString m_path;
    QByteArray m_pending;
    qint64 m_sent = 0;
    bool m_writeFailed = false;
    FileFaults* m_faults = nullptr;
};
