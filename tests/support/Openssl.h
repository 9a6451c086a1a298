#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Runs the openssl command, in `folder` when one is given: whether it ran
// and succeeded within half a minute.
inline bool runOpenssl(const QStringList& arguments, const QString& folder = {})
{
    QProcess openssl;
    if (!folder.isEmpty())
        openssl.setWorkingDirectory(folder);
    openssl.start(QStringLiteral("openssl"), arguments);
    return openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0;
}
