#pragma once

#include "cli/CheckQueue.h"
#include "cli/Documents.h"
#include "cli/Journal.h"
#include "cli/Judging.h"
#include "cli/ProgressLine.h"
#include "cli/Report.h"
#include "cli/ResultFile.h"
#include "cli/Streams.h"
#include "cli/Summary.h"

#include <QString>

#include <deque>
#include <map>
#include <memory>
#include <optional>

class ListInput;

// Where a run's outcomes go: the report on the output stream in list order
// (--output's file, when one is named, is that stream), the valid and invalid
// result files, the summary, the journal, the progress line and the messages
// on the error stream.
class Outputs {
public:
    // The files a run writes, as its options name them; an empty name: none.
    struct Files {
        const Report::Format* format = nullptr;  // the report's
        QString validPath;
        QString invalidPath;
        QString journalPath;
        QStringList mergeJournals;  // read, never written: none of the others may be one
        QString reportPath;         // --output: the output stream is this file, opened by the command
        QString summaryPath;
        bool summaryAppends = false;  // GitHub's step summary: each step adds its own
    };

    // A result file or journal that would overwrite a list or document being
    // read, the report (when `report` is a file), or one another: why, or
    // nothing. The lists are those named `listNames`, in that order.
    static std::optional<QString> overwriting(const Files& files, const QStringList& listNames,
                                              const std::deque<ListInput>& lists, const QStringList& documents,
                                              std::FILE* report);

    // The files open() may open: each result file's old and new file, the
    // journal twice (to append, to read back).
    static constexpr long MostFilesOpen = 6;

    Outputs(const Files& files, qint64 total, const Streams& streams);
    // Opens the result files and the journal. Nothing, or why one cannot be.
    std::optional<QString> open();

    // The queue's callbacks that feed them; the run stops when `stopping`
    // says so or the report cannot be written.
    CheckQueue::Callbacks callbacks(std::function<bool()> stopping);
    // How outcomes are reported and which fail the run (--accept,
    // --fail-on); the window's verdict unless set.
    void judgeBy(const Judging& judging)
    {
        m_judging = judging;
        if (m_summary)
            m_summary->judgedBy(judging);
    }
    // While the command waits for more of a stream, what was judged so far
    // reaches the report's reader (`tail -f log | tessaly-check`).
    void setWaitingForInput(bool waiting) { m_waitingForInput = waiting; }
    // Where the next address the queue is handed stands: in a document, or
    // (none) on a list's line. Called once before each address added.
    void nextFrom(std::optional<LinkSource> source);
    qint64 added() const { return m_added; }
    // The lines from this position on are of the list of this name, until
    // the next list's.
    void listFrom(qint64 position, const QString& name) { m_lists[position] = name; }
    // A message on the error stream, on a line of its own.
    void say(const QString& message);

    // Ends the progress line and hands the report on.
    void endReport();
    // Writes every result file and the summary that can be written, saying
    // why of one that cannot. False when one could not be written.
    bool commitResults();
    // The system's error number of the first failed write of the report, 0
    // when none failed (EPIPE: its reader went away).
    int reportError() const { return m_reportError; }
    bool journalFailed() const { return m_journalFailed; }
    // Whether an outcome reported fails the run, as the judging has it.
    bool anyFailing() const { return m_anyFailing; }
    // The report's output as a message names it.
    QString reportName() const;

private:
    void noteReportError();
    void writeReport(const QByteArray& bytes);
    bool writeSummary();

    Files m_files;
    Streams m_streams;
    ProgressLine m_progress;
    ResultFile m_valid;
    ResultFile m_invalid;
    std::unique_ptr<Report::Writer> m_writer;
    std::optional<Summary> m_summary;
    std::optional<Journal> m_journal;
    qint64 m_added = 0;                      // addresses handed to the queue
    std::map<qint64, LinkSource> m_sources;  // of those not yet reported, by their position
    std::map<qint64, QString> m_lists;       // each list's name, by the position of its first line
    bool m_journalFailed = false;
    int m_reportError = 0;
    bool m_waitingForInput = false;
    Judging m_judging;
    bool m_anyFailing = false;
};
