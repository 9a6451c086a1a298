#pragma once

#include "cli/Documents.h"
#include "cli/Outputs.h"
#include "cli/Streams.h"
#include "cli/options/OptionGroup.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <deque>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

class ListInput;
struct InputOptions;

// One job of tessaly-check. It owns its options: its parser knows those
// alone, so that another job's option is refused by name; execute() runs it
// on their checked values, writes to the streams it is handed and returns the
// exit status (ExitStatus.h).
class Command {
public:
    virtual ~Command() = default;

    // The option that asks for this job ("merge" for --merge); empty for the
    // check run, asked when no other job is.
    virtual QString selector() const = 0;
    // The options this job takes, their definitions and their long names (a
    // configuration file's keys).
    virtual std::vector<JobOption> jobOptions() const = 0;
    QList<QCommandLineOption> optionDefinitions() const;
    QStringList longOptionNames() const;
    // Keeps the values of a parser that holds optionDefinitions() alone:
    // nothing, or the usage problem.
    virtual std::optional<QString> take(const QCommandLineParser& parser) = 0;
    virtual int execute(const Streams& streams) = 0;

    // Every job, the check run first: --help lists their options in this
    // order, each once.
    static std::vector<std::unique_ptr<Command>> all();

    // The command line's arguments (the program's name first): the job they
    // ask for with its options taken, the help text or the version when they
    // ask for it, or why they are not usable.
    struct Help {
        QString text;
    };
    struct Usage {
        QString problem;
    };
    static std::variant<std::unique_ptr<Command>, Help, Usage> parse(const QStringList& arguments);
    // The arguments parsed and their job run.
    static int run(const QStringList& arguments, const Streams& streams);
    // "tessaly-check: " and the message on the error stream, after a usage
    // problem the pointer to --help: the status Failed.
    static int failed(const Streams& streams, const QString& message, bool usage = false);

    // The arguments a configuration file's text gives this job, before the
    // user's own: none for a key the user gave (by its long name in
    // givenByUser), each other value checked as its option's row checks
    // the command line's; or the first problem, "fileName:line: ...".
    static std::variant<QStringList, QString> configArguments(const QByteArray& text, const QString& fileName,
                                                              const Command& job, const QStringList& givenByUser);

protected:
    // Why this job takes no option of this long name, which is another job's:
    // "asks nothing", as "--merge asks nothing: it takes no --shard". Empty:
    // no more than that it takes none.
    virtual QString refusal(const QString& longName) const;
    // The problem with another job's option: "--merge asks nothing: it takes
    // no --shard".
    static QString othersOption(const Command& asked, const QString& longName);

    // Opens the lists of these names and checks the outputs against them and
    // the documents: nothing, or the status the run ends with.
    static std::optional<int> openLists(const Outputs::Files& files, const QStringList& listNames,
                                        const QStringList& documents, const Streams& streams, std::deque<ListInput>& inputs);
    // The report to the file --output names (none: the output stream as it
    // is), opened and emptied once the lists are open and nothing it could
    // overwrite is being read. Nothing, or the status the run ends with.
    using ReportFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
    static std::optional<int> openReport(const QString& path, Streams& streams, ReportFile& file);
    // How the documents named are read, from the options.
    static Documents::Settings documentSettings(const InputOptions& options);
    // How a run that got to its end ends: its reader gone, a signal, a
    // report that could not be written, or the verdicts.
    static int statusAtEnd(const Outputs& outputs, const Streams& streams);
};
