#pragma once

#include <QString>
#include <QStringList>

// The common file dialog control: properties are set one by one, then the
// dialog is shown and the chosen name read back. The returned name has the
// classic form: one full path, or the folder followed by the bare names, all
// separated by NUL characters; empty when the user cancels.
class CommonDialog {
public:
    static constexpr int DefaultMaxFileSize = 30000;

    virtual ~CommonDialog() = default;

    void setFileName(const QString& name) { m_fileName = name; }
    QString fileName() const { return m_fileName; }
    void setFlags(int flags) { m_flags = flags; }
    int flags() const { return m_flags; }
    void setDialogTitle(const QString& title) { m_title = title; }
    QString dialogTitle() const { return m_title; }
    // Filter in the "Name|pattern|Name|pattern|" form.
    void setFilter(const QString& filter) { m_filter = filter; }
    QString filter() const { return m_filter; }
    int maxFileSize() const { return m_maxFileSize; }

    // Raise Failure(Failure::BufferTooSmall) when the names do not fit.
    virtual void showOpen() = 0;
    virtual void showSave() = 0;

    // Joins chosen paths into the returned-name form.
    static QString returnedName(const QStringList& paths);
    // "Name|pattern|..." as (name, pattern) pairs.
    static QList<std::pair<QString, QString>> filterEntries(const QString& filter);

protected:
    // Stores the chosen paths as the returned name, or raises the buffer failure.
    void acceptChosen(const QStringList& paths);

private:
    QString m_fileName;
    int m_flags = 0;
    QString m_title;
    QString m_filter;
    int m_maxFileSize = DefaultMaxFileSize;
};
