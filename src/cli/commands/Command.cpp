#include "cli/commands/Command.h"

#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/ListInput.h"
#include "cli/Options.h"
#include "cli/Outputs.h"
#include "cli/commands/CheckCommand.h"
#include "cli/commands/DumpCommand.h"
#include "cli/commands/MergeCommand.h"

#include <cerrno>
#include <cstring>

int Command::run(const QStringList& arguments, const Streams& streams)
{
    const auto parsed = Options::parse(arguments);
    if (const auto* help = std::get_if<Options::Help>(&parsed)) {
        std::fputs(qPrintable(help->text), streams.out);
        return AllValid;
    }
    if (const auto* usage = std::get_if<Options::Usage>(&parsed))
        return failed(streams, usage->problem, true);
    const Options& options = std::get<Options>(parsed);
    if (!options.mergeJournals.isEmpty())
        return MergeCommand().execute(options, streams);
    if (options.dump)
        return DumpCommand().execute(options, streams);
    return CheckCommand().execute(options, streams);
}

int Command::failed(const Streams& streams, const QString& message, bool usage)
{
    std::fprintf(streams.err, "tessaly-check: %s\n%s", qPrintable(message),
                 usage ? "Try 'tessaly-check --help' for more information.\n" : "");
    return Failed;
}

std::optional<int> Command::openLists(const Options& options, const QStringList& listNames, const QStringList& documents,
                                      const Streams& streams, std::deque<ListInput>& inputs)
{
    if (const auto unreadable = ListInput::openAll(listNames, inputs, [](int) { return !Interrupt::caught(); }))
        return failed(streams, *unreadable);
    if (Interrupt::caught())
        return statusOfSignal(Interrupt::caught());
    if (const auto overwrite = Outputs::overwriting(options, listNames, inputs, documents, streams.out))
        return failed(streams, *overwrite, true);
    return std::nullopt;
}

Documents::Settings Command::documentSettings(const Options& options)
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
