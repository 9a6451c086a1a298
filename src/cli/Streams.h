#pragma once

#include <cstdio>

// Where a command writes: the report on `out`; its messages, the summary and
// the progress line on `err`. The process's standard streams in the program,
// files of a test's own in process.
struct Streams {
    std::FILE* out;
    std::FILE* err;
};
