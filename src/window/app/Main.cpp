#include "window/app/Main.h"

QString Main::TidyPath(const QString& path, QChar separator)
{
    const QString doubled = QString(2, separator);
    if (!path.startsWith(separator))
        return QString(path).replace(doubled, QString(separator));

    qsizetype first = 1;
    while (first < path.size() && path[first] == separator)
        ++first;
    return doubled + path.mid(first).replace(doubled, QString(separator));
}
