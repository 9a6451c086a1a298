#include "cli/ConfigFile.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

// Header-only, so that the fuzz targets' instrumentation reaches the parser;
// no writer is needed.
#define TOML_HEADER_ONLY 1
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

#include <algorithm>
#include <string_view>

namespace ConfigFile {
namespace {
int lineOf(const toml::node& node) { return static_cast<int>(node.source().begin.line); }

QString textOf(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QString typeName(const toml::node& node)
{
    switch (node.type()) {
    case toml::node_type::table:
        return QStringLiteral("a table");
    case toml::node_type::array:
        return QStringLiteral("an array");
    case toml::node_type::string:
        return QStringLiteral("a string");
    case toml::node_type::integer:
    case toml::node_type::floating_point:
        return QStringLiteral("a number");
    case toml::node_type::boolean:
        return QStringLiteral("true or false");
    default:
        return QStringLiteral("a date or time");
    }
}

// A value as the command line would give it: a string as it is, a number
// in its shortest form (0.5, 8); nothing for any other type.
std::optional<QString> argumentOf(const toml::node& node)
{
    if (const auto* string = node.as_string())
        return textOf(string->get());
    if (const auto* integer = node.as_integer())
        return QString::number(integer->get());
    if (const auto* floating = node.as_floating_point())
        return QString::number(floating->get(), 'g', QLocale::FloatingPointShortest);
    return std::nullopt;
}

struct Problem {
    int line;
    QString message;
};

// The setting of one key whose option is known, or why its value does not fit.
std::variant<Setting, Problem> settingOf(const OptionSpec& option, const toml::node& value)
{
    const QString name = QStringLiteral("--") + longNameOf(option.definition);
    Setting setting{longNameOf(option.definition), lineOf(value), {}};
    if (option.isFlag()) {
        if (!value.is_boolean())
            return Problem{setting.line, QStringLiteral("%1 is true or false, not %2").arg(name, typeName(value))};
        return setting;
    }
    if (const auto* array = value.as_array()) {
        if (!option.repeatable)
            return Problem{setting.line, QStringLiteral("%1 takes one value, not an array").arg(name)};
        for (const toml::node& element : *array) {
            const auto argument = argumentOf(element);
            if (!argument)
                return Problem{lineOf(element),
                               QStringLiteral("%1 takes strings or numbers, not %2").arg(name, typeName(element))};
            setting.values << *argument;
        }
        return setting;
    }
    const auto argument = argumentOf(value);
    if (!argument)
        return Problem{setting.line, QStringLiteral("%1 takes %2, not %3")
                                         .arg(name,
                                              option.repeatable ? QStringLiteral("a string, a number or an array of them")
                                                                : QStringLiteral("a string or a number"),
                                              typeName(value))};
    setting.values << *argument;
    return setting;
}
}  // namespace

QStringList usualNames() { return {QStringLiteral("tessaly-check.toml"), QStringLiteral(".tessaly-check.toml")}; }

std::variant<std::vector<Setting>, QString> settingsOf(const QByteArray& text, const QString& fileName,
                                                       const KeyLookup& lookup)
{
    if (text.size() > MostBytes)
        return QStringLiteral("%1: larger than %2 MiB, too large for a configuration").arg(fileName).arg(MostBytes >> 20);
    toml::table root;
    try {
        root = toml::parse(std::string_view(text.constData(), static_cast<size_t>(text.size())));
    } catch (const toml::parse_error& error) {
        return QStringLiteral("%1:%2: %3").arg(fileName).arg(error.source().begin.line).arg(textOf(error.description()));
    }
    // The map holds its keys sorted: the problem reported is the first in
    // the file.
    std::vector<Setting> settings;
    std::optional<Problem> first;
    const auto found = [&](Problem problem) {
        if (!first || problem.line < first->line)
            first = std::move(problem);
    };
    for (const auto& [key, value] : root) {
        const QString name = textOf(key.str());
        if (value.is_table()) {
            found({lineOf(value), QStringLiteral("%1 is a table; a configuration holds options alone, at its top").arg(name)});
            continue;
        }
        const auto option = lookup(name);
        if (const QString* refused = std::get_if<QString>(&option)) {
            found({lineOf(value), *refused});
            continue;
        }
        auto setting = settingOf(*std::get<const OptionSpec*>(option), value);
        if (Problem* problem = std::get_if<Problem>(&setting))
            found(std::move(*problem));
        else if (!std::get<Setting>(setting).values.isEmpty() || value.value_or(false))
            settings.push_back(std::move(std::get<Setting>(setting)));
    }
    if (first)
        return QStringLiteral("%1:%2: %3").arg(fileName).arg(first->line).arg(first->message);
    std::ranges::sort(settings, {}, &Setting::line);
    return settings;
}

std::variant<QByteArray, QString> read(const QString& fileName)
{
    QFile file(fileName);
    if (QFileInfo(fileName).isDir())
        return fileName + QStringLiteral(": a folder, not a configuration file");
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: %2").arg(fileName, file.errorString());
    // One byte past the bound tells a file too large without reading it all.
    QByteArray text = file.read(MostBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("%1: %2").arg(fileName, file.errorString());
    return text;
}
}  // namespace ConfigFile
