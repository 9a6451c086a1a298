#pragma once

#include "engine/transfer/LaneBatch.h"

#include <QDeadlineTimer>

#include <chrono>

// Lets the batch drive its requests until none is under way or the time is
// up, waking every `step` at the latest.
inline void runUntilNoneRunning(LaneBatch& batch, std::chrono::milliseconds within,
                                std::chrono::milliseconds step = std::chrono::milliseconds(100))
{
    QDeadlineTimer deadline(within);
    while (batch.running() > 0 && !deadline.hasExpired())
        batch.wait(step);
}
