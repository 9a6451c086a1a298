#pragma once

#include "engine/transfer/Fault.h"

#include <chrono>
#include <optional>

// Whether an address whose request got no response is asked again, and
// after how long.
namespace Retry {
using std::chrono::milliseconds;

// After a request that got no response for this fault, the attempts-th that
// ended so (of those this machine's own faults are none), where the user
// allows `retries` more and no wait longer than `longest`: nothing when the
// address is to be judged on it, or the wait before its host asks it again.
// A passing fault is asked again, after a wait that doubles (Backoff), or at
// once where a kept connection closed as the request went out on it: no
// fault of the server's. A fault of this machine is no fault of the
// address's: the caller asks it again whatever the retries, after
// afterMachineFault.
std::optional<milliseconds> afterNoResponse(Fault fault, int attempts, int retries, bool keptConnectionClosed,
                                            milliseconds longest);

// After the faultsAlone-th fault of this machine in a row with no other
// request under way, which would give back what it lacked: how long nothing
// starts, longer each time; nothing once the run is to stop (about half a
// minute of them).
std::optional<milliseconds> afterMachineFault(int faultsAlone);
}
