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
    QString location;     // the Location header, when the response has one
    AnswerClass answerClass = AnswerClass::BadAddress;
    int attempts = 0;     // requests that made it: more than one when none answered at first

    // The judgement on a finished request, by the window's rule.
    static Outcome of(const CurlRequest& request, qint64 milliseconds);
    // An address that got no request: empty, or one the transfer cannot use.
    static Outcome unrequested(const QString& reason);
};
