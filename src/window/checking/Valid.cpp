#include "window/checking/Valid.h"

#include "window/app/ErrorReport.h"
#include "window/checking/IEOFFline.h"
#include "window/checking/Pause.h"

#include <QCoreApplication>

namespace {
const QString Location = ErrorReport::locationIn(QStringLiteral("Valid"));
}

// The step numbers are the ones the error report shows.
bool Valid::IsURLValid(const Probe& probe, const QString& address, double pauseSeconds)
{
    StepTrap trap(probe.dialogs, Location + QStringLiteral("IsURLValid "));
    bool verdict = false;
    QString statusText;

    if (!trap.opens(100, [&] { return !address.isEmpty(); }))
        return false;
    trap.step(102, [&] { statusText = CheckURL(probe, address, pauseSeconds, 1); });
    if (trap.opens(104, [&] { return LooksValid(statusText); }))
        trap.step(106, [&] { verdict = true; });
    else
        trap.step(108, [&] { verdict = false; });
    if (trap.opens(110, [&] { return SaysNotFound(statusText); }))
        trap.step(112, [&] { verdict = false; });
    return verdict;
}

QString Valid::CheckURL(const Probe& probe, const QString& address, double pauseSeconds, int tries)
{
    StepTrap trap(probe.dialogs, Location + QStringLiteral("CheckURL "));
    int triesCounter = 0;
    bool done = false;
    QString statusLine;
    QString statusText;

    trap.step(100, [&] { triesCounter = 0; });
    trap.step(102, [&] { done = false; });
    if (!trap.opens(104, [&] { return IEOFFline::EnsureOnline(probe.internet); }))
        return statusText;
    const auto another = [&] { return triesCounter < tries && !done; };
    trap.loop(106, another, 106, another, [&] {
        trap.step(108, [&] { QCoreApplication::processEvents(); });
        trap.step(110, [&] { ++triesCounter; });
        trap.step(112, [&] { probe.Inet1.request(address); });
        trap.step(114, [&] { Pause(pauseSeconds); });
        if (!trap.opens(116, [&] { return HeadersAvailable(probe.Inet1); }))
            return false;
        trap.step(118, [&] { statusLine = StatusLineOf(probe.Inet1.responseHeaders()); });
        trap.step(120, [&] { statusText = StatusTextOf(statusLine); });
        if (trap.opens(122, [&] { return statusText.left(3) == QStringLiteral("200"); }))
            trap.step(124, [&] { done = true; });
        return true;
    });
    return statusText;
}

bool Valid::HeadersAvailable(TransferControl& Inet1) noexcept
{
    try {
        Inet1.responseHeaders();
        return true;
    } catch (...) {
        return false;
    }
}
