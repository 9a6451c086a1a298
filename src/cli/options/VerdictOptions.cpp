#include "cli/options/VerdictOptions.h"

const OptionTable<VerdictOptions>& VerdictOptions::table()
{
    static const OptionTable<VerdictOptions> rows{
        {QCommandLineOption(QStringLiteral("accept"),
                            QStringLiteral("An address is valid when the status code of its last answer is in RANGES, "
                                           "such as 200-299,304,429 (codes and inclusive ranges from %1 to %2, a range also "
                                           "written 200..299), invalid "
                                           "otherwise; one with no answer stays invalid. Default: the window's verdict.")
                                .arg(StatusRanges::Least)
                                .arg(StatusRanges::Most),
                            QStringLiteral("RANGES")),
         [](const Given& given, VerdictOptions& into) -> std::optional<QString> {
             if (!given.set)
                 return std::nullopt;
             auto parsed = StatusRanges::parse(given.values);
             if (const QString* problem = std::get_if<QString>(&parsed))
                 return *problem;
             into.judging.accepted = std::get<StatusRanges>(std::move(parsed));
             return std::nullopt;
         },
         true},
        {QCommandLineOption(QStringLiteral("fail-on"),
                            QStringLiteral("End with status 1 when a link's class is one of CLASSES, such as "
                                           "not-found,unreachable,no-fragment, and 0 otherwise, whatever the verdicts. "
                                           "Default: 1 when a link is invalid."),
                            QStringLiteral("CLASSES")),
         [](const Given& given, VerdictOptions& into) -> std::optional<QString> {
             if (!given.set)
                 return std::nullopt;
             const auto parsed = ClassSets::parse(given.values);
             if (const QString* problem = std::get_if<QString>(&parsed))
                 return *problem;
             into.judging.failing = std::get<ClassSet>(parsed);
             return std::nullopt;
         },
         true},
    };
    return rows;
}
