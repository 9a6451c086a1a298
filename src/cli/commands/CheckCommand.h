#pragma once

#include "cli/commands/Command.h"

// The check run: every address of the lists asked and judged, the report in
// list order, the result files and the journal (--resume), one shard's share
// of the list (--shard).
class CheckCommand : public Command {
public:
    int execute(const Options& options, const Streams& streams) override;
};
