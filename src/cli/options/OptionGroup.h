#pragma once

// The options of tessaly-check come in groups that several commands share:
// each group is a struct of checked values with one table, each row an
// option's definition beside how its value is checked and kept. A command's
// options are the groups it takes (OptionsOf); adding an option is adding
// its field and its row.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <chrono>
#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>
#include <vector>

// What the command line gave one option: its long name, whether it was set,
// and its values (its default when it was not set).
struct Given {
    QString name;
    bool set = false;
    QStringList values;

    // The last value given, as a later option overrides an earlier one.
    QString value() const { return values.isEmpty() ? QString() : values.constLast(); }
};

// How one option's value is checked and kept in its group: nothing, or the
// usage problem.
template <typename Group>
using Take = std::function<std::optional<QString>(const Given& given, Group& into)>;

// An option without a value name is a flag; one with a value takes the last
// given unless it is repeatable, each value kept (a configuration file's
// array).
template <typename Group>
struct OptionRow {
    QCommandLineOption definition;
    Take<Group> take;
    bool repeatable = false;
};

// One option as a job sees it, whatever group holds it: its definition,
// whether it keeps every value, and its row's check run alone.
struct JobOption {
    QCommandLineOption definition;
    bool repeatable = false;
    std::function<std::optional<QString>(const Given& given)> check;

    bool isFlag() const { return definition.valueName().isEmpty(); }
};

template <typename Group>
using OptionTable = std::vector<OptionRow<Group>>;

namespace OptionValues {
// A default number of seconds as --help and the parser both take it: 0.5, 30.
QString secondsText(std::chrono::milliseconds time);
// A number of seconds, fractions allowed, as milliseconds; nothing when it is
// none, below 0 (or 0 itself where that is not allowed) or more than a day.
std::optional<std::chrono::milliseconds> secondsOf(const QString& text, bool zeroAllowed);
inline constexpr double MostSeconds = 86400;

// The usual rows' checks, each naming the option in its problem.
template <typename Group>
Take<Group> wholeNumber(int Group::*field, int least, int most)
{
    return [=](const Given& given, Group& into) -> std::optional<QString> {
        bool ok = false;
        into.*field = given.value().toInt(&ok);
        if (!ok || into.*field < least || into.*field > most)
            return QStringLiteral("--%1 takes a whole number from %2 to %3").arg(given.name).arg(least).arg(most);
        return std::nullopt;
    };
}
// `example` ends the problem: "such as 30".
template <typename Group>
Take<Group> seconds(std::chrono::milliseconds Group::*field, bool zeroAllowed, const char* example)
{
    return [=](const Given& given, Group& into) -> std::optional<QString> {
        const auto time = secondsOf(given.value(), zeroAllowed);
        if (!time)
            return QStringLiteral("--%1 takes a number of seconds from %2 to %3, %4")
                .arg(given.name, zeroAllowed ? QStringLiteral("0") : QStringLiteral("0.001"))
                .arg(MostSeconds)
                .arg(QLatin1StringView(example));
        into.*field = *time;
        return std::nullopt;
    };
}
// A file to write; empty: none named.
template <typename Group>
Take<Group> fileName(QString Group::*field)
{
    return [=](const Given& given, Group& into) -> std::optional<QString> {
        if (given.set && given.value().isEmpty())
            return QStringLiteral("--%1 needs a file name").arg(given.name);
        into.*field = given.value();
        return std::nullopt;
    };
}
// Paths, each non-empty; the option given once for each.
template <typename Group>
Take<Group> paths(QStringList Group::*field, const char* what)
{
    return [=](const Given& given, Group& into) -> std::optional<QString> {
        if (given.values.contains(QString()))
            return QStringLiteral("--%1 needs %2").arg(given.name, QLatin1StringView(what));
        into.*field = given.values;
        return std::nullopt;
    };
}
}  // namespace OptionValues

// The definitions of a group's options, and their long names.
template <typename Group>
QList<QCommandLineOption> definitionsOf()
{
    QList<QCommandLineOption> definitions;
    for (const OptionRow<Group>& row : Group::table())
        definitions << row.definition;
    return definitions;
}
inline QString longNameOf(const QCommandLineOption& option) { return option.names().constLast(); }

// The group's options as a job sees them, each checked into a group of its own so
// that a value can be checked apart from the others.
template <typename Group>
std::vector<JobOption> jobOptionsOf()
{
    std::vector<JobOption> entries;
    for (const OptionRow<Group>& row : Group::table()) {
        entries.push_back({row.definition, row.repeatable, [take = row.take](const Given& given) {
                             Group scratch;
                             return take(given, scratch);
                         }});
    }
    return entries;
}

// The values a parser holding the group's options was given, checked and
// kept: nothing, or the first problem.
template <typename Group>
std::optional<QString> takeGroup(const QCommandLineParser& parser, Group& into)
{
    for (const OptionRow<Group>& row : Group::table()) {
        const QString name = longNameOf(row.definition);
        const Given given{name, parser.isSet(name), parser.values(name)};
        if (auto problem = row.take(given, into))
            return problem;
    }
    return std::nullopt;
}

// A command's options: the groups it takes, and the files named after them.
template <typename... Groups>
struct OptionsOf : Groups... {
    // Lists, documents and folders of documents; "-" is standard input, and
    // the one input when none is named.
    QStringList lists;

    static QList<QCommandLineOption> definitions()
    {
        QList<QCommandLineOption> all;
        (all.append(definitionsOf<Groups>()), ...);
        return all;
    }
    static std::vector<JobOption> jobOptions()
    {
        std::vector<JobOption> all;
        (std::ranges::move(jobOptionsOf<Groups>(), std::back_inserter(all)), ...);
        return all;
    }
    static QStringList longNames()
    {
        QStringList names;
        for (const QCommandLineOption& option : definitions())
            names << longNameOf(option);
        return names;
    }
    // Whether one of the groups has the option of this long name.
    static bool holds(const QString& longName) { return longNames().contains(longName); }

    std::optional<QString> take(const QCommandLineParser& parser)
    {
        std::optional<QString> problem;
        static_cast<void>(((problem = takeGroup<Groups>(parser, static_cast<Groups&>(*this))) || ...));
        if (problem)
            return problem;
        lists = parser.positionalArguments();
        if (lists.isEmpty())
            lists << QStringLiteral("-");
        return std::nullopt;
    }
};
