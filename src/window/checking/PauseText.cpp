#include "window/checking/PauseText.h"

#include <cmath>

std::optional<double> PauseSecondsOf(const QString& text, const QLocale& locale)
{
    const QString number = text.trimmed();
    for (const QLocale& form : {locale, QLocale::c()}) {
        bool ok = false;
        const double seconds = form.toDouble(number, &ok);
        if (ok)
            return std::isfinite(seconds) ? std::optional(seconds) : std::nullopt;
    }
    return std::nullopt;
}
