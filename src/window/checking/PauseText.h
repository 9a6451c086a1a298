#pragma once

#include <QLocale>
#include <QString>

#include <optional>

// The pause text as seconds, when it is a number: in the locale's own form
// or in the plain form with a full stop (".5"), blanks around allowed.
// Infinities and not-a-number are not numbers: they would make a pause that
// never ends.
std::optional<double> PauseSecondsOf(const QString& text, const QLocale& locale = QLocale::system());
