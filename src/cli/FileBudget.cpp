#include "cli/FileBudget.h"

#include "engine/transfer/LaneBatch.h"

#include <algorithm>

std::optional<FileBudget> FileBudget::within(long freeFiles, int jobs, int mostLanes)
{
    // Each lane beyond the first holds files the requests could have had:
    // the most lanes at which at least as many jobs fit, down to one. A lane
    // costs more than a request, so a few more free files can bring a lane
    // and one request fewer (28 free on two cores: 2 on 2 lanes, 26: 3 on 1).
    for (int lanes = std::max(1, mostLanes); lanes >= 1; --lanes) {
        const long spare = SpareFiles + LaneBatch::filesBeyondOneLane(lanes);
        const long share = (freeFiles - spare) / (FilesPerRequest + 1);
        const int fitting = static_cast<int>(std::min<long>(share, jobs));
        if (fitting >= lanes)
            return FileBudget{fitting, lanes, freeFiles - spare - fitting * FilesPerRequest};
    }
    return std::nullopt;
}
