#include "cli/options/AskingOptions.h"

#include "cli/RequestHeaders.h"

using namespace OptionValues;

namespace {
// Each value of a repeated pattern option, compiled.
Take<AskingOptions> patterns(QList<QRegularExpression> AddressFilter::*field)
{
    return [=](const Given& given, AskingOptions& into) -> std::optional<QString> {
        for (const QString& text : given.values) {
            auto pattern = AddressFilter::patternOf(given.name, text);
            if (const QString* problem = std::get_if<QString>(&pattern))
                return *problem;
            (into.filter.*field).append(std::get<QRegularExpression>(pattern));
        }
        return std::nullopt;
    };
}
}  // namespace

const OptionTable<AskingOptions>& AskingOptions::table()
{
    using A = AskingOptions;
    static const OptionTable<A> rows{
        {QCommandLineOption(QStringLiteral("include"),
                            QStringLiteral("Ask only the addresses the regular expression REGEX finds, anywhere in the "
                                           "address as it is asked (a document's link resolved), unless anchored with ^ "
                                           "or $; the others are skipped, classed excluded. Once for each; links on disk "
                                           "are not matched. A redirect to an address left out is not followed: the "
                                           "line is skipped, classed excluded."),
                            QStringLiteral("REGEX")),
         patterns(&AddressFilter::included), true},
        {QCommandLineOption(QStringLiteral("exclude"),
                            QStringLiteral("Skip the addresses REGEX finds, as --include reads it, even those an "
                                           "--include finds; classed excluded, never failing. Once for each."),
                            QStringLiteral("REGEX")),
         patterns(&AddressFilter::excluded), true},
        {QCommandLineOption(QStringLiteral("exclude-private"),
                            QStringLiteral("Connect to no loopback, private, link-local or unspecified address (127/8, "
                                           "10/8, 172.16/12, 192.168/16, 169.254/16, 0/8, ::1, fc00::/7, fe80::/10), "
                                           "written or resolved from a name, redirects included: skipped, classed "
                                           "excluded. Through a proxy, the proxy may be private and only what is written "
                                           "is checked; an address no_proxy sends straight is checked.")),
         [](const Given& given, A& into) -> std::optional<QString> {
             into.filter.excludePrivate = given.set;
             return std::nullopt;
         }},
        {QCommandLineOption(
             QStringLiteral("user-agent"),
             QStringLiteral("Send TEXT as the User-Agent header (default: %1).").arg(RequestHeaders::defaultUserAgent()),
             QStringLiteral("TEXT"), RequestHeaders::defaultUserAgent()),
         [](const Given& given, A& into) -> std::optional<QString> {
             if (const auto problem = RequestHeaders::userAgentProblem(given.value()))
                 return problem;
             into.userAgent = given.value().toUtf8();
             return std::nullopt;
         }},
        {QCommandLineOption(QStringLiteral("header"),
                            QStringLiteral("Add the header 'Name: value' to every request; once for each. Host, "
                                           "User-Agent (see --user-agent) and those curl writes itself "
                                           "(Content-Length, Transfer-Encoding, Connection, Keep-Alive, Upgrade, TE) "
                                           "are refused. A redirect to another origin (scheme, host, port) gets no "
                                           "Authorization, Proxy-Authorization or Cookie header from here."),
                            QStringLiteral("HEADER")),
         [](const Given& given, A& into) -> std::optional<QString> {
             for (const QString& text : given.values) {
                 auto line = RequestHeaders::lineOf(text);
                 if (const QString* problem = std::get_if<QString>(&line))
                     return *problem;
                 into.headers.append(std::get<QByteArray>(line));
             }
             return std::nullopt;
         },
         true},
        {QCommandLineOption(QStringLiteral("cookie-jar"),
                            QStringLiteral("Keep cookies for the whole run, as a browser would: read them from FILE "
                                           "(Netscape format, as curl's; none if there is no such file) and write them "
                                           "all back there at the end."),
                            QStringLiteral("FILE")),
         fileName(&A::cookieJar)},
    };
    return rows;
}
