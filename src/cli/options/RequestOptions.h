#pragma once

#include "cli/Defaults.h"
#include "cli/Shard.h"
#include "cli/options/OptionGroup.h"

#include <chrono>
#include <optional>

// How the addresses are asked: how many at once, how patiently, how often.
struct RequestOptions {
    static constexpr int MostJobs = 1024;
    // Past a handful of retries each waits minutes and tells nothing new.
    static constexpr int MostRetries = 10;

    int jobs = Defaults::Jobs;
    std::chrono::milliseconds pause = Defaults::Pause;
    std::chrono::milliseconds timeout = Defaults::Timeout;
    int retries = Defaults::Retries;
    int redirects = Defaults::Redirects;                        // the most followed
    std::chrono::milliseconds maxWait = Defaults::LongestWait;  // the longest a host is left alone
    QStringList addedAuthorities;                               // --cacert: trusted beside the store in force

    static const OptionTable<RequestOptions>& table();
};

// A run split over runs or machines: the journal that lets it go on where
// it stopped, and the share of the list it asks.
struct ShardOptions {
    QString journalPath;         // empty: no journal
    std::optional<Shard> shard;  // none: every address

    static const OptionTable<ShardOptions>& table();
};
