#pragma once

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

// Lets the thread's events run until a condition holds or a deadline
// passes: the window stays live while it waits. Whatever makes the condition
// hold ends the pass at once by quitting loop(); the deadline ends it by a
// timer.
class EventLoopWait {
public:
    EventLoopWait();
    QEventLoop& loop() { return m_loop; }
    // Returns once condition() holds or the deadline has passed (at once if
    // either is so already).
    void until(const std::function<bool()>& condition, QDeadlineTimer deadline);

private:
    QEventLoop m_loop;
    QTimer m_deadline;
};
