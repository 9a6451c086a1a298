#pragma once

#include <QChar>
#include <QString>

namespace Globals {
// The directory separator of program-folder paths and joined file names.
inline constexpr QChar PathSeparator = u'/';

// True exactly when the file system can tell the path's last-modified time.
// Never fails and never shows a message.
bool FileExists(const QString& path) noexcept;
}
