#include "checking/Pause.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
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

    QEventLoop loop;
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
    // A timer interval is at most about 24 days: a longer wait sleeps in
    // steps of 12 days (an endless one gives no remaining time at all).
    constexpr qint64 LongestStepMilliseconds = qint64(1) << 30;
    while (!deadline.hasExpired()) {
        const qint64 remaining = deadline.isForever() ? LongestStepMilliseconds : deadline.remainingTime();
        wake.start(static_cast<int>(std::clamp<qint64>(remaining, 1, LongestStepMilliseconds)));
        loop.exec();
    }
}
