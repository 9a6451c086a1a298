#pragma once

#include "cli/commands/Command.h"

// The whole list's report and result files from the shards' journals
// (--merge), without a request. The result files are written only when
// every address was in a journal.
class MergeCommand : public Command {
public:
    int execute(const Options& options, const Streams& streams) override;
};
