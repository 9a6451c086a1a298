#pragma once

#include "cli/commands/Command.h"
#include "cli/options/AskingOptions.h"
#include "cli/options/InputOptions.h"
#include "cli/options/OutputOptions.h"
#include "cli/options/RequestOptions.h"
#include "cli/options/VerdictOptions.h"

using CheckOptions = OptionsOf<RequestOptions, AskingOptions, VerdictOptions, ResultFileOptions, ReportOptions,
                               ReportFileOptions, ShardOptions, InputOptions>;

// The check run: every address of the lists asked and judged, the report in
// list order, the result files and the journal (--resume), one shard's share
// of the list (--shard).
class CheckCommand : public Command {
public:
    QString selector() const override { return {}; }
    std::vector<JobOption> jobOptions() const override { return CheckOptions::jobOptions(); }
    std::optional<QString> take(const QCommandLineParser& parser) override { return m_options.take(parser); }
    int execute(const Streams& streams) override;

    const CheckOptions& options() const { return m_options; }

private:
    CheckOptions m_options;
};
