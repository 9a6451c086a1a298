#pragma once

#include "engine/verdict/AnswerClass.h"

#include <QString>

class CurlRequest;

// What the command found out about one address.
struct Outcome {
    bool valid = false;
    int statusCode = -1;  // -1: the status line starts with no status code
    QString statusLine;   // as the window reads it; empty when there was none
    QString reason;       // why there was no status line
    qint64 milliseconds = 0;
    QString location;  // the Location header, when the response has one, as sent
    AnswerClass answerClass = AnswerClass::BadAddress;
    int attempts = 0;      // tries, every hop's included: more than one when one got no answer at first
    int hops = 0;          // redirects followed to the answer judged
    QString finalAddress;  // the address that answer came from, when there were hops

    // The judgement on a finished request, by the window's rule.
    static Outcome of(const CurlRequest& request, qint64 milliseconds);
    // The judgement on a response's header block, as received.
    static Outcome ofHeaderBlock(const QByteArray& headers);
    // Redirects that led nowhere (a loop, too many, another scheme): no
    // answer, though the last one was a redirect with this Location.
    static Outcome redirectsEnded(const QString& reason, const Outcome& lastAnswer);
    // An address that got no request: empty, or one the transfer cannot use.
    static Outcome unrequested(const QString& reason);
    // An address left unasked as the user said (--exclude, --include,
    // --exclude-private): skipped, never failing.
    static Outcome excluded(const QString& reason);
};
