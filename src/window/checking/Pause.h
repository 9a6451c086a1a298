#pragma once

// Waits the given seconds with the window live: the event loop runs, a timer
// wakes it, a monotonic clock measures, so a change of the system clock or
// midnight does not shorten or stretch the wait. Fractions are honoured; zero,
// less or not a number returns at once.
void Pause(double seconds);
