#pragma once

#include "engine/transfer/Policy.h"
#include "engine/transfer/RedirectChain.h"

#include <QtGlobal>

#include <algorithm>
#include <chrono>

// What tessaly-check does unless told otherwise: the options start from
// these, the queue's settings too, and --help prints them.
namespace Defaults {
using namespace std::chrono_literals;

// Sensible for a list spread over many hosts while each host still sees
// one request at a time; see the README.
inline constexpr int Jobs = 16;
inline constexpr std::chrono::milliseconds Pause = 0ms;
// The window's time-out.
inline constexpr std::chrono::milliseconds Timeout = Policy::Timeout;
// One more request tells a passing failure from a lasting one.
inline constexpr int Retries = 1;
inline constexpr int Redirects = RedirectChain::DefaultLimit;
// The longest rest a host that asks to slow down is given, and the longest
// wait before an address is asked again.
inline constexpr std::chrono::milliseconds LongestWait = 60s;
// Addresses taken in beyond the first one not yet judged: at least this
// many, more for many jobs, so that each has a host to ask.
inline constexpr qsizetype LookAhead = 8192;
inline constexpr qsizetype LookAheadPerJob = 128;
constexpr qsizetype lookAheadFor(int jobs) { return std::max<qsizetype>(LookAhead, LookAheadPerJob * jobs); }
}  // namespace Defaults
