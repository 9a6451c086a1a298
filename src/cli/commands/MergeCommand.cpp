#include "cli/commands/MergeCommand.h"

#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/Journal.h"
#include "cli/ListInput.h"
#include "cli/Merge.h"
#include "cli/options/InputOptions.h"
#include "cli/options/RequestOptions.h"
#include "cli/Outputs.h"
#include "cli/options/AskingOptions.h"
#include "engine/extract/DocumentKind.h"

#include <QFileInfo>

#include <cerrno>
#include <memory>
#include <vector>

#include <poll.h>

QString MergeCommand::refusal(const QString& longName) const
{
    if (OptionsOf<RequestOptions, AskingOptions, ShardOptions>::holds(longName))
        return QStringLiteral("asks nothing");
    // The journals are of lists: the links of documents are not merged.
    if (OptionsOf<InputOptions>::holds(longName))
        return QStringLiteral("reads list files only");
    return {};
}

int MergeCommand::execute(const Streams& standard)
{
    const MergeCommandOptions& options = m_options;
    Streams streams = standard;
    const Outputs::Files files{options.format,        options.validPath,  options.invalidPath, {},
                               options.mergeJournals, options.outputPath, options.summaryPath, options.summaryAppends};
    // The journals are of lists: the links of documents are not merged.
    for (const QString& name : options.lists) {
        if (name != u"-" && (QFileInfo(name).isDir() || DocumentKinds::ofFileName(name) != DocumentKind::List))
            return failed(streams, QStringLiteral("--merge reads list files only, not %1").arg(name), true);
    }
    std::deque<ListInput> inputs;
    if (const auto status = openLists(files, options.lists, {}, streams, inputs))
        return *status;
    ReportFile reportFile(nullptr, &std::fclose);
    if (const auto status = openReport(options.outputPath, streams, reportFile))
        return *status;
    std::vector<std::unique_ptr<Journal>> journals;
    for (const QString& path : options.mergeJournals) {
        if (!journals.emplace_back(std::make_unique<Journal>())->openForReading(path))
            return failed(streams, journals.back()->errorString());
    }
    Outputs outputs(files, ListInput::totalOf(inputs), streams);
    outputs.judgeBy(options.judging);
    if (const auto unwritable = outputs.open())
        return failed(streams, *unwritable);
    const auto awaitInput = [](int descriptor) {
        pollfd readable{descriptor, POLLIN, 0};
        while (::poll(&readable, 1, 100) == 0) {
            if (Interrupt::caught())
                return false;
        }
        return !Interrupt::caught();
    };
    const std::optional<QString> stopped =
        Merge::run(inputs, journals, outputs.callbacks([] { return Interrupt::caught() != 0; }), awaitInput,
                   [&](qint64 position, qsizetype list) { outputs.listFrom(position, options.lists[list]); });
    outputs.endReport();
    if (stopped) {
        outputs.say(*stopped);
        return Failed;
    }
    // Result files of part of the list would read as the whole list's.
    if (Interrupt::caught() || outputs.reportError() == EPIPE) {
        outputs.say(QStringLiteral("stopped before the end of the list: no result file written"));
    } else if (!outputs.commitResults()) {
        return Failed;
    }
    return statusAtEnd(outputs, streams);
}
