#include "cli/commands/CheckCommand.h"

#include "cli/CheckQueue.h"
#include "cli/Defaults.h"
#include "cli/FileBudget.h"
#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/ListInput.h"
#include "cli/Options.h"
#include "cli/Outputs.h"
#include "engine/OpenFiles.h"

int CheckCommand::execute(const Options& options, const Streams& streams)
{
    std::deque<ListInput> inputs;
    if (const auto status = openLists(options, streams, inputs))
        return *status;
    // Each request holds files of its own: as many at once as the limit on
    // open files lets the command have beside its own and the outputs'.
    const long freeFiles = OpenFiles::free() - Outputs::MostFilesOpen;
    const std::optional<FileBudget> budget = FileBudget::within(freeFiles, options.jobs, LaneBatch::lanesFor(options.jobs));
    if (!budget)
        return failed(streams,
                      QStringLiteral("only %1 more files can be open, too few for a request (ulimit -n)").arg(freeFiles));
    // A shard's share of the list is not known until its end.
    Outputs outputs(options, options.shard ? -1 : ListInput::totalOf(inputs), streams);
    if (const auto unwritable = outputs.open())
        return failed(streams, *unwritable);

    if (budget->jobs < options.jobs)
        outputs.say(QStringLiteral("runs %1 at once, not %2: only %3 more files can be open (ulimit -n)")
                        .arg(budget->jobs)
                        .arg(options.jobs)
                        .arg(freeFiles));
    CheckQueue::Settings settings;
    settings.jobs = budget->jobs;
    settings.lanes = budget->lanes;
    settings.pause = options.pause;
    settings.pauseBetweenAny = options.jobs == 1;
    settings.request.timeout = options.timeout;
    settings.lookAhead = Defaults::lookAheadFor(settings.jobs);
    settings.retries = options.retries;
    settings.redirects = options.redirects;
    settings.longestWait = options.maxWait;
    settings.shard = options.shard;
    CheckQueue queue(settings, outputs.callbacks([] { return Interrupt::caught() != 0; }), Interrupt::wakeDescriptor());
    queue.setIdleConnections(budget->idleConnections);

    // A list changed or gone since it was first read, or one that is none.
    std::optional<QString> unreadable;
    const auto awaitInput = [&](int descriptor) {
        outputs.setWaitingForInput(true);
        const bool going = queue.awaitInput(descriptor);
        outputs.setWaitingForInput(false);
        return going;
    };
    for (ListInput& input : inputs) {
        bool taking = true;
        unreadable = input.forEachItem([&](QByteArrayView address) { return taking = queue.add(address); }, awaitInput);
        if (unreadable || !taking)
            break;
    }
    // A list that went wrong stops the run as a signal would.
    if (unreadable)
        queue.stop();
    queue.finish();
    outputs.endReport();
    if (unreadable)
        outputs.say(*unreadable);
    if (queue.machineFault())
        outputs.say(QStringLiteral("this machine cannot make requests now (%1); what was judged is kept")
                        .arg(*queue.machineFault()));
    const bool resultsWritten = outputs.commitResults();

    if (!resultsWritten || ((outputs.journalFailed() || unreadable || queue.machineFault()) && !outputs.reportError()))
        return Failed;
    return statusAtEnd(outputs, streams);
}
