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

// The shards' journals a merge reads instead of asking.
struct MergeOptions {
    QStringList mergeJournals;

    static const OptionTable<MergeOptions>& table();
};
