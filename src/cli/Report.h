#pragma once

#include "cli/Outcome.h"

struct LinkSource;

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <memory>
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
// The same, at the end of a line being built.
void appendEscapedField(QByteArray& out, QByteArrayView text);
// The status line, or the reason there was none, control characters as
// spaces: on one line of any report.
QByteArray statusOf(const Outcome& outcome);
// "valid", "invalid", or "skipped" for an address never asked by its kind.
QByteArray verdictOf(const Outcome& outcome);
// The outcome and address an object holds, or nothing when it holds none.
std::optional<std::pair<QByteArray, Outcome>> fromJson(const QJsonObject& object);

// One address of the report as a writer is handed it: the address, what was
// found out, and where it stands: a document's link (`source`), or a list's
// line (`list` names the list, "-" standard input; empty when not known).
struct Entry {
    QByteArrayView address;
    const Outcome& outcome;
    const LinkSource* source = nullptr;
    QStringView list;
    // Whether it fails the run: an invalid link, or under --fail-on one of a
    // class named. The forms CI reads mark these alone as failures.
    bool fails = false;
};

// Writes one run's report: what comes before the first address, each
// address in list order, and what comes after the last. A form whose head
// needs the whole run (JUnit's counts) or that ends with what the run left
// out (GitHub's closing notice) keeps what it needs until end().
class Writer {
public:
    virtual ~Writer() = default;
    virtual QByteArray begin() { return {}; }
    virtual QByteArray line(const Entry& entry) = 0;
    virtual QByteArray end() { return {}; }
};

// A format of the report: the name --format takes, and a new writer for a run.
struct Format {
    QStringView name;
    std::unique_ptr<Writer> (*writer)();
};
// The format of this name, or null.
const Format* formatNamed(QStringView name);
// Every format's name, the default first.
QStringList formatNames();
}
