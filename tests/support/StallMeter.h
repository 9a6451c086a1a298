#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

// How live the window stayed: a timer that should tick every few
// milliseconds, and the longest time the event loop let pass between two
// ticks (or from the start to the first one) while the meter ran.
class StallMeter {
public:
    static constexpr int TickMilliseconds = 5;

    StallMeter()
    {
        m_ticker.setTimerType(Qt::PreciseTimer);
        m_ticker.callOnTimeout([this] { tick(); });
    }

    void start()
    {
        m_longest = 0;
        m_sinceTick.start();
        m_ticker.start(TickMilliseconds);
    }

    // Stops, counting the time since the last tick as a stall too.
    qint64 stop()
    {
        tick();
        m_ticker.stop();
        return m_longest;
    }

    qint64 longestMilliseconds() const { return m_longest; }

private:
    void tick() { m_longest = std::max(m_longest, m_sinceTick.restart()); }

    QTimer m_ticker;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
};
