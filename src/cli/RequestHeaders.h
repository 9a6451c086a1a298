#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <variant>

// What tessaly-check says of itself in each request: its user agent, and the
// header lines the user adds. Each is checked before anything is asked, so
// that no request goes out broken or other than the user meant.
namespace RequestHeaders {
// "tessaly-check/VERSION (+HOMEPAGE)": a site owner sees what asks, and
// where to read about it.
QString defaultUserAgent();
// Why this text cannot be the user agent, or nothing.
std::optional<QString> userAgentProblem(const QString& text);
// The line to send for --header's text "Name: value", or why it cannot be
// sent: no name, a name that is not an RFC 9110 token, CR, LF, NUL or
// another control character, or a header curl writes itself (Host,
// Content-Length, Transfer-Encoding, Connection and its kin), or
// User-Agent, which is --user-agent's.
std::variant<QByteArray, QString> lineOf(const QString& text);
}  // namespace RequestHeaders
