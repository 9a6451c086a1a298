#include "PrivateResolver.h"

#include <QByteArray>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr const char* NameserverVariable = "TESSALY_PRIVATE_NAMESERVER";
}

std::optional<int> PrivateResolver::runInside(int argc, char** argv)
{
    if (std::getenv(NameserverVariable) || geteuid() != 0 || access("/usr/bin/unshare", X_OK) != 0)
        return std::nullopt;

    // An address of its own in 127/8 for each run, so that runs side by side
    // do not share a nameserver.
    const pid_t pid = getpid();
    const std::string nameserver = "127.53." + std::to_string((pid >> 8) & 0xff) + '.' + std::to_string((pid & 0xff) | 1);
    char folder[] = "/tmp/tessaly-resolver-XXXXXX";
    if (!mkdtemp(folder))
        return std::nullopt;
    const std::string resolvConf = std::string(folder) + "/resolv.conf";
    if (FILE* file = std::fopen(resolvConf.c_str(), "w")) {
        std::fprintf(file, "nameserver %s\noptions timeout:30 attempts:1\n", nameserver.c_str());
        std::fclose(file);
    }
    setenv(NameserverVariable, nameserver.c_str(), 1);

    std::vector<const char*> command{"unshare",
                                     "--mount",
                                     "--propagation",
                                     "private",
                                     "--",
                                     "sh",
                                     "-c",
                                     "mount --bind \"$0\" /etc/resolv.conf && exec \"$@\"",
                                     resolvConf.c_str()};
    // The program by its full path: unshare looks a bare name up in PATH.
    char program[4096] = {};
    if (readlink("/proc/self/exe", program, sizeof program - 1) <= 0)
        return std::nullopt;
    command.push_back(program);
    for (int i = 1; i < argc; ++i)
        command.push_back(argv[i]);
    command.push_back(nullptr);
    int status = 1;
    const pid_t parent = getpid();
    if (const pid_t child = fork(); child == 0) {
        // The re-run, and the servers it starts, end with this process when
        // ctest kills it at its time-out (also if that came before the prctl).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(1);
        execv("/usr/bin/unshare", const_cast<char* const*>(command.data()));
        _exit(127);
    } else if (child > 0) {
        waitpid(child, &status, 0);
    }
    std::remove(resolvConf.c_str());
    rmdir(folder);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

QHostAddress PrivateResolver::nameserver() { return QHostAddress(QString::fromLatin1(qgetenv(NameserverVariable))); }
