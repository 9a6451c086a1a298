#include "window/checking/Pause.h"

#include "engine/EventLoopWait.h"

#include <QDeadlineTimer>

#include <cmath>

void Pause(double seconds)
{
    if (!(seconds > 0))
        return;
    // Beyond a few centuries the wait is as good as endless.
    constexpr double LongestNanoseconds = 9e18;
    const double nanoseconds = seconds * 1e9;
    const QDeadlineTimer deadline = nanoseconds >= LongestNanoseconds
                                      ? QDeadlineTimer(QDeadlineTimer::Forever)
                                      : QDeadlineTimer(std::chrono::nanoseconds(std::llround(nanoseconds)), Qt::PreciseTimer);

    EventLoopWait().until([] { return false; }, deadline);
}
