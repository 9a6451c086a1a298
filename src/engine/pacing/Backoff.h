#pragma once

#include <QByteArrayView>

#include <chrono>
#include <ctime>
#include <optional>

// How long a host is left alone: after an answer that asks the client to
// slow down, and before an address with no answer is asked again.
namespace Backoff {
using std::chrono::milliseconds;
using namespace std::chrono_literals;

// The first rest a host gets after asking to slow down without saying for
// how long, and the first wait before an address is asked again; each
// doubles from there.
inline constexpr milliseconds FirstRest = 1s;

// 429 Too Many Requests and 503 Service Unavailable: the server asks the
// client to come back later, Retry-After saying when.
bool asksToSlowDown(int statusCode);

// What a Retry-After value asks for, counted from `now`: a number of seconds,
// or the time until an HTTP date (none for a date already past). Nothing when
// it is neither.
std::optional<milliseconds> retryAfter(QByteArrayView value, std::time_t now);

// A host's pace: the pause it keeps between two requests, and the rest it
// takes before its next one.
struct Pace {
    milliseconds pause;
    milliseconds rest;
    bool operator==(const Pace&) const = default;
};
// The pace after an answer with this status code, for a host that kept
// `pause` until now, where the user asked for `userPause` and for no wait
// longer than `longest`. An answer that asks to slow down doubles the pause
// (from FirstRest) and makes the rest at least what its Retry-After asked;
// any other answer brings the pause back to the user's.
Pace paceAfter(int statusCode, std::optional<milliseconds> retryAfter, milliseconds pause, milliseconds userPause,
               milliseconds longest);

// The wait before an address is asked for the attempt-th time (2: the first
// time again): FirstRest, doubling each time, at most `longest`.
milliseconds beforeAttempt(int attempt, milliseconds longest);
}
