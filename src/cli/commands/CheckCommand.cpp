#include "cli/commands/CheckCommand.h"

#include "cli/CheckQueue.h"
#include "cli/Defaults.h"
#include "cli/Documents.h"
#include "cli/FileBudget.h"
#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/ListInput.h"
#include "cli/Outputs.h"
#include "engine/OpenFiles.h"
#include "engine/transfer/CookieJar.h"
#include "engine/transfer/TrustStore.h"

#include <QProcessEnvironment>

int CheckCommand::execute(const Streams& standard)
{
    const CheckOptions& options = m_options;
    Streams streams = standard;
    const Outputs::Files files{options.format,     options.validPath,   options.invalidPath,   options.journalPath, {},
                               options.outputPath, options.summaryPath, options.summaryAppends};
    // A trust store named but not there would judge every https address
    // invalid for want of it: the run stops before anything is read or asked.
    const TrustSources trust = trustSourcesFrom(QProcessEnvironment::systemEnvironment(), options.addedAuthorities);
    if (!trust.onlySystem())
        if (const std::optional<QString> problem = TrustStore::problem(trust))
            return failed(streams, *problem);
    // A jar that could not be read, or not written back, would lose the
    // cookies it holds or those the run is given: said before anything is asked.
    std::unique_ptr<CookieJar> cookies;
    if (!options.cookieJar.isEmpty()) {
        auto jar = CookieJar::open(options.cookieJar);
        if (const QString* problem = std::get_if<QString>(&jar))
            return failed(streams, *problem);
        cookies = std::move(std::get<std::unique_ptr<CookieJar>>(jar));
    }
    QStringList walkWarnings;
    auto named = Documents::inputsOf(options.lists, documentSettings(options), walkWarnings);
    if (const QString* problem = std::get_if<QString>(&named))
        return failed(streams, *problem);
    std::vector<Documents::Input>& given = std::get<std::vector<Documents::Input>>(named);
    QStringList listNames;
    QStringList documentNames;
    for (const Documents::Input& input : given)
        (input.kind == DocumentKind::List ? listNames : documentNames) << input.name;
    // --merge reads lists only, so the journals of sharded documents could
    // never be joined: refused before any shard does work that is lost.
    if (options.shard && !documentNames.isEmpty())
        return failed(streams,
                      QStringLiteral("--shard reads list files only, not %1: --merge could not join its journals")
                          .arg(documentNames.constFirst()),
                      true);
    std::deque<ListInput> inputs;
    if (const auto status = openLists(files, listNames, documentNames, streams, inputs))
        return *status;
    ReportFile reportFile(nullptr, &std::fclose);
    if (const auto status = openReport(options.outputPath, streams, reportFile))
        return *status;
    // Each request holds files of its own: as many at once as the limit on
    // open files lets the command have beside its own and the outputs'.
    const long freeFiles = OpenFiles::free() - Outputs::MostFilesOpen;
    const std::optional<FileBudget> budget = FileBudget::within(freeFiles, options.jobs, LaneBatch::lanesFor(options.jobs));
    if (!budget)
        return failed(streams,
                      QStringLiteral("only %1 more files can be open, too few for a request (ulimit -n)").arg(freeFiles));
    // A shard's share of the list is not known until its end, nor the
    // number of links until each document is read.
    Outputs outputs(files, options.shard || !documentNames.isEmpty() ? -1 : ListInput::totalOf(inputs), streams);
    outputs.judgeBy(options.judging);
    if (const auto unwritable = outputs.open())
        return failed(streams, *unwritable);
    for (const QString& warning : walkWarnings)
        outputs.say(warning);

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
    settings.request.trust = trust;
    settings.lookAhead = Defaults::lookAheadFor(settings.jobs);
    settings.retries = options.retries;
    settings.redirects = options.redirects;
    settings.longestWait = options.maxWait;
    settings.shard = options.shard;
    settings.filter = options.filter;
    settings.request.userAgent = options.userAgent;
    settings.request.headers = options.headers;
    settings.request.excludePrivate = options.filter.excludePrivate;
    settings.request.cookieShare = cookies ? cookies->share() : nullptr;
    CheckQueue queue(settings, outputs.callbacks([] { return Interrupt::caught() != 0; }), Interrupt::wakeDescriptor());
    queue.setIdleConnections(budget->idleConnections);

    // A list changed or gone since it was first read, or one that is none.
    std::optional<QString> unreadable;
    // A document that could not be read when its turn came: the others are
    // still checked, and the run fails at its end.
    bool documentUnread = false;
    const auto awaitInput = [&](int descriptor) {
        outputs.setWaitingForInput(true);
        const bool going = queue.awaitInput(descriptor);
        outputs.setWaitingForInput(false);
        return going;
    };
    Documents documents(documentSettings(options));
    documents.expect(given);
    auto list = inputs.begin();
    for (const Documents::Input& input : given) {
        bool taking = true;
        if (input.kind == DocumentKind::List) {
            outputs.listFrom(outputs.added(), input.name);
            unreadable = (list++)->forEachItem(
                [&](QByteArrayView address) {
                outputs.nextFrom(std::nullopt);
                return taking = queue.add(address);
                },
                awaitInput);
        } else if (const auto problem = documents.forEachLink(input, [&](const Documents::Item& item) {
                       outputs.nextFrom(item.source);
                       return taking = queue.add(item.address, item.decided);
                   })) {
            outputs.say(*problem);
            documentUnread = true;
        }
        for (const QString& note : documents.takeNotes())
            outputs.say(note);
        if (unreadable || !taking)
            break;
    }
    // A list that went wrong stops the run as a signal would.
    if (unreadable)
        queue.stop();
    queue.finish();
    outputs.endReport();
    // Once no request is under way; the report stands either way.
    const std::optional<QString> cookiesUnwritten = cookies ? cookies->save() : std::nullopt;
    if (cookiesUnwritten)
        outputs.say(*cookiesUnwritten);
    if (const QString read = documents.summary(); !read.isEmpty())
        outputs.say(read);
    if (unreadable)
        outputs.say(*unreadable);
    if (queue.machineFault())
        outputs.say(QStringLiteral("this machine cannot make requests now (%1); what was judged is kept")
                        .arg(*queue.machineFault()));
    const bool resultsWritten = outputs.commitResults();

    if (!resultsWritten
        || ((outputs.journalFailed() || unreadable || documentUnread || queue.machineFault() || cookiesUnwritten)
            && !outputs.reportError()))
        return Failed;
    return statusAtEnd(outputs, streams);
}
