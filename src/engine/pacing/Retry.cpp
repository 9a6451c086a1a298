#include "engine/pacing/Retry.h"

#include "engine/pacing/Backoff.h"

#include <algorithm>

namespace {
using std::chrono::milliseconds;
constexpr milliseconds FirstFaultRest{10};
constexpr milliseconds LongestFaultRest{1000};
constexpr int FaultsBeforeGivingUp = 40;
}  // namespace

std::optional<milliseconds> Retry::afterNoResponse(Fault fault, int attempts, int retries, bool keptConnectionClosed,
                                                   milliseconds longest)
{
    if (fault != Fault::Passing || attempts > retries)
        return std::nullopt;
    if (keptConnectionClosed)
        return milliseconds(0);
    return Backoff::beforeAttempt(attempts + 1, longest);
}

std::optional<milliseconds> Retry::afterMachineFault(int faultsAlone)
{
    if (faultsAlone >= FaultsBeforeGivingUp)
        return std::nullopt;
    return std::min(LongestFaultRest, FirstFaultRest * (1 << std::min(faultsAlone, 10)));
}
