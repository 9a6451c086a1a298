#pragma once

// The two ways the command line suites run tessaly-check: as a process of
// its own (CheckProcess), for what only a process shows (signals, standard
// input, pipes, terminals, limits, the status a shell sees), and in this
// process (runInProcess), the command's job handed streams of the test's own.

#include "LoopbackServer.h"
#include "TestFiles.h"
#include "cli/Streams.h"
#include "cli/commands/Command.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <functional>

#include <sys/resource.h>

// What a run of the command must not take from this machine's environment.
inline constexpr const char* ProxyVariables[] = {"http_proxy",  "https_proxy", "HTTP_PROXY",
                                                 "HTTPS_PROXY", "ALL_PROXY",   "all_proxy"};

inline const QString Program = QStringLiteral(TESSALY_BINARY_DIR "/src/tessaly-check");

// This machine's environment without its proxies.
inline QProcessEnvironment environmentWithoutProxies()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* proxy : ProxyVariables)
        environment.remove(QString::fromLatin1(proxy));
    return environment;
}

struct Finished {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// tessaly-check run as the user runs it, a process of its own: its
// environment without this machine's proxies, its input written by the test.
class CheckProcess {
public:
    CheckProcess() { m_process.setProcessEnvironment(environmentWithoutProxies()); }
    void start(const QStringList& arguments, const QByteArray& input = {}, bool inputEnds = true)
    {
        m_process.start(Program, arguments);
        if (!input.isEmpty())
            m_process.write(input);
        if (inputEnds)
            m_process.closeWriteChannel();
        m_clock.start();
    }
    QByteArray outputSoFar() { return m_output += m_process.readAllStandardOutput(); }
    // Waits, the test's events running, until the condition holds.
    bool runUntil(const std::function<bool()>& condition, int limit = 60000)
    {
        while (!condition() && !m_clock.hasExpired(limit))
            QTest::qWait(5);
        return condition();
    }
    Finished finish()
    {
        runUntil([&] { return m_process.state() == QProcess::NotRunning; });
        return {m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1,
                m_output + m_process.readAllStandardOutput(), m_process.readAllStandardError()};
    }
    Finished run(const QStringList& arguments, const QByteArray& input = {})
    {
        start(arguments, input);
        return finish();
    }
    // Runs the command with a limit on the size of the files it writes.
    void limitFileSize(rlim_t bytes)
    {
        m_process.setChildProcessModifier([bytes] {
            const rlimit limit{bytes, bytes};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    }
    void interrupt(int signal = SIGINT) { ::kill(pid(), signal); }
    pid_t pid() const { return static_cast<pid_t>(m_process.processId()); }
    // Whether the command has its handler for the signal in place. Between
    // fork and exec the child still shows this test's own handlers, so the
    // command must have become itself first.
    bool handles(int signal) const
    {
        QFile name(QStringLiteral("/proc/%1/comm").arg(pid()));
        if (!name.open(QIODevice::ReadOnly) || name.readAll().trimmed() != QFileInfo(Program).fileName().toUtf8())
            return false;
        QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
        if (!status.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("SigCgt:"))
                return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
        }
        return false;
    }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QElapsedTimer m_clock;
    QByteArray m_output;
};

inline QByteArray linesOf(const QStringList& addresses) { return addresses.join(u'\n').toUtf8() + '\n'; }

// The whole of a stream the command wrote.
inline QByteArray writtenTo(std::FILE* stream)
{
    std::fflush(stream);
    std::rewind(stream);
    QByteArray bytes;
    char chunk[65536];
    for (size_t read; (read = std::fread(chunk, 1, sizeof chunk, stream)) > 0;)
        bytes.append(chunk, static_cast<qsizetype>(read));
    return bytes;
}

// `tessaly-check arguments` in this process, no signal handler in place:
// the report and the messages go to files of the test's own (the report to
// reportFile when one is named). A list given as `input` is written to a
// file in `dir`, named in place of "-" or after the arguments.
inline Finished runInProcess(QStringList arguments, const QByteArray& input = {}, const QString& reportFile = {})
{
    TestFolder dir;
    if (!input.isEmpty()) {
        const QString list = dir.file(QStringLiteral("list.txt"), input);
        if (const qsizetype dash = arguments.indexOf(QStringLiteral("-")); dash >= 0)
            arguments[dash] = list;
        else
            arguments << list;
    }
    std::FILE* out = reportFile.isEmpty() ? std::tmpfile() : std::fopen(QFile::encodeName(reportFile).constData(), "w+");
    std::FILE* err = std::tmpfile();
    if (!out || !err)
        qFatal("no file for the command's streams");
    Finished finished;
    finished.exitCode = Command::run(QStringList{QStringLiteral("tessaly-check")} + arguments, Streams{out, err});
    finished.out = writtenTo(out);
    finished.err = writtenTo(err);
    std::fclose(out);
    std::fclose(err);
    return finished;
}

// What a run refused before any request touched, in a folder that holds the
// list (list.txt, these bytes) and a valid file holding "earlier": the
// report, a result file, the list, the server; nothing when none.
inline QString touchedByARefusal(const Finished& finished, const QTemporaryDir& dir, const QByteArray& list,
                                 const LoopbackServer& server)
{
    if (!finished.out.isEmpty())
        return QStringLiteral("a report");
    if (readBytes(dir.filePath(QStringLiteral("valid"))) != "earlier")
        return QStringLiteral("the valid file");
    if (QFile::exists(dir.filePath(QStringLiteral("invalid"))))
        return QStringLiteral("an invalid file");
    if (readBytes(dir.filePath(QStringLiteral("list.txt"))) != list)
        return QStringLiteral("the list");
    if (!server.requests().isEmpty())
        return QStringLiteral("a request");
    return {};
}
