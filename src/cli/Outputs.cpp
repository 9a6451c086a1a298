#include "cli/Outputs.h"

#include "cli/ListInput.h"
#include "cli/Report.h"
#include "cli/SameFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>

#include <sys/stat.h>

std::optional<QString> Outputs::overwriting(const Files& files, const QStringList& listNames,
                                            const std::deque<ListInput>& inputs, const QStringList& documents,
                                            std::FILE* reportStream)
{
    struct stat report {};
    const bool reportIsAFile = ::fstat(::fileno(reportStream), &report) == 0;
    const std::pair<QString, const QString*> outputs[] = {{QStringLiteral("--valid"), &files.validPath},
                                                          {QStringLiteral("--invalid"), &files.invalidPath},
                                                          {QStringLiteral("--resume"), &files.journalPath},
                                                          {QStringLiteral("--output"), &files.reportPath},
                                                          {QStringLiteral("--summary"), &files.summaryPath}};
    for (const auto& [option, path] : outputs) {
        for (size_t i = 0; i < inputs.size(); ++i) {
            if (SameFile::is(*path, inputs[i].status())) {
                const QString& name = listNames[static_cast<qsizetype>(i)];
                return QStringLiteral("%1 names the list %2, which it would overwrite")
                    .arg(option, name == QStringLiteral("-") ? QStringLiteral("on standard input") : name);
            }
        }
        for (const QString& document : documents) {
            if (SameFile::names(*path, document))
                return QStringLiteral("%1 names the document %2, which it would overwrite").arg(option, document);
        }
        if (reportIsAFile && SameFile::is(*path, report))
            return option + QStringLiteral(" names the report's own output");
        if (option == u"--output" || option == u"--summary") {
            for (const auto& [other, otherPath] : outputs) {
                if (other != option && SameFile::names(*path, *otherPath))
                    return QStringLiteral("%1 and %2 name the same file").arg(option, other);
            }
        }
    }
    for (qsizetype i = 0; i < files.mergeJournals.size(); ++i) {
        const QString& journal = files.mergeJournals[i];
        if (SameFile::names(journal, files.validPath) || SameFile::names(journal, files.invalidPath))
            return QStringLiteral("--valid or --invalid names a journal being merged");
        if ((reportIsAFile && SameFile::is(journal, report)) || SameFile::names(journal, files.reportPath))
            return QStringLiteral("--merge names the report's own output");
        if (SameFile::names(journal, files.summaryPath))
            return QStringLiteral("--merge names the summary's file");
        for (qsizetype j = 0; j < i; ++j) {
            if (SameFile::names(journal, files.mergeJournals[j]))
                return QStringLiteral("--merge names %1 twice").arg(journal);
        }
    }
    if (SameFile::names(files.validPath, files.invalidPath))
        return QStringLiteral("--valid and --invalid name the same file");
    if (SameFile::names(files.journalPath, files.validPath) || SameFile::names(files.journalPath, files.invalidPath))
        return QStringLiteral("--resume names a result file");
    return std::nullopt;
}

Outputs::Outputs(const Files& files, qint64 total, const Streams& streams)
    : m_files(files), m_streams(streams), m_progress(total, streams), m_valid(files.validPath),
      m_invalid(files.invalidPath), m_writer(files.format->writer())
{
    if (!files.summaryPath.isEmpty())
        m_summary.emplace();
}

std::optional<QString> Outputs::open()
{
    // The summary is written last, after the whole run: a place it cannot
    // go is found now, before anything is asked.
    if (m_summary) {
        const QFileInfo file(m_files.summaryPath);
        const QString said = (m_files.summaryAppends ? QStringLiteral("GITHUB_STEP_SUMMARY %1: ")
                                                     : QStringLiteral("--summary %1: "))
                                 .arg(m_files.summaryPath);
        if (file.isDir())
            return said + QStringLiteral("is a folder");
        if (file.exists() && !file.isWritable())
            return said + QStringLiteral("cannot be written");
        if (!file.exists() && !(QFileInfo(file.absolutePath()).isDir() && QFileInfo(file.absolutePath()).isWritable()))
            return said + QStringLiteral("cannot be written in %1").arg(file.absolutePath());
    }
    for (ResultFile* file : {&m_valid, &m_invalid}) {
        if (!file->open())
            return file->errorString();
    }
    if (!m_files.journalPath.isEmpty() && !m_journal.emplace().open(m_files.journalPath))
        return m_journal->errorString();
    writeReport(m_writer->begin());
    return std::nullopt;
}

QString Outputs::reportName() const
{
    return m_files.reportPath.isEmpty() ? QStringLiteral("standard output") : m_files.reportPath;
}

void Outputs::writeReport(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    errno = 0;
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), m_streams.out);
    noteReportError();
}

// SIGPIPE is ignored for curl's sake, so a closed pipe shows here, as EPIPE.
void Outputs::noteReportError()
{
    if (m_reportError == 0 && std::ferror(m_streams.out))
        m_reportError = errno != 0 ? errno : EIO;
}

CheckQueue::Callbacks Outputs::callbacks(std::function<bool()> stopping)
{
    CheckQueue::Callbacks callbacks;
    callbacks.inOrder = [this](qint64 position, QByteArrayView address, const Outcome& judged) {
        const Outcome outcome = m_judging.reported(judged);
        // Outcomes come in list order; those before this one that never
        // come (another shard's, a run cut short) are forgotten with it.
        const auto source = m_sources.find(position);
        const auto list = m_lists.upper_bound(position);
        const Report::Entry entry{address, outcome, source != m_sources.end() ? &source->second : nullptr,
                                  list != m_lists.begin() ? QStringView(std::prev(list)->second) : QStringView(),
                                  m_judging.fails(outcome)};
        const QByteArray line = m_writer->line(entry);
        if (m_summary)
            m_summary->add(entry);
        m_sources.erase(m_sources.begin(), m_sources.upper_bound(position));
        if (!line.isEmpty())
            m_progress.makeRoom();
        writeReport(line);
        if (!AnswerClasses::leftUnasked(outcome.answerClass))
            (outcome.valid ? m_valid : m_invalid).addLine(address);
    };
    // A journal that cannot be written: said once; the run goes on, and
    // still ends with status 2, as a later run cannot skip what this one
    // judged.
    callbacks.judged = [this](qint64 position, QByteArrayView address, const Outcome& outcome, bool fresh) {
        // The journal keeps the window's verdict: --accept is applied anew
        // by whichever run reports it.
        const Outcome reported = m_judging.reported(outcome);
        m_progress.judged(reported.valid, reported.answerClass, fresh);
        m_anyFailing = m_anyFailing || m_judging.fails(reported);
        if (m_journal && fresh && !m_journal->record(position, address, outcome) && !m_journalFailed) {
            m_journalFailed = true;
            say(m_journal->writeError() + QStringLiteral("; the run goes on without it"));
        }
    };
    callbacks.recorded = [this](qint64 position, QByteArrayView address) -> std::optional<Outcome> {
        return m_journal ? m_journal->recorded(position, address) : std::nullopt;
    };
    callbacks.slowedDown = [this](const QString&) { m_progress.slowedDown(); };
    callbacks.stopping = [this, stopping = std::move(stopping)] { return stopping() || m_reportError != 0; };
    callbacks.tick = [this] {
        m_progress.show();
        if (m_waitingForInput) {
            errno = 0;
            std::fflush(m_streams.out);
            noteReportError();
        }
    };
    return callbacks;
}

void Outputs::nextFrom(std::optional<LinkSource> source)
{
    if (source)
        m_sources.emplace(m_added, std::move(*source));
    ++m_added;
}

void Outputs::say(const QString& message)
{
    m_progress.makeRoom(true);
    std::fprintf(m_streams.err, "tessaly-check: %s\n", qPrintable(message));
}

void Outputs::endReport()
{
    m_progress.end();
    writeReport(m_writer->end());
    errno = 0;
    std::fflush(m_streams.out);
    noteReportError();
    say(m_progress.summary() + m_judging.note());
}

bool Outputs::commitResults()
{
    bool written = true;
    for (ResultFile* file : {&m_valid, &m_invalid}) {
        if (!file->commit()) {
            say(file->errorString());
            written = false;
        }
    }
    return writeSummary() && written;
}

bool Outputs::writeSummary()
{
    if (!m_summary)
        return true;
    QFile file(m_files.summaryPath);
    // Set apart from what the step's other commands wrote before it.
    const QByteArray markdown = (m_files.summaryAppends ? "\n" : "") + m_summary->markdown();
    if (!file.open(QIODevice::WriteOnly | (m_files.summaryAppends ? QIODevice::Append : QIODevice::Truncate))
        || file.write(markdown) != markdown.size() || !file.flush()) {
        say(QStringLiteral("the summary cannot be written to %1: %2").arg(m_files.summaryPath, file.errorString()));
        return false;
    }
    return true;
}
