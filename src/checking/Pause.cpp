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
    while (!deadline.hasExpired()) {
        wake.start(static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, 1 << 30)));
        loop.exec();
    }
}
