#include "cli/SameFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {
std::optional<struct stat> regularFileAt(const QString& name)
{
    struct stat status {};
    if (::stat(QFile::encodeName(name).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return status;
}

// The name a write would reach: symbolic links followed, one whose target
// does not exist yet too, as a save follows it.
QString followLinks(QString name)
{
    for (int hop = 0; hop < 40; ++hop) {
        const QFileInfo info(name);
        if (!info.isSymLink())
            break;
        const QString target = info.symLinkTarget();
        if (target.isEmpty())
            break;
        name = target;
    }
    return name;
}

// The folder as the system finds it, links resolved, and the name in it.
QString absolutePathOf(const QString& name)
{
    const QFileInfo info(followLinks(name));
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + u'/' + info.fileName();
}
}  // namespace

bool SameFile::names(const QString& one, const QString& other)
{
    if (one.isEmpty() || other.isEmpty())
        return false;
    const std::optional<struct stat> first = regularFileAt(one);
    const std::optional<struct stat> second = regularFileAt(other);
    if (first && second)
        return first->st_dev == second->st_dev && first->st_ino == second->st_ino;
    return absolutePathOf(one) == absolutePathOf(other);
}

bool SameFile::is(const QString& name, const struct stat& file)
{
    const std::optional<struct stat> named = regularFileAt(name);
    return named && S_ISREG(file.st_mode) && named->st_dev == file.st_dev && named->st_ino == file.st_ino;
}
