#pragma once

#include "cli/Shard.h"
#include "engine/transfer/RedirectChain.h"

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
    // Sensible for a list spread over many hosts while each host still sees
    // one request at a time; see the README.
    static constexpr int DefaultJobs = 16;
    static constexpr int MostJobs = 1024;
    // One more request tells a passing failure from a lasting one; past a
    // handful each waits minutes and tells nothing new.
    static constexpr int DefaultRetries = 1;
    static constexpr int MostRetries = 10;

    int jobs = DefaultJobs;
    std::chrono::milliseconds pause{0};
    std::chrono::milliseconds timeout{0};
    int retries = DefaultRetries;
    int redirects = RedirectChain::DefaultLimit;  // the most followed
    std::chrono::milliseconds maxWait{0};  // the longest a host is left alone
    QString validPath;    // empty: not saved
    QString invalidPath;  // empty: not saved
    QString journalPath;  // empty: no journal
    std::optional<Shard> shard;  // none: every address
    QStringList mergeJournals;   // the shards' journals to merge, instead of asking
    const Report::Format* format = nullptr;
    QStringList lists;  // at least one; "-" is standard input

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
