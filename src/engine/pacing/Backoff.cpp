#include "engine/pacing/Backoff.h"

#include <QByteArray>

#include <curl/curl.h>

#include <algorithm>
#include <cctype>

bool Backoff::asksToSlowDown(int statusCode) { return statusCode == 429 || statusCode == 503; }

std::optional<Backoff::milliseconds> Backoff::retryAfter(QByteArrayView value, std::time_t now)
{
    const QByteArray text = value.trimmed().toByteArray();
    if (text.isEmpty())
        return std::nullopt;
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        bool fits = false;
        const qint64 seconds = text.toLongLong(&fits);
        // More seconds than a clock holds is as good as for ever.
        constexpr qint64 mostSeconds = std::chrono::duration_cast<std::chrono::seconds>(milliseconds::max()).count();
        return std::chrono::seconds(fits ? std::min(seconds, mostSeconds) : mostSeconds);
    }
    // An HTTP date starts with the day's name; curl reads every form of it.
    if (!std::isalpha(static_cast<unsigned char>(text.front())))
        return std::nullopt;
    const std::time_t until = curl_getdate(text.constData(), nullptr);
    if (until == -1)
        return std::nullopt;
    return std::chrono::seconds(std::max<std::time_t>(until - now, 0));
}

Backoff::Pace Backoff::paceAfter(int statusCode, std::optional<milliseconds> retryAfter, milliseconds pause,
                                 milliseconds userPause, milliseconds longest)
{
    if (!asksToSlowDown(statusCode))
        return {userPause, userPause};
    // The user's own pause holds whatever the cap.
    const milliseconds cap = std::max(longest, userPause);
    const milliseconds slower = std::clamp(std::max(pause, userPause) * 2, std::min(FirstRest, cap), cap);
    return {slower, std::max(slower, std::min(retryAfter.value_or(milliseconds(0)), cap))};
}

Backoff::milliseconds Backoff::beforeAttempt(int attempt, milliseconds longest)
{
    const int doublings = std::clamp(attempt - 2, 0, 30);
    return std::min<milliseconds>(FirstRest * (qint64(1) << doublings), longest);
}
