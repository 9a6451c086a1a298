#include "cli/options/OutputOptions.h"

#include "cli/Report.h"
#include "cli/SameFile.h"

using namespace OptionValues;

const OptionTable<ResultFileOptions>& ResultFileOptions::table()
{
    static const OptionTable<ResultFileOptions> rows{
        {QCommandLineOption(QStringLiteral("valid"), QStringLiteral("Save the valid addresses in FILE."),
                            QStringLiteral("FILE")),
         fileName(&ResultFileOptions::validPath)},
        {QCommandLineOption(QStringLiteral("invalid"), QStringLiteral("Save the invalid addresses in FILE."),
                            QStringLiteral("FILE")),
         fileName(&ResultFileOptions::invalidPath)},
    };
    return rows;
}

const OptionTable<ReportOptions>& ReportOptions::table()
{
    static const QStringList formats = Report::formatNames();
    static const OptionTable<ReportOptions> rows{
        {QCommandLineOption(QStringLiteral("format"),
                            QStringLiteral("Report as %1 (default) or %2.")
                                .arg(formats.constFirst(), formats.mid(1).join(QStringLiteral(", "))),
                            QStringLiteral("FORMAT"), formats.constFirst()),
         [](const Given& given, ReportOptions& into) -> std::optional<QString> {
             into.format = Report::formatNamed(given.value());
             if (!into.format)
                 return QStringLiteral("--format is %1 or %2")
                     .arg(formats.first(formats.size() - 1).join(QStringLiteral(", ")), formats.constLast());
             return std::nullopt;
         }},
    };
    return rows;
}

const OptionTable<ReportFileOptions>& ReportFileOptions::table()
{
    static const OptionTable<ReportFileOptions> rows{
        {QCommandLineOption(QStringLiteral("output"),
                            QStringLiteral("Write the report to FILE instead of standard output."), QStringLiteral("FILE")),
         fileName(&ReportFileOptions::outputPath)},
        {QCommandLineOption(QStringLiteral("summary"),
                            QStringLiteral("Write a summary in Markdown to FILE: counts by class and the failing links "
                                           "by file; by default, appended to the file GITHUB_STEP_SUMMARY names."),
                            QStringLiteral("FILE")),
         [](const Given& given, ReportFileOptions& into) -> std::optional<QString> {
             // GitHub gives each step a file of its own, which every command
             // of the step adds to.
             const QString stepSummary = qEnvironmentVariable("GITHUB_STEP_SUMMARY");
             if (!given.set) {
                 into.summaryPath = stepSummary;
                 into.summaryAppends = !stepSummary.isEmpty();
                 return std::nullopt;
             }
             if (given.value().isEmpty())
                 return QStringLiteral("--summary needs a file name");
             into.summaryPath = given.value();
             into.summaryAppends = SameFile::names(into.summaryPath, stepSummary);
             return std::nullopt;
         }},
    };
    return rows;
}

const OptionTable<MergeOptions>& MergeOptions::table()
{
    static const OptionTable<MergeOptions> rows{
        {QCommandLineOption(QStringLiteral("merge"),
                            QStringLiteral("Write the report and result files of the whole list from the journal FILE of "
                                           "each shard, in list order, without a request; once for each journal."),
                            QStringLiteral("FILE")),
         [](const Given& given, MergeOptions& into) -> std::optional<QString> {
             if (given.values.contains(QString()))
                 return QStringLiteral("--merge needs a file name");
             into.mergeJournals = given.values;
             return std::nullopt;
         },
         true},
    };
    return rows;
}
