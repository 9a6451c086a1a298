#pragma once

#include "cli/Documents.h"
#include "cli/Streams.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

class ListInput;
class Outputs;
struct Options;

// One job of tessaly-check on options already checked: it writes to the
// streams it is handed and returns the exit status (ExitStatus.h).
class Command {
public:
    virtual ~Command() = default;
    virtual int execute(const Options& options, const Streams& streams) = 0;

    // The command line's arguments (the program's name first): the help
    // text, a usage problem, or the job they name, run.
    static int run(const QStringList& arguments, const Streams& streams);
    // "tessaly-check: " and the message on the error stream, after a usage
    // problem the pointer to --help: the status Failed.
    static int failed(const Streams& streams, const QString& message, bool usage = false);

protected:
    // Opens the lists of these names and checks the outputs against them and
    // the documents: nothing, or the status the run ends with.
    static std::optional<int> openLists(const Options& options, const QStringList& listNames, const QStringList& documents,
                                        const Streams& streams, std::deque<ListInput>& inputs);
    // How the documents named are read, from the options.
    static Documents::Settings documentSettings(const Options& options);
    // How a run that got to its end ends: its reader gone, a signal, a
    // report that could not be written, or the verdicts.
    static int statusAtEnd(const Outputs& outputs, const Streams& streams);
};
