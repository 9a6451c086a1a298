#include "window/desktop/CommonDialog.h"

#include "engine/Failure.h"

#include <QDir>
#include <QFileInfo>

QString CommonDialog::returnedName(const QStringList& paths)
{
    if (paths.isEmpty())
        return {};
    if (paths.size() == 1)
        return QDir::toNativeSeparators(paths.front());
    // Several files: the dialog picks them from one folder.
    QStringList pieces{QDir::toNativeSeparators(QFileInfo(paths.front()).absolutePath())};
    for (const QString& path : paths)
        pieces << QFileInfo(path).fileName();
    return pieces.join(QChar(u'\0'));
}

QList<std::pair<QString, QString>> CommonDialog::filterEntries(const QString& filter)
{
    QList<std::pair<QString, QString>> entries;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (!parts[i].isEmpty())
            entries.append({parts[i], parts[i + 1]});
    }
    return entries;
}

void CommonDialog::acceptChosen(const QStringList& paths)
{
    const QString name = returnedName(paths);
    if (name.size() > m_maxFileSize)
        throw Failure(QStringLiteral("Buffer too small"), Failure::BufferTooSmall);
    m_fileName = name;
}
