#pragma once

#include "cli/commands/Command.h"

// The links the documents hold, each with where it stands and where it
// leads, as text or JSON lines (--dump): what a check would ask, asked of
// nothing. A list's addresses are printed as they are, with no place.
class DumpCommand : public Command {
public:
    int execute(const Options& options, const Streams& streams) override;
};
