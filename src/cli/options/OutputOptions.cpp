#include "cli/options/OutputOptions.h"

#include "cli/Report.h"

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
                 return QStringLiteral("--format is ") + formats.join(QStringLiteral(" or "));
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
