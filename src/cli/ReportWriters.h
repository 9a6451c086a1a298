#pragma once

#include "cli/Report.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

// The report in the forms CI systems show: JUnit XML (GitLab, Jenkins),
// GitHub's workflow commands, and CSV. Each is a row of Report's table of
// formats.
namespace ReportWriters {
// A testsuite with a testcase per address, written whole at the end, as its
// counts head it.
std::unique_ptr<Report::Writer> junit();
// An ::error command for each address that fails the run, on its file's line for a
// link of a document, up to GitHub's cap; past it, the text report's line,
// and at the end a notice of how many were not annotated.
std::unique_ptr<Report::Writer> github();
// RFC 4180: a header row, then a row per address, lines ended by CR LF.
std::unique_ptr<Report::Writer> csv();

// GitHub shows 10 error annotations a step (and 50 a job): those past them
// would be dropped without a word.
inline constexpr int GithubAnnotations = 10;

// UTF-8 as XML character data or an attribute's value: markup characters as
// entities, tab, CR and LF as character references where XML would fold
// them, and what XML cannot hold at all (other control characters, bytes
// that are not UTF-8) as \xNN, as the text report writes control characters.
QByteArray xmlEscaped(QByteArrayView utf8);
// A workflow command's message (`property`: false) or a property's value, as
// GitHub's runner reads them back.
QByteArray githubEscaped(QByteArrayView text, bool property);
// A CSV field, quoted when it holds a quote, a comma, CR or LF.
QByteArray csvField(QByteArrayView text);
}  // namespace ReportWriters
