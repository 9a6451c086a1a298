#pragma once

#include "cli/Outcome.h"

struct LinkSource;

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
// feed at the end. The first six stand where they always stood. For a link
// found in a document, last, where it stands: "docs/a.md:12:7". In the
// address, the Location and the file a control character is written \xNN
// (its code: C0, DEL, C1) and a backslash \\.
QByteArray textLine(QByteArrayView address, const Outcome& outcome, const LinkSource* source = nullptr);
// One JSON object on one line; for a link of a document, with its "source"
// (file, line, column) and the address as "written" there.
QByteArray jsonLine(QByteArrayView address, const Outcome& outcome, const LinkSource* source = nullptr);
QJsonObject toJson(QByteArrayView address, const Outcome& outcome);
// A field as the text report writes an address: control characters as
// \xNN, a backslash as \\.
QByteArray escapedField(QByteArrayView text);
// "valid", "invalid", or "skipped" for an address never asked by its kind.
QByteArray verdictOf(const Outcome& outcome);
// The outcome and address an object holds, or nothing when it holds none.
std::optional<std::pair<QByteArray, Outcome>> fromJson(const QJsonObject& object);

// A format of the report: its name and the writer of one line.
struct Format {
    QStringView name;
    QByteArray (*line)(QByteArrayView address, const Outcome& outcome, const LinkSource* source);
};
// The format of this name, or null.
const Format* formatNamed(QStringView name);
// Every format's name, the default first.
QStringList formatNames();
}
