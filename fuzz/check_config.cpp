// Any bytes as a check run's configuration file: read into arguments or
// refused with the file's name and a line, never a crash. The arguments it
// gives are options the check run takes, each as --name or --name=value.
#include "cli/commands/CheckCommand.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {
void require(bool holds)
{
    if (!holds)
        std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const CheckCommand check;
    static const QStringList names = check.longOptionNames();
    static const QRegularExpression refused(QStringLiteral("^fuzz\\.toml:[0-9]+: |^fuzz\\.toml: "));
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto arguments = Command::configArguments(text, QStringLiteral("fuzz.toml"), check, {});
    if (const QString* problem = std::get_if<QString>(&arguments)) {
        require(refused.match(*problem).hasMatch());
        return 0;
    }
    for (const QString& argument : std::get<QStringList>(arguments)) {
        require(argument.startsWith(QStringLiteral("--")));
        const QString name = argument.mid(2).section(u'=', 0, 0);
        require(names.contains(name));
    }
    return 0;
}
