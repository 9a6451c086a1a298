#pragma once

#include <cstdlib>

// What a target holds of every input: past a crash, a broken rule is the
// fuzzer's finding too.
inline void require(bool holds)
{
    if (!holds)
        std::abort();
}
