#include "cli/Outcome.h"

#include "engine/Failure.h"
#include "engine/transfer/CurlRequest.h"
#include "engine/verdict/Verdict.h"

#include <QStringDecoder>

namespace {
// A header value as its sender most likely meant it: UTF-8 where the bytes
// are UTF-8 (a Location to a page named in another script), else each byte
// a character, as HTTP once defined it.
QString textOfHeaderValue(const QByteArray& value)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = utf8.decode(value);
    return utf8.hasError() ? QString::fromLatin1(value) : text;
}
}  // namespace

Outcome Outcome::of(const CurlRequest& request, qint64 milliseconds)
{
    Outcome outcome;
    outcome.milliseconds = milliseconds;
    outcome.attempts = 1;
    if (request.refusedPrivate()) {
        Outcome left = excluded(request.failureReason());
        left.milliseconds = milliseconds;
        left.attempts = 1;
        return left;
    }
    if (!request.haveResponse()) {
        outcome.reason = request.failureReason();
        outcome.answerClass = request.fault() == Fault::BadAnswer ? AnswerClass::BadResponse : AnswerClass::Unreachable;
        return outcome;
    }
    Outcome answer = ofHeaderBlock(request.headers());
    answer.milliseconds = milliseconds;
    answer.attempts = 1;
    return answer;
}

Outcome Outcome::ofHeaderBlock(const QByteArray& headers)
{
    Outcome outcome;
    outcome.answerClass = AnswerClass::BadResponse;
    // The window reads the header block as Latin-1 text.
    QString statusText;
    try {
        outcome.statusLine = Valid::StatusLineOf(QString::fromLatin1(headers));
        statusText = Valid::StatusTextOf(outcome.statusLine);
    } catch (const Failure&) {
        outcome.statusLine.clear();
        outcome.reason = QStringLiteral("no status line");
        return outcome;
    }
    outcome.statusCode = Valid::StatusCodeOf(statusText);
    outcome.valid = Valid::IsValidStatusText(statusText);
    outcome.answerClass = AnswerClasses::ofStatus(outcome.statusCode, AnswerClasses::isChallenge(headers));
    const QList<QByteArray> locations = HeaderBlock::values(headers, "location");
    outcome.location = locations.isEmpty() ? QString() : textOfHeaderValue(locations.first());
    return outcome;
}

Outcome Outcome::redirectsEnded(const QString& reason, const Outcome& lastAnswer)
{
    Outcome outcome = unrequested(reason);
    outcome.answerClass = AnswerClass::Redirect;
    outcome.location = lastAnswer.location;
    outcome.milliseconds = lastAnswer.milliseconds;
    return outcome;
}

Outcome Outcome::excluded(const QString& reason)
{
    Outcome outcome;
    outcome.valid = true;
    outcome.answerClass = AnswerClass::Excluded;
    outcome.reason = reason;
    return outcome;
}

Outcome Outcome::unrequested(const QString& reason)
{
    Outcome outcome;
    outcome.reason = reason;
    return outcome;
}
