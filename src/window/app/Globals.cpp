#include "window/app/Globals.h"

#include <QFileInfo>

bool Globals::FileExists(const QString& path) noexcept
{
    try {
        if (path.isEmpty() || path.contains(QChar(u'\0')))
            return false;
        const QFileInfo info(path);
        return info.exists() && info.lastModified().isValid();
    } catch (...) {
        return false;
    }
}
