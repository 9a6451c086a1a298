#pragma once

#include "cli/AddressFilter.h"
#include "cli/options/OptionGroup.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What tessaly-check asks and leaves, and what its requests say of it: the
// patterns and the private addresses it leaves unasked, its user agent, the
// headers added and the cookies kept.
struct AskingOptions {
    AddressFilter filter;
    QByteArray userAgent;       // RequestHeaders::defaultUserAgent() unless given
    QList<QByteArray> headers;  // each a line to send, checked
    QString cookieJar;          // empty: no cookies kept

    static const OptionTable<AskingOptions>& table();
};
