// --accept's and --fail-on's values of any bytes, each line a value given:
// what is taken holds codes from 100 to 999 alone, and reads back from its
// own text (as the summary writes it) as the same codes and classes.
#include "Require.h"
#include "cli/Judging.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QStringList values = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split(u'\n');

    const auto ranges = StatusRanges::parse(values);
    if (const auto* taken = std::get_if<StatusRanges>(&ranges)) {
        const auto again = StatusRanges::parse({taken->text()});
        require(std::holds_alternative<StatusRanges>(again));
        for (int code = -1; code <= 1000; ++code) {
            require(!taken->contains(code) || (code >= StatusRanges::Least && code <= StatusRanges::Most));
            require(taken->contains(code) == std::get<StatusRanges>(again).contains(code));
        }
        require(std::get<StatusRanges>(again).text() == taken->text());
    } else {
        require(std::get<QString>(ranges).startsWith(u"--accept"));
    }

    const auto classes = ClassSets::parse(values);
    if (const auto* taken = std::get_if<ClassSet>(&classes)) {
        require(taken->any());
        const auto again = ClassSets::parse({ClassSets::text(*taken)});
        require(std::holds_alternative<ClassSet>(again) && std::get<ClassSet>(again) == *taken);
    } else {
        require(std::get<QString>(classes).startsWith(u"--fail-on"));
    }
    return 0;
}
