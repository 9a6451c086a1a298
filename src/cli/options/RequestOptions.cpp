#include "cli/options/RequestOptions.h"

#include "engine/pacing/Backoff.h"
#include "engine/transfer/RedirectChain.h"

using namespace OptionValues;

const OptionTable<RequestOptions>& RequestOptions::table()
{
    using R = RequestOptions;
    static const OptionTable<R> rows{
        {QCommandLineOption(QStringList{QStringLiteral("j"), QStringLiteral("jobs")},
                            QStringLiteral("Up to N requests at once (default %1).").arg(Defaults::Jobs),
                            QStringLiteral("N"), QString::number(Defaults::Jobs)),
         wholeNumber(&R::jobs, 1, MostJobs)},
        {QCommandLineOption(QStringLiteral("pause"),
                            QStringLiteral("Wait S seconds between two requests to the same host "
                                           "(default %1); with --jobs 1, between any two.")
                                .arg(secondsText(Defaults::Pause)),
                            QStringLiteral("S"), secondsText(Defaults::Pause)),
         seconds(&R::pause, true, "such as 1 or 0.5")},
        {QCommandLineOption(QStringLiteral("timeout"),
                            QStringLiteral("Give up on an address after S seconds (default %1).").arg(secondsText(Defaults::Timeout)),
                            QStringLiteral("S"), secondsText(Defaults::Timeout)),
         seconds(&R::timeout, false, "such as 30")},
        {QCommandLineOption(QStringLiteral("retries"),
                            QStringLiteral("Ask an address that got no answer (time-out, refused, reset, failed handshake) up to N more "
                                           "times, on a new connection, after %1 s, then twice as long each time (default %2; 0: once).")
                                .arg(secondsText(Backoff::FirstRest))
                                .arg(Defaults::Retries),
                            QStringLiteral("N"), QString::number(Defaults::Retries)),
         wholeNumber(&R::retries, 0, MostRetries)},
        {QCommandLineOption(QStringLiteral("redirects"),
                            QStringLiteral("Follow up to N redirects (301, 302, 303, 307, 308) and judge the answer they lead to; more, "
                                           "a loop, or one to another scheme is invalid (default %1; 0: judge the first answer).")
                                .arg(Defaults::Redirects),
                            QStringLiteral("N"), QString::number(Defaults::Redirects)),
         wholeNumber(&R::redirects, 0, RedirectChain::MostLimit)},
        {QCommandLineOption(QStringLiteral("max-wait"),
                            QStringLiteral("A host that answers 429 or 503 gets no request for its Retry-After, or for a rest that "
                                           "doubles each time; no such rest, nor a retry's wait, lasts more than S seconds (default %1).")
                                .arg(secondsText(Defaults::LongestWait)),
                            QStringLiteral("S"), secondsText(Defaults::LongestWait)),
         seconds(&R::maxWait, true, "such as 60")},
        {QCommandLineOption(QStringLiteral("cacert"),
                            QStringLiteral("Trust the certificate authorities in the PEM file FILE as well "
                                           "as the system's, or those SSL_CERT_FILE and SSL_CERT_DIR name; "
                                           "once for each."),
                            QStringLiteral("FILE")),
         paths(&R::addedAuthorities, "a file name"), true},
    };
    return rows;
}

const OptionTable<ShardOptions>& ShardOptions::table()
{
    static const OptionTable<ShardOptions> rows{
        {QCommandLineOption(QStringLiteral("resume"), QStringLiteral("Keep a journal in FILE and skip the addresses it holds."),
                            QStringLiteral("FILE")),
         fileName(&ShardOptions::journalPath)},
        {QCommandLineOption(QStringLiteral("shard"),
                            QStringLiteral("Ask only the addresses whose host falls in shard K of N (by a hash of the host name), one of N "
                                           "machines sharing a list (N at most %1); keep a journal with --resume for --merge.")
                                .arg(Shard::MostShards),
                            QStringLiteral("K/N")),
         [](const Given& given, ShardOptions& into) -> std::optional<QString> {
             if (!given.set)
                 return std::nullopt;
             const std::variant<Shard, QString> parsed = Shard::parse(given.value());
             if (const QString* problem = std::get_if<QString>(&parsed))
                 return *problem;
             into.shard = std::get<Shard>(parsed);
             return std::nullopt;
         }},
    };
    return rows;
}
