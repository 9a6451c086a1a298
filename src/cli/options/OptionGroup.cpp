#include "cli/options/OptionGroup.h"

namespace OptionValues {
using std::chrono::milliseconds;

QString secondsText(milliseconds time) { return QString::number(static_cast<double>(time.count()) / 1000); }

std::optional<milliseconds> secondsOf(const QString& text, bool zeroAllowed)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !(seconds >= 0) || (!zeroAllowed && seconds == 0) || seconds > MostSeconds)
        return std::nullopt;
    const milliseconds rounded(static_cast<qint64>(seconds * 1000 + 0.5));
    if (!zeroAllowed && rounded < milliseconds(1))
        return std::nullopt;
    return rounded;
}
}  // namespace OptionValues
