#pragma once

#include <cstdio>
#include <cstdlib>

// What a target holds of every input: past a crash, a broken rule is the
// fuzzer's finding too. It names itself before the abort, since the stack
// of an inlined check shows no line.
#define require(...) requireAt((__VA_ARGS__), __FILE__, __LINE__, #__VA_ARGS__)

inline void requireAt(bool holds, const char* file, int line, const char* rule)
{
    if (!holds) {
        std::fprintf(stderr, "%s:%d: broken: %s\n", file, line, rule);
        std::abort();
    }
}
