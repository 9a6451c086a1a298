#pragma once

// Runs part of a test as the unprivileged user "nobody". Permission bits do
// not stop root, so a suite running as root checks a permission case in a
// child process that has given up root's user, group and supplementary
// groups; a suite that is not root runs the part as itself.

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <QTest>

#include <cstdio>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

// The user and group id of "nobody"; a test gives it files to own.
inline constexpr uid_t NobodyId = 65534;

// `work` returns the text of what went wrong, empty when all went as it
// should. The result is that text, or what kept the child from giving it. A
// child that stalls is ended after `stallSeconds` and the stall reported.
template <typename Work>
QString runAsNobody(Work&& work, unsigned stallSeconds = 120)
{
    if (::geteuid() != 0)
        return work();
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return QStringLiteral("no pipe to a child process");
    // Output still buffered would otherwise be written twice, by both processes.
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        ::alarm(stallSeconds);
        QByteArray failure;
        if (::setgroups(0, nullptr) != 0 || ::setgid(NobodyId) != 0 || ::setuid(NobodyId) != 0) {
            failure = "could not become nobody";
        } else {
            failure = QString(work()).toUtf8();
            // A stand-in that met something unscripted failed the test here.
            if (failure.isEmpty() && QTest::currentTestFailed())
                failure = "a check failed as nobody, in the message above";
        }
        for (qsizetype sent = 0; sent < failure.size();) {
            const ssize_t written = ::write(report[1], failure.constData() + sent, failure.size() - sent);
            if (written <= 0)
                break;
            sent += written;
        }
        std::fflush(nullptr);
        ::_exit(0);
    }
    ::close(report[1]);
    if (child < 0) {
        ::close(report[0]);
        return QStringLiteral("no child process");
    }
    QByteArray failure;
    char buffer[256];
    for (ssize_t got; (got = ::read(report[0], buffer, sizeof buffer)) > 0;)
        failure.append(buffer, got);
    ::close(report[0]);
    int status = 0;
    if (::waitpid(child, &status, 0) != child)
        return QStringLiteral("the child process was lost");
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
        return QStringLiteral("as nobody, did not finish within %1 s").arg(stallSeconds);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("the child process as nobody ended abnormally (wait status %1)").arg(status);
    return QString::fromUtf8(failure);
}

inline bool changeOwner(const QString& path, uid_t owner)
{
    return ::chown(QFile::encodeName(path).constData(), owner, owner) == 0;
}

// Gives the folder and everything below it to "nobody", as if that user had
// made them.
inline bool giveToNobody(const QString& folder)
{
    if (!changeOwner(folder, NobodyId))
        return false;
    QDirIterator below(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDirIterator::Subdirectories);
    while (below.hasNext())
        if (!changeOwner(below.next(), NobodyId))
            return false;
    return true;
}
