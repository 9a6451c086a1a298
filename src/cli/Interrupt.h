#pragma once

// Ctrl-C (SIGINT), SIGTERM and SIGHUP, which timeout(1), service managers
// and batch schedulers send, all end the run the same way: no more requests
// start, what was judged is written in whole lines, and the exit status is
// the one a shell shows for a death by that signal.
namespace Interrupt {
// Opens /dev/null, read only, in place of a standard stream that is closed:
// standard input reads as empty, a write to the others fails as a write to
// a closed stream does, and no file of the command's takes their numbers.
void fillClosedStandardStreams();
// Puts the handlers in place and makes the wake-up pipe. False when the
// command cannot set itself up.
bool install();
// The signal that came, or 0.
int caught();
// Becomes readable once a signal has come: a wait on it with other
// descriptors ends at once. Before install() (a command run in a test's
// process) it is -1, which every wait leaves out, and caught() stays 0.
int wakeDescriptor();
}
