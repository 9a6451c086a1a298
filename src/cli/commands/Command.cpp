#include "cli/commands/Command.h"

#include "cli/ConfigFile.h"
#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/ListInput.h"
#include "cli/commands/CheckCommand.h"
#include "cli/commands/DumpCommand.h"
#include "cli/commands/MergeCommand.h"
#include "cli/options/InputOptions.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

QList<QCommandLineOption> Command::optionDefinitions() const
{
    QList<QCommandLineOption> definitions;
    for (const JobOption& entry : jobOptions())
        definitions << entry.definition;
    return definitions;
}

QStringList Command::longOptionNames() const
{
    QStringList names;
    for (const QCommandLineOption& option : optionDefinitions())
        names << longNameOf(option);
    return names;
}

namespace {
const QString ConfigName = QStringLiteral("config");
const QString NoConfigName = QStringLiteral("no-config");

// The program's own options about the configuration file, beside --help and
// --version: every job takes them.
QList<QCommandLineOption> configOptions()
{
    return {QCommandLineOption(ConfigName,
                               QStringLiteral("Read options from the TOML file FILE instead of tessaly-check.toml, or else "
                                              ".tessaly-check.toml, in the current folder: its keys are the long options' "
                                              "names, each value what the option takes (true for one without a value, an "
                                              "array for one given more than once); the files to check are not among them. "
                                              "An option on the command line wins over its key."),
                               QStringLiteral("FILE")),
            QCommandLineOption(NoConfigName, QStringLiteral("Read no configuration file."))};
}

// The configuration file the user named, or the one in the current folder:
// the arguments it gives before the user's own (none without one), or why
// it cannot be used.
std::variant<QStringList, QString> argumentsOfConfig(const QCommandLineParser& user, const Command& job)
{
    if (user.isSet(NoConfigName)) {
        if (user.isSet(ConfigName))
            return QStringLiteral("--no-config reads no configuration: it takes no --config");
        return QStringList{};
    }
    QString fileName;
    if (user.isSet(ConfigName)) {
        fileName = user.value(ConfigName);
        if (fileName.isEmpty())
            return QStringLiteral("--config needs a file name");
    } else {
        for (const QString& usual : ConfigFile::usualNames()) {
            if (QFileInfo::exists(usual)) {
                fileName = usual;
                break;
            }
        }
        if (fileName.isEmpty())
            return QStringList{};
    }
    const auto text = ConfigFile::read(fileName);
    if (const QString* problem = std::get_if<QString>(&text))
        return *problem;
    QStringList given;
    for (const QString& name : job.longOptionNames()) {
        if (user.isSet(name))
            given << name;
    }
    return Command::configArguments(std::get<QByteArray>(text), fileName, job, given);
}
}  // namespace

std::variant<QStringList, QString> Command::configArguments(const QByteArray& text, const QString& fileName,
                                                            const Command& job, const QStringList& givenByUser)
{
    const std::vector<JobOption> own = job.jobOptions();
    const std::vector<std::unique_ptr<Command>> jobs = all();
    const auto lookup = [&](const QString& key) -> std::variant<const JobOption*, QString> {
        // Which job runs is the command line's to say.
        for (const auto& other : jobs) {
            if (!other->selector().isEmpty() && other->selector() == key)
                return QStringLiteral("--%1 asks for a job of its own: it is given on the command line, not in a "
                                      "configuration")
                    .arg(key);
        }
        for (const JobOption& entry : own) {
            if (longNameOf(entry.definition) == key)
                return &entry;
        }
        if (key == u"help" || key == u"help-all" || key == u"version" || key == ConfigName || key == NoConfigName)
            return QStringLiteral("--%1 is an option of the command line alone, not a key").arg(key);
        if (key == u"inputs" || key == u"files")
            return QStringLiteral("the files to check are named on the command line, not in a configuration");
        for (const auto& other : jobs) {
            for (const QCommandLineOption& option : other->optionDefinitions()) {
                // One file serves every job of a project: --dump, which asks
                // nothing, leaves "jobs" to the check run.
                if (longNameOf(option) == key)
                    return static_cast<const JobOption*>(nullptr);
                if (option.names().contains(key))
                    return QStringLiteral("%1 is not a key: keys are long names, such as %2").arg(key, longNameOf(option));
            }
        }
        return QStringLiteral("%1 is not an option of tessaly-check").arg(key);
    };
    const auto settings = ConfigFile::settingsOf(text, fileName, lookup);
    if (const QString* problem = std::get_if<QString>(&settings))
        return *problem;
    QStringList arguments;
    for (const ConfigFile::Setting& setting : std::get<std::vector<ConfigFile::Setting>>(settings)) {
        if (givenByUser.contains(setting.name))
            continue;
        const auto entry = std::ranges::find_if(own, [&](const JobOption& candidate) {
            return longNameOf(candidate.definition) == setting.name;
        });
        if (auto problem = entry->check(Given{setting.name, true, setting.values}))
            return QStringLiteral("%1:%2: %3").arg(fileName).arg(setting.line).arg(*problem);
        if (setting.values.isEmpty())
            arguments << QStringLiteral("--") + setting.name;
        // Joined to its name, a value that starts with a dash stays a value.
        for (const QString& value : setting.values)
            arguments << QStringLiteral("--%1=%2").arg(setting.name, value);
    }
    return arguments;
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
        "checking links to local files on disk.\nExit status: 0 all valid, 1 some invalid (with --fail-on, some link of a "
        "class named), 2 bad usage, unreadable input or trust store, unwritable result "
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
    whole.addOptions(configOptions());
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
    own.addOptions(configOptions());
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
        return Usage{othersOption(*asked, longName)};
    }
    // The configuration's options go before the user's, and through the
    // same parser and checks.
    const auto configured = argumentsOfConfig(own, *asked);
    if (const QString* problem = std::get_if<QString>(&configured))
        return Usage{*problem};
    const QStringList& fromConfig = std::get<QStringList>(configured);
    if (fromConfig.isEmpty()) {
        if (auto problem = asked->take(own))
            return Usage{*problem};
        return asked;
    }
    QCommandLineParser withConfig;
    withConfig.addOptions(asked->optionDefinitions());
    withConfig.addOptions(configOptions());
    if (!withConfig.parse(arguments.mid(0, 1) + fromConfig + arguments.mid(1)))
        return Usage{withConfig.errorText()};
    if (auto problem = asked->take(withConfig))
        return Usage{*problem};
    return asked;
}

QString Command::othersOption(const Command& asked, const QString& longName)
{
    const QString job = asked.selector().isEmpty() ? QStringLiteral("a check") : QStringLiteral("--") + asked.selector();
    const QString why = asked.refusal(longName);
    return why.isEmpty() ? QStringLiteral("%1 takes no --%2").arg(job, longName)
                         : QStringLiteral("%1 %2: it takes no --%3").arg(job, why, longName);
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

std::optional<int> Command::openReport(const QString& path, Streams& streams, ReportFile& file)
{
    if (path.isEmpty())
        return std::nullopt;
    file.reset(std::fopen(QFile::encodeName(path).constData(), "we"));
    if (!file)
        return failed(streams, QStringLiteral("--output %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    streams.out = file.get();
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
        return failed(streams, outputs.reportName() + QStringLiteral(": ")
                                   + QString::fromLocal8Bit(std::strerror(outputs.reportError())));
    return outputs.anyFailing() ? SomeInvalid : AllValid;
}
