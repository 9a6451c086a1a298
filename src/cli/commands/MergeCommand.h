#pragma once

#include "cli/commands/Command.h"
#include "cli/options/OutputOptions.h"
#include "cli/options/VerdictOptions.h"

using MergeCommandOptions = OptionsOf<MergeOptions, VerdictOptions, ResultFileOptions, ReportOptions, ReportFileOptions>;

// The whole list's report and result files from the shards' journals
// (--merge), without a request. The result files are written only when
// every address was in a journal.
class MergeCommand : public Command {
public:
    QString selector() const override { return QStringLiteral("merge"); }
    std::vector<JobOption> jobOptions() const override { return MergeCommandOptions::jobOptions(); }
    std::optional<QString> take(const QCommandLineParser& parser) override { return m_options.take(parser); }
    int execute(const Streams& streams) override;

protected:
    QString refusal(const QString& longName) const override;

private:
    MergeCommandOptions m_options;
};
