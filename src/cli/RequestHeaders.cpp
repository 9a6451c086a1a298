#include "cli/RequestHeaders.h"

#include <QStringList>

#include <algorithm>
#include <string_view>
#include <utility>

namespace {
// RFC 9110's tchar.
bool isTokenCharacter(char c)
{
    static constexpr std::string_view Marks = "!#$%&'*+-.^_`|~";
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
        || Marks.find(c) != std::string_view::npos;
}

// The headers a request must not be given, in lower case, and why.
const std::pair<const char*, const char*> Refused[] = {
    {"host", "the address names the host"},
    {"user-agent", "give it with --user-agent"},
    {"content-length", "curl writes it: a GET sends no body"},
    {"transfer-encoding", "curl writes it: a GET sends no body"},
    {"connection", "curl keeps the connections and says so itself"},
    {"keep-alive", "curl keeps the connections and says so itself"},
    {"proxy-connection", "curl keeps the connections and says so itself"},
    {"upgrade", "the request would stop being plain HTTP/1.1"},
    {"te", "curl reads the answer only in the codings it asked for"},
};

// The characters that must not stand in a header's text, and their names.
std::optional<QString> forbiddenCharacter(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (c == '\r')
            return QStringLiteral("a carriage return (CR)");
        if (c == '\n')
            return QStringLiteral("a line feed (LF)");
        if (c == '\0')
            return QStringLiteral("a NUL");
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
            return QStringLiteral("the control character 0x%1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0'));
    }
    return std::nullopt;
}
}  // namespace

QString RequestHeaders::defaultUserAgent()
{
    return QStringLiteral("tessaly-check/%1 (+%2)").arg(QStringLiteral(TESSALY_VERSION), QStringLiteral(TESSALY_HOMEPAGE));
}

std::optional<QString> RequestHeaders::userAgentProblem(const QString& text)
{
    if (text.trimmed().isEmpty())
        return QStringLiteral("--user-agent needs some text");
    if (const auto character = forbiddenCharacter(text.toUtf8()))
        return QStringLiteral("--user-agent cannot hold %1").arg(*character);
    return std::nullopt;
}

std::variant<QByteArray, QString> RequestHeaders::lineOf(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (const auto character = forbiddenCharacter(bytes))
        return QStringLiteral("--header cannot hold %1").arg(*character);
    const qsizetype colon = bytes.indexOf(':');
    if (colon < 0)
        return QStringLiteral("--header takes 'Name: value', with a colon: %1").arg(text);
    const QByteArray name = bytes.first(colon);
    if (name.isEmpty())
        return QStringLiteral("--header needs a name before its colon: %1").arg(text);
    if (!std::all_of(name.begin(), name.end(), isTokenCharacter))
        return QStringLiteral("--header's name %1 is not a token (letters, digits and !#$%&'*+-.^_`|~ only)")
            .arg(QString::fromUtf8(name));
    const QByteArray lower = name.toLower();
    for (const auto& [refused, why] : Refused) {
        if (lower == refused)
            return QStringLiteral("--header cannot set %1: %2").arg(QString::fromUtf8(name), QLatin1StringView(why));
    }
    return name + ": " + bytes.sliced(colon + 1).trimmed();
}
