#include "cli/Options.h"

#include "cli/Report.h"
#include "engine/pacing/Backoff.h"
#include "engine/transfer/RedirectChain.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QUrl>

#include <optional>

namespace {
using std::chrono::milliseconds;

constexpr double MostSeconds = 86400;

// A default number of seconds as --help and the parser both take it: 0.5, 30.
QString secondsText(milliseconds time) { return QString::number(static_cast<double>(time.count()) / 1000); }

// A number of seconds, fractions allowed, as milliseconds; nothing when it is
// none, below 0 (or 0 itself where that is not allowed) or more than a day.
std::optional<milliseconds> secondsOf(const QString& text, bool zeroAllowed)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !(seconds >= 0) || (!zeroAllowed && seconds == 0) || seconds > MostSeconds)
        return std::nullopt;
    const milliseconds rounded(static_cast<qint64>(seconds * 1000 + 0.5));
    if (!zeroAllowed && rounded < milliseconds(1))
        return std::nullopt;
    return rounded;
}
}  // namespace

std::variant<Options, Options::Help, Options::Usage> Options::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Checks which web addresses in list files exist, one address per line, and judges each as the Tessaly "
        "window does; reads the links of HTML, Markdown and sitemap files too, and of the folders that hold them, "
        "checking links to local files on disk.\nExit status: 0 all valid, 1 some invalid, 2 bad usage, unreadable input, unwritable result "
        "file, report or journal, a list changed during the run, or no request possible on this machine; 129, 130 "
        "or 143 ended by SIGHUP, SIGINT (Ctrl-C) or SIGTERM; 141 report's reader gone."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption jobs(QStringList{QStringLiteral("j"), QStringLiteral("jobs")},
                                  QStringLiteral("Up to N requests at once (default %1).").arg(Defaults::Jobs),
                                  QStringLiteral("N"), QString::number(Defaults::Jobs));
    const QCommandLineOption pause(QStringLiteral("pause"),
                                   QStringLiteral("Wait S seconds between two requests to the same host "
                                                  "(default %1); with --jobs 1, between any two.")
                                       .arg(secondsText(Defaults::Pause)),
                                   QStringLiteral("S"), secondsText(Defaults::Pause));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"),
        QStringLiteral("Give up on an address after S seconds (default %1).").arg(secondsText(Defaults::Timeout)),
        QStringLiteral("S"), secondsText(Defaults::Timeout));
    const QCommandLineOption retries(
        QStringLiteral("retries"),
        QStringLiteral("Ask an address that got no answer (time-out, refused, reset, failed handshake) up to N more "
                       "times, on a new connection, after %1 s, then twice as long each time (default %2; 0: once).")
            .arg(secondsText(Backoff::FirstRest))
            .arg(Defaults::Retries),
        QStringLiteral("N"), QString::number(Defaults::Retries));
    const QCommandLineOption redirects(
        QStringLiteral("redirects"),
        QStringLiteral("Follow up to N redirects (301, 302, 303, 307, 308) and judge the answer they lead to; more, "
                       "a loop, or one to another scheme is invalid (default %1; 0: judge the first answer).")
            .arg(Defaults::Redirects),
        QStringLiteral("N"), QString::number(Defaults::Redirects));
    const QCommandLineOption maxWait(
        QStringLiteral("max-wait"),
        QStringLiteral("A host that answers 429 or 503 gets no request for its Retry-After, or for a rest that "
                       "doubles each time; no such rest, nor a retry's wait, lasts more than S seconds (default %1).")
            .arg(secondsText(Defaults::LongestWait)),
        QStringLiteral("S"), secondsText(Defaults::LongestWait));
    const QCommandLineOption shard(
        QStringLiteral("shard"),
        QStringLiteral("Ask only the addresses whose host falls in shard K of N (by a hash of the host name), one of N "
                       "machines sharing a list (N at most %1); keep a journal with --resume for --merge.")
            .arg(Shard::MostShards),
        QStringLiteral("K/N"));
    const QCommandLineOption merge(QStringLiteral("merge"),
                                   QStringLiteral("Write the report and result files of the whole list from the journal FILE of each shard, in "
                                                  "list order, without a request; once for each journal."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption valid(QStringLiteral("valid"), QStringLiteral("Save the valid addresses in FILE."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption invalid(QStringLiteral("invalid"), QStringLiteral("Save the invalid addresses in FILE."),
                                     QStringLiteral("FILE"));
    const QStringList formats = Report::formatNames();
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("Report as %1 (default) or %2.").arg(formats.constFirst(), formats.mid(1).join(QStringLiteral(", "))),
        QStringLiteral("FORMAT"), formats.constFirst());
    const QCommandLineOption resume(QStringLiteral("resume"),
                                    QStringLiteral("Keep a journal in FILE and skip the addresses it holds."),
                                    QStringLiteral("FILE"));
    const QStringList kinds = DocumentKinds::inputFormatNames();
    const QCommandLineOption inputFormat(
        QStringLiteral("input-format"),
        QStringLiteral("Read every file named, and standard input, as %1 (default: by the file's name: .html, .htm, "
                       ".xhtml, .md, .markdown, .xml, .xml.gz; anything else, and standard input, a list).")
            .arg(kinds.mid(0, kinds.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" or ") + kinds.constLast()),
        QStringLiteral("KIND"));
    const QCommandLineOption rootDir(QStringLiteral("root-dir"),
                                     QStringLiteral("Look for a document's links that start with / under DIR "
                                                    "(default: the folder given, else the current one)."),
                                     QStringLiteral("DIR"));
    const QCommandLineOption base(QStringLiteral("base"),
                                  QStringLiteral("The documents are published at URL: ask their relative links as "
                                                 "that site's addresses instead of looking for them on disk."),
                                  QStringLiteral("URL"));
    const QCommandLineOption excludePath(QStringLiteral("exclude-path"),
                                         QStringLiteral("Leave the file or folder PATH out of the folders read; "
                                                        "once for each."),
                                         QStringLiteral("PATH"));
    const QCommandLineOption dump(QStringLiteral("dump"),
                                  QStringLiteral("Print the links found and where each stands, and ask nothing."));
    parser.addOptions({jobs, pause, timeout, retries, redirects, maxWait, valid, invalid, format, resume, shard, merge,
                       inputFormat, rootDir, base, excludePath, dump});
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("List files, HTML, Markdown or sitemap files, or folders of them; - or none: standard input."),
        QStringLiteral("[FILE...]"));

    if (!parser.parse(arguments))
        return Usage{parser.errorText()};
    // The command has no options of Qt's own to show beyond its own.
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        return Help{parser.helpText()};
    if (parser.isSet(QStringLiteral("version")))
        return Help{QStringLiteral("tessaly-check " TESSALY_VERSION "\n")};
    Options options;
    bool jobsOk = false;
    options.jobs = parser.value(jobs).toInt(&jobsOk);
    if (!jobsOk || options.jobs < 1 || options.jobs > MostJobs)
        return Usage{QStringLiteral("--jobs takes a whole number from 1 to %1").arg(MostJobs)};
    const std::optional<milliseconds> pauseTime = secondsOf(parser.value(pause), true);
    if (!pauseTime)
        return Usage{QStringLiteral("--pause takes a number of seconds from 0 to 86400, such as 1 or 0.5")};
    options.pause = *pauseTime;
    const std::optional<milliseconds> timeoutTime = secondsOf(parser.value(timeout), false);
    if (!timeoutTime)
        return Usage{QStringLiteral("--timeout takes a number of seconds from 0.001 to 86400, such as 30")};
    options.timeout = *timeoutTime;
    bool retriesOk = false;
    options.retries = parser.value(retries).toInt(&retriesOk);
    if (!retriesOk || options.retries < 0 || options.retries > MostRetries)
        return Usage{QStringLiteral("--retries takes a whole number from 0 to %1").arg(MostRetries)};
    bool redirectsOk = false;
    options.redirects = parser.value(redirects).toInt(&redirectsOk);
    if (!redirectsOk || options.redirects < 0 || options.redirects > RedirectChain::MostLimit)
        return Usage{QStringLiteral("--redirects takes a whole number from 0 to %1").arg(RedirectChain::MostLimit)};
    const std::optional<milliseconds> maxWaitTime = secondsOf(parser.value(maxWait), true);
    if (!maxWaitTime)
        return Usage{QStringLiteral("--max-wait takes a number of seconds from 0 to 86400, such as 60")};
    options.maxWait = *maxWaitTime;
    options.format = Report::formatNamed(parser.value(format));
    if (!options.format)
        return Usage{QStringLiteral("--format is ") + formats.join(QStringLiteral(" or "))};
    for (const QCommandLineOption* file : {&valid, &invalid, &resume}) {
        if (parser.isSet(*file) && parser.value(*file).isEmpty())
            return Usage{QStringLiteral("--%1 needs a file name").arg(file->names().constFirst())};
    }
    options.validPath = parser.value(valid);
    options.invalidPath = parser.value(invalid);
    options.journalPath = parser.value(resume);
    if (parser.isSet(shard)) {
        const std::variant<Shard, QString> parsed = Shard::parse(parser.value(shard));
        if (const QString* problem = std::get_if<QString>(&parsed))
            return Usage{*problem};
        options.shard = std::get<Shard>(parsed);
    }
    options.mergeJournals = parser.values(merge);
    if (options.mergeJournals.contains(QString()))
        return Usage{QStringLiteral("--merge needs a file name")};
    if (!options.mergeJournals.isEmpty()) {
        for (const QCommandLineOption* asking : {&shard, &resume, &jobs, &pause, &timeout, &retries, &redirects, &maxWait}) {
            if (parser.isSet(*asking))
                return Usage{QStringLiteral("--merge asks nothing: it takes no --%1").arg(asking->names().constLast())};
        }
    }
    if (parser.isSet(inputFormat)) {
        options.inputFormat = DocumentKinds::ofInputFormat(parser.value(inputFormat));
        if (!options.inputFormat)
            return Usage{QStringLiteral("--input-format is ") + kinds.join(QStringLiteral(" or "))};
    }
    for (const QCommandLineOption* path : {&rootDir, &excludePath}) {
        if (parser.values(*path).contains(QString()))
            return Usage{QStringLiteral("--%1 needs a path").arg(path->names().constFirst())};
    }
    options.rootDir = parser.value(rootDir);
    if (!options.rootDir.isEmpty() && !QFileInfo(options.rootDir).isDir())
        return Usage{QStringLiteral("--root-dir names no folder: ") + options.rootDir};
    options.excludedPaths = parser.values(excludePath);
    if (parser.isSet(base)) {
        const QUrl url(parser.value(base), QUrl::StrictMode);
        if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https") || url.host().isEmpty())
            return Usage{QStringLiteral("--base takes an http or https address, such as https://example.org/docs/")};
        // The links would resolve against it as a page's address, dropping both.
        if (url.hasQuery() || url.hasFragment())
            return Usage{QStringLiteral("--base takes the folder's address without a query or fragment, such as "
                                        "https://example.org/docs/")};
        options.base = url.toEncoded();
    }
    options.dump = parser.isSet(dump);
    if (options.dump) {
        for (const QCommandLineOption* asking :
             {&shard, &resume, &jobs, &pause, &timeout, &retries, &redirects, &maxWait, &valid, &invalid, &merge}) {
            if (parser.isSet(*asking))
                return Usage{QStringLiteral("--dump asks nothing: it takes no --%1").arg(asking->names().constLast())};
        }
    }
    if (!options.mergeJournals.isEmpty()) {
        for (const QCommandLineOption* reading : {&inputFormat, &rootDir, &base, &excludePath}) {
            if (parser.isSet(*reading))
                return Usage{
                    QStringLiteral("--merge reads list files only: it takes no --%1").arg(reading->names().constLast())};
        }
    }
    options.lists = parser.positionalArguments();
    if (options.lists.isEmpty())
        options.lists << QStringLiteral("-");
    return options;
}
