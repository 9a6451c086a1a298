#pragma once

#include "window/app/Globals.h"

#include <QString>

namespace Main {
// The path with doubled separators collapsed, scanning from the left without
// overlap ("a//b" gives "a/b", a run of three gives two). A path that starts
// with the separator is a network path: its leading run, however long,
// becomes exactly two separators.
QString TidyPath(const QString& path, QChar separator = Globals::PathSeparator);
}
