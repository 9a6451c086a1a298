#pragma once

#include <optional>

// How many requests at once, and how many idle connections kept, fit in
// this many free descriptors: requests first (each with room for an idle
// connection beside it), every descriptor left for idle connections.
// Nothing when not even one request fits. The batch's lanes beyond the
// first hold some too, so the lanes are part of the budget: as many as
// mostLanes (LaneBatch::lanesFor() the jobs asked for) where at least as
// many jobs fit beside them, or fewer, at least one.
struct FileBudget {
    // Descriptors kept back for what the run may open while it goes: the
    // trust store while it is read, a list file read again, curl's wake-up
    // pair and its epoll descriptor, and a second wake-up pair while idle
    // connections are closed.
    static constexpr long SpareFiles = 8;
    // A request under way holds its connection and, while its host name is
    // looked up, the lookup's socket pair and the system resolver's own files
    // (the hosts file, a socket to the name server).
    static constexpr long FilesPerRequest = 5;

    int jobs;
    int lanes;
    long idleConnections;  // at most; as many are kept as origins have an address ahead

    static std::optional<FileBudget> within(long freeFiles, int jobs, int mostLanes);
};
