#pragma once

#include "engine/lists/FileChannel.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

// A result list written as the window saves one, through its file channel:
// each address in UTF-8 followed by CR LF, and the file replaced only once
// complete, staying the file it was.
class ResultFile {
public:
    // An empty path gives a file that takes lines and writes nothing.
    explicit ResultFile(const QString& path) : m_path(path) {}
    // Raises nothing; false with errorString() when the file cannot be made.
    bool open();
    // A write that fails is reported by commit(); the lines after it are dropped.
    void addLine(QByteArrayView address);
    // Replaces the file with everything added; false when that failed.
    bool commit();
    QString errorString() const { return m_error ? m_path + QStringLiteral(": ") + *m_error : QString(); }

private:
    // Runs a use of the channel, keeping the first failure it raises.
    template <class Use>
    bool attempt(Use&& use);

    QString m_path;
    FileChannel m_channel;
    std::optional<QString> m_error;
};
