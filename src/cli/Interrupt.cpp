#include "cli/Interrupt.h"

#include <cerrno>
#include <csignal>
#include <initializer_list>

#include <fcntl.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t signalCaught = 0;
int wakeRead = -1;
int wakeWrite = -1;

void onSignal(int signal)
{
    // The interrupted code may be about to read errno.
    const int savedErrno = errno;
    if (signalCaught == 0)
        signalCaught = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite, &byte, 1);
    errno = savedErrno;
}
}  // namespace

void Interrupt::fillClosedStandardStreams()
{
    for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
        if (::fcntl(stream, F_GETFD) == -1 && errno == EBADF)
            ::open("/dev/null", O_RDONLY);  // takes the lowest free number: this one
    }
}

bool Interrupt::install()
{
    int wake[2];
    if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    wakeRead = wake[0];
    wakeWrite = wake[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    // A write to a report whose reader lags goes on after the signal:
    // interrupted, the C library would drop what it held. Every wait, for
    // input or for answers, watches the wake-up pipe instead.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (::sigaction(signal, &action, nullptr) != 0)
            return false;
    }
    return true;
}

int Interrupt::caught() { return signalCaught; }

int Interrupt::wakeDescriptor() { return wakeRead; }
