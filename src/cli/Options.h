#pragma once

#include "cli/Defaults.h"
#include "cli/Shard.h"
#include "engine/extract/DocumentKind.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <variant>

namespace Report {
struct Format;
}

// What the user asked for on the command line, checked.
struct Options {
    static constexpr int MostJobs = 1024;
    // Past a handful of retries each waits minutes and tells nothing new.
    static constexpr int MostRetries = 10;

    int jobs = Defaults::Jobs;
    std::chrono::milliseconds pause = Defaults::Pause;
    std::chrono::milliseconds timeout = Defaults::Timeout;
    int retries = Defaults::Retries;
    int redirects = Defaults::Redirects;                        // the most followed
    std::chrono::milliseconds maxWait = Defaults::LongestWait;  // the longest a host is left alone
    QString validPath;                                          // empty: not saved
    QString invalidPath;                                        // empty: not saved
    QString journalPath;                                        // empty: no journal
    std::optional<Shard> shard;                                 // none: every address
    QStringList mergeJournals;                                  // the shards' journals to merge, instead of asking
    const Report::Format* format = nullptr;
    // Lists, documents and folders of documents: at least one; "-" is
    // standard input.
    QStringList lists;
    std::optional<DocumentKind> inputFormat;  // every file read as this kind; none: by its name
    QString rootDir;                          // where a document's "/x" starts; empty: the folder given
    QByteArray base;                          // the address the documents are published at; empty: on disk
    QStringList excludedPaths;                // left out of the folders walked
    QStringList addedAuthorities;             // --cacert: trusted beside the store in force
    bool dump = false;                        // the links found, with their places, and no request

    // The options of these arguments (the program's name first); the help
    // text, or the version, when it was asked for; or why they are not usable.
    struct Help {
        QString text;
    };
    struct Usage {
        QString problem;
    };
    static std::variant<Options, Help, Usage> parse(const QStringList& arguments);
};
