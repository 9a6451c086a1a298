#pragma once

#include <QString>

// The per-user store of named text values, addressed by application, section
// and key. Values carry no type: what was written is what a later read gives.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored value when the entry exists (an empty one included),
    // otherwise the default.
    virtual QString read(const QString& application, const QString& section, const QString& key,
                         const QString& defaultValue) = 0;
    // On disk when it returns. Raises Failure when the store cannot be written.
    virtual void write(const QString& application, const QString& section, const QString& key, const QString& value) = 0;
};

// The store kept by Qt's settings files under the user's configuration folder:
// <config>/<application>/<section>.conf, one key a line.
class QtSettingsStore : public SettingsStore {
public:
    // An empty folder means the user's configuration folder.
    explicit QtSettingsStore(QString folder = {});
    QString read(const QString& application, const QString& section, const QString& key, const QString& defaultValue) override;
    void write(const QString& application, const QString& section, const QString& key, const QString& value) override;
    // Where the entry of (application, section) is kept.
    QString fileFor(const QString& application, const QString& section) const;

private:
    QString m_folder;
};
