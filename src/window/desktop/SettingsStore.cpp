#include "window/desktop/SettingsStore.h"

#include "engine/Failure.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>

#include <sys/stat.h>

QtSettingsStore::QtSettingsStore(QString folder) : m_folder(std::move(folder)) {}

QString QtSettingsStore::fileFor(const QString& application, const QString& section) const
{
    const QString base = m_folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                                            : m_folder;
    return base + u'/' + application + u'/' + section + QStringLiteral(".conf");
}

QString QtSettingsStore::read(const QString& application, const QString& section, const QString& key,
                              const QString& defaultValue)
{
    // A file that is there but cannot be opened (no permission, a folder in
    // its place), or a folder that cannot be searched for it, would otherwise
    // read as no entry at all. Only a file that is not there is none.
    const QString path = fileFor(application, section);
    const auto unreadable = [&] { return Failure(QStringLiteral("The settings file %1 cannot be read").arg(path)); };
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 && errno != ENOENT)
        throw unreadable();
    QFile file(path);
    if (file.exists() && !file.open(QIODevice::ReadOnly))
        throw unreadable();
    file.close();
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        throw unreadable();
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return defaultValue;
    // A value another program wrote with commas reads back as a list; its text
    // is the list joined again.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void QtSettingsStore::write(const QString& application, const QString& section, const QString& key, const QString& value)
{
    QSettings settings(fileFor(application, section), QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw Failure(QStringLiteral("The settings file %1 cannot be written").arg(settings.fileName()));
}
