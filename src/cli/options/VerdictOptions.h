#pragma once

#include "cli/Judging.h"
#include "cli/options/OptionGroup.h"

// Which answers are valid and which classes fail the run: the report's and
// the exit status's, so a check and a merge of its journals both take them.
struct VerdictOptions {
    Judging judging;

    static const OptionTable<VerdictOptions>& table();
};
