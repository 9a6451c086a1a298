#pragma once

#include "cli/options/OptionGroup.h"

namespace Report {
struct Format;
}

// The files the verdicts are saved in.
struct ResultFileOptions {
    QString validPath;    // empty: not saved
    QString invalidPath;  // empty: not saved

    static const OptionTable<ResultFileOptions>& table();
};

// How the report, or the links dumped, are written.
struct ReportOptions {
    const Report::Format* format = nullptr;

    static const OptionTable<ReportOptions>& table();
};

// Where else a run's report goes: a file instead of the output stream, and
// a summary in Markdown for a CI job's page.
struct ReportFileOptions {
    QString outputPath;   // empty: the output stream
    QString summaryPath;  // empty: none
    bool summaryAppends = false;

    static const OptionTable<ReportFileOptions>& table();
};

// The shards' journals a merge reads instead of asking.
struct MergeOptions {
    QStringList mergeJournals;

    static const OptionTable<MergeOptions>& table();
};
