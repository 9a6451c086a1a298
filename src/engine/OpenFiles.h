#pragma once

// The process's limit on open files, which bounds how many requests may be
// under way at once.
namespace OpenFiles {
// Raises the soft limit to the hard one: done before anything is opened, so
// that a low soft limit stops nothing.
void raiseLimit();
// How many more files this process may open now.
long free();
}
