#pragma once

#include "platform/FileChannel.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QString>

#include <optional>

class CurlRequest;

// What the command found out about one address.
struct Outcome {
    bool valid = false;
    int statusCode = -1;  // -1: the status line starts with no status code
    QString statusLine;   // as the window reads it; empty when there was none
    QString reason;       // why there was no status line
    qint64 milliseconds = 0;
    QString location;     // the Location header, when the response has one

    // The judgement on a finished request, by the window's rule.
    static Outcome of(const CurlRequest& request, qint64 milliseconds);
    // An address that got no request: empty, or one the transfer cannot use.
    static Outcome unrequested(const QString& reason);
};

namespace Report {
// "valid" or "invalid", a tab, the status line or the reason, a tab, the
// address, a line feed. In the address a control character is written \xNN
// (its code: C0, DEL, C1) and a backslash \\.
QByteArray textLine(QByteArrayView address, const Outcome& outcome);
// One JSON object on one line.
QByteArray jsonLine(QByteArrayView address, const Outcome& outcome);
QJsonObject toJson(QByteArrayView address, const Outcome& outcome);
// The outcome and address an object holds, or nothing when it holds none.
std::optional<std::pair<QByteArray, Outcome>> fromJson(const QJsonObject& object);
}

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
