#pragma once

// tessaly-check's configuration file: TOML whose keys are the long names of
// the options of the job run, each value what the command line would give.
// It is read into settings that become arguments before the user's own.

#include "cli/options/OptionGroup.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <variant>
#include <vector>

namespace ConfigFile {
// Far above any real configuration; a bound so that a wrong file named is
// refused rather than read whole.
inline constexpr qint64 MostBytes = 1 << 20;

// Looked for in the current folder, in this order, when none is named.
QStringList usualNames();

// One key, as the option it sets.
struct Setting {
    QString name;        // the option's long name
    int line = 0;        // the line of its value
    QStringList values;  // none for a flag set true
};

// The option a key names, null for one the job run does not take but
// another does (left for that job), or why it names none (a message without
// the file and line).
using KeyLookup = std::function<std::variant<const JobOption*, QString>(const QString& key)>;

// The settings of this text, in the order of their lines, each value of the
// type its option takes (its rules are left to its check); or the first
// problem, "fileName:line: ...". A flag set false is no setting.
std::variant<std::vector<Setting>, QString> settingsOf(const QByteArray& text, const QString& fileName,
                                                       const KeyLookup& lookup);

// The bytes of the file named, or why they cannot be read.
std::variant<QByteArray, QString> read(const QString& fileName);
}  // namespace ConfigFile
