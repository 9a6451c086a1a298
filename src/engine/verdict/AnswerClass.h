#pragma once

#include <QByteArrayView>
#include <QStringView>

#include <optional>

// What kind of answer an address got, beside its verdict: a page that is
// there, one that is gone, a server that turned the checker away, a host
// that could not be reached. The verdict stays the window's; the class only
// tells a reader which invalid (or valid) addresses to look at again.
enum class AnswerClass {
    Ok,           // 2xx
    Moved,        // 2xx at the end of a permanent redirect (301, 308): the address to write has changed
    Redirect,     // 3xx
    Blocked,      // 401, 403, 429, 999, or a bot wall's challenge
    NotFound,     // 404, 410
    ClientError,  // any other 4xx
    ServerError,  // 5xx
    Unreachable,  // no answer: no such host, refused, time-out, TLS, a proxy's own answer
    BadResponse,  // an answer that is no HTTP response with a status code
    BadAddress,   // no request: the address cannot be asked
    NoFragment,   // the file a local link names is there, the #fragment in it is not
    Skipped,      // not asked, by its kind: mailto:, tel:, javascript:, data:
    Excluded,     // not asked, as the user said: a pattern, or a private address
};

namespace AnswerClasses {
// The class of an answer with this status code (-1 or 0: none on its status
// line), from a server that may have turned the checker away to a challenge.
AnswerClass ofStatus(int statusCode, bool challenged);
// Whether a header block carries a bot wall's challenge ("cf-mitigated:
// challenge").
bool isChallenge(QByteArrayView headers);

// Never asked, by its kind or as the user said: reported "skipped", neither
// valid nor invalid, and in neither result file.
constexpr bool leftUnasked(AnswerClass answerClass)
{
    return answerClass == AnswerClass::Skipped || answerClass == AnswerClass::Excluded;
}

// Its name in the report: "ok", "moved", "redirect", "blocked", "not-found",
// "client-error", "server-error", "unreachable", "bad-response", "bad-address",
// "no-fragment", "skipped", "excluded".
QStringView nameOf(AnswerClass answerClass);
std::optional<AnswerClass> named(QStringView name);
// Every class, in the order summaries give them.
inline constexpr AnswerClass All[] = {AnswerClass::Ok,          AnswerClass::Moved,       AnswerClass::Redirect,
                                      AnswerClass::Blocked,     AnswerClass::NotFound,    AnswerClass::ClientError,
                                      AnswerClass::ServerError, AnswerClass::Unreachable, AnswerClass::BadResponse,
                                      AnswerClass::BadAddress,  AnswerClass::NoFragment,  AnswerClass::Skipped,
                                      AnswerClass::Excluded};
}
