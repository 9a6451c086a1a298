#pragma once

// How a run ends, as a shell sees it. A reader that went away (`| head`)
// ends the run as SIGPIPE ends other programs, and a signal as that signal
// would, with the status a shell shows for that death.
enum ExitStatus { AllValid = 0, SomeInvalid = 1, Failed = 2, ReaderGone = 141 };
constexpr int statusOfSignal(int signal) { return 128 + signal; }
