#include "cli/commands/Command.h"

#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/ListInput.h"
#include "cli/commands/CheckCommand.h"
#include "cli/commands/DumpCommand.h"
#include "cli/commands/MergeCommand.h"
#include "cli/options/InputOptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

QList<QCommandLineOption> Command::optionDefinitions() const
{
    QList<QCommandLineOption> definitions;
    for (const OptionSpec& spec : optionSpecs())
        definitions << spec.definition;
    return definitions;
}

QStringList Command::longOptionNames() const
{
    QStringList names;
    for (const QCommandLineOption& option : optionDefinitions())
        names << longNameOf(option);
    return names;
}

QString Command::refusal(const QString&) const { return {}; }

std::vector<std::unique_ptr<Command>> Command::all()
{
    std::vector<std::unique_ptr<Command>> jobs;
    jobs.push_back(std::make_unique<CheckCommand>());
    jobs.push_back(std::make_unique<MergeCommand>());
    jobs.push_back(std::make_unique<DumpCommand>());
    return jobs;
}

std::variant<std::unique_ptr<Command>, Command::Help, Command::Usage> Command::parse(const QStringList& arguments)
{
    std::vector<std::unique_ptr<Command>> jobs = all();
    // Every job's options at once: the help lists them all, and which job is
    // asked for is read as the user's shell split the words.
    QCommandLineParser whole;
    whole.setApplicationDescription(QStringLiteral(
        "Checks which web addresses in list files exist, one address per line, and judges each as the Tessaly "
        "window does; reads the links of HTML, Markdown and sitemap files too, and of the folders that hold them, "
        "checking links to local files on disk.\nExit status: 0 all valid, 1 some invalid, 2 bad usage, unreadable input or trust store, unwritable result "
        "file, report or journal, a list changed during the run, or no request possible on this machine; 129, 130 "
        "or 143 ended by SIGHUP, SIGINT (Ctrl-C) or SIGTERM; 141 report's reader gone."));
    whole.addHelpOption();
    whole.addVersionOption();
    QStringList listed;
    for (const auto& job : jobs) {
        for (const QCommandLineOption& option : job->optionDefinitions()) {
            if (!listed.contains(longNameOf(option))) {
                listed << longNameOf(option);
                whole.addOption(option);
            }
        }
    }
    whole.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("List files, HTML, Markdown or sitemap files, or folders of them; - or none: standard input."),
        QStringLiteral("[FILE...]"));
    if (!whole.parse(arguments))
        return Usage{whole.errorText()};
    // The command has no options of Qt's own to show beyond its own.
    if (whole.isSet(QStringLiteral("help")) || whole.isSet(QStringLiteral("help-all")))
        return Help{whole.helpText()};
    if (whole.isSet(QStringLiteral("version")))
        return Help{QStringLiteral("tessaly-check " TESSALY_VERSION "\n")};

    // The job whose own option comes first; the check run when none does.
    // Another job's option is then one this job's parser does not know.
    std::unique_ptr<Command> asked = std::move(jobs.front());
    for (const QString& name : whole.optionNames()) {
        const auto job = std::find_if(jobs.begin() + 1, jobs.end(), [&](const auto& j) { return j->selector() == name; });
        if (job != jobs.end()) {
            asked = std::move(*job);
            break;
        }
    }
    QCommandLineParser own;
    own.addOptions(asked->optionDefinitions());
    if (!own.parse(arguments)) {
        if (own.unknownOptionNames().isEmpty())
            return Usage{own.errorText()};
        // The whole parser knew it, and --help and --version were answered:
        // it is another job's.
        const QString unknown = own.unknownOptionNames().constFirst();
        QString longName = unknown;
        for (const auto& job : all()) {
            for (const QCommandLineOption& option : job->optionDefinitions()) {
                if (option.names().contains(unknown))
                    longName = longNameOf(option);
            }
        }
        const QString job = asked->selector().isEmpty() ? QStringLiteral("a check")
                                                        : QStringLiteral("--") + asked->selector();
        const QString why = asked->refusal(longName);
        return Usage{why.isEmpty() ? QStringLiteral("%1 takes no --%2").arg(job, longName)
                                   : QStringLiteral("%1 %2: it takes no --%3").arg(job, why, longName)};
    }
    if (auto problem = asked->take(own))
        return Usage{*problem};
    return asked;
}

int Command::run(const QStringList& arguments, const Streams& streams)
{
    auto parsed = parse(arguments);
    if (const auto* help = std::get_if<Help>(&parsed)) {
        std::fputs(qPrintable(help->text), streams.out);
        return AllValid;
    }
    if (const auto* usage = std::get_if<Usage>(&parsed))
        return failed(streams, usage->problem, true);
    return std::get<std::unique_ptr<Command>>(parsed)->execute(streams);
}

int Command::failed(const Streams& streams, const QString& message, bool usage)
{
    std::fprintf(streams.err, "tessaly-check: %s\n%s", qPrintable(message),
                 usage ? "Try 'tessaly-check --help' for more information.\n" : "");
    return Failed;
}

std::optional<int> Command::openLists(const Outputs::Files& files, const QStringList& listNames,
                                      const QStringList& documents, const Streams& streams, std::deque<ListInput>& inputs)
{
    if (const auto unreadable = ListInput::openAll(listNames, inputs, [](int) { return !Interrupt::caught(); }))
        return failed(streams, *unreadable);
    if (Interrupt::caught())
        return statusOfSignal(Interrupt::caught());
    if (const auto overwrite = Outputs::overwriting(files, listNames, inputs, documents, streams.out))
        return failed(streams, *overwrite, true);
    return std::nullopt;
}

Documents::Settings Command::documentSettings(const InputOptions& options)
{
    return {options.inputFormat, options.rootDir, options.base, options.excludedPaths};
}

int Command::statusAtEnd(const Outputs& outputs, const Streams& streams)
{
    if (outputs.reportError() == EPIPE)
        return ReaderGone;
    // A hang-up closes the terminal the report went to: the signal says more
    // than the failed write after it.
    if (Interrupt::caught())
        return statusOfSignal(Interrupt::caught());
    if (outputs.reportError())
        return failed(streams,
                      QStringLiteral("standard output: ") + QString::fromLocal8Bit(std::strerror(outputs.reportError())));
    return outputs.anyInvalid() ? SomeInvalid : AllValid;
}
