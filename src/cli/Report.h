#pragma once

#include "cli/Outcome.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// The report on standard output, one line an address, and the same fields
// as a journal keeps them.
namespace Report {
// "valid" or "invalid", the status line or the reason, the address, the
// answer's class, the number of attempts, for a redirect not followed (or
// redirects that led nowhere) its Location, and for an address redirected
// the hops followed and the address last asked: fields apart by tabs, a line
// feed at the end. The first six stand where they always stood. In the address and the Location a control character is
// written \xNN (its code: C0, DEL, C1) and a backslash \\.
QByteArray textLine(QByteArrayView address, const Outcome& outcome);
// One JSON object on one line.
QByteArray jsonLine(QByteArrayView address, const Outcome& outcome);
QJsonObject toJson(QByteArrayView address, const Outcome& outcome);
// The outcome and address an object holds, or nothing when it holds none.
std::optional<std::pair<QByteArray, Outcome>> fromJson(const QJsonObject& object);

// A format of the report: its name and the writer of one line.
struct Format {
    QStringView name;
    QByteArray (*line)(QByteArrayView address, const Outcome& outcome);
};
// The format of this name, or null.
const Format* formatNamed(QStringView name);
// Every format's name, the default first.
QStringList formatNames();
}
