#pragma once

#include "cli/commands/Command.h"
#include "cli/options/InputOptions.h"
#include "cli/options/OutputOptions.h"

// --dump itself: it asks for the job and holds no value.
struct DumpFlag {
    static const OptionTable<DumpFlag>& table();
};

using DumpOptions = OptionsOf<DumpFlag, InputOptions, ReportOptions>;

// The links the documents hold, each with where it stands and where it
// leads, as text or JSON lines (--dump): what a check would ask, asked of
// nothing. A list's addresses are printed as they are, with no place.
class DumpCommand : public Command {
public:
    QString selector() const override { return QStringLiteral("dump"); }
    std::vector<JobOption> jobOptions() const override { return DumpOptions::jobOptions(); }
    std::optional<QString> take(const QCommandLineParser& parser) override;
    int execute(const Streams& streams) override;

protected:
    // Whatever else a check or a merge takes, it asks or writes for them.
    QString refusal(const QString&) const override { return QStringLiteral("asks nothing"); }

private:
    DumpOptions m_options;
};
