#include "window/desktop/SkinFramework.h"

#include "engine/Failure.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

void QtSkinFramework::loadSkin(const QString& skinPath, const QString& imageFolder)
{
    const auto unreadable = [&skinPath](const QString& why) {
        return Failure(QStringLiteral("Cannot read the skin %1: %2").arg(QDir::toNativeSeparators(skinPath), why));
    };
    if (!QFileInfo(skinPath).isFile())
        throw unreadable(QStringLiteral("not a file"));
    QFile file(skinPath);
    if (!file.open(QIODevice::ReadOnly))
        throw unreadable(file.errorString());
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw unreadable(file.errorString());
    m_sheet = QString::fromUtf8(content);
    m_imageFolder = imageFolder.isEmpty() ? QFileInfo(skinPath).absolutePath() : imageFolder;
    m_loaded = true;
}

QString QtSkinFramework::styleSheet() const
{
    return m_resolveRelativeUrls ? withUrlsResolved(m_sheet, m_imageFolder) : m_sheet;
}

QString QtSkinFramework::withUrlsResolved(const QString& sheet, const QString& folder)
{
    // url(name), url("name") or url('name'); absolute paths and resources
    // (":/...", "qrc:...", "file:...") stay as they are.
    static const QRegularExpression url(QStringLiteral(R"re(url\(\s*(["']?)([^"')]*)\1\s*\))re"));
    const QDir base(folder);
    QString resolved;
    qsizetype done = 0;
    for (auto match = url.globalMatch(sheet); match.hasNext();) {
        const QRegularExpressionMatch found = match.next();
        const QString name = found.captured(2);
        resolved += QStringView(sheet).mid(done, found.capturedStart() - done);
        if (name.isEmpty() || QDir::isAbsolutePath(name) || name.contains(u':'))
            resolved += found.captured(0);
        else
            resolved += QStringLiteral("url(\"%1\")").arg(base.absoluteFilePath(name));
        done = found.capturedEnd();
    }
    resolved += QStringView(sheet).mid(done);
    return resolved;
}

void QtSkinFramework::applyWindow(WId handle)
{
    if (!m_loaded)
        throw Failure(QStringLiteral("No skin has been loaded"));
    QWidget* window = QWidget::find(handle);
    if (!window)
        throw Failure(QStringLiteral("No window has the handle %1").arg(handle));
    window = window->window();
    // A plain window paints a style sheet's background only when asked to.
    if (m_options & OptionStyledBackground)
        window->setAttribute(Qt::WA_StyledBackground, true);
    const QString sheet = styleSheet();
    window->setStyleSheet(sheet);
    if (m_skinDialogs)
        if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance()))
            application->setStyleSheet(sheet);
}
