#include "engine/EventLoopWait.h"

#include <algorithm>

EventLoopWait::EventLoopWait()
{
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_deadline, &QTimer::timeout, &m_loop, &QEventLoop::quit);
}

void EventLoopWait::until(const std::function<bool()>& condition, QDeadlineTimer deadline)
{
    // A timer interval is at most about 24 days: a longer wait sleeps in
    // steps of 12 days (an endless one gives no remaining time at all).
    constexpr qint64 LongestStepMilliseconds = qint64(1) << 30;
    while (!condition() && !deadline.hasExpired()) {
        const qint64 remaining = deadline.isForever() ? LongestStepMilliseconds : deadline.remainingTime();
        m_deadline.start(static_cast<int>(std::clamp<qint64>(remaining, 1, LongestStepMilliseconds)));
        m_loop.exec();
    }
    m_deadline.stop();
}
