#include "RecordingSkinFramework.h"

#include "engine/Failure.h"

void SkinRecord::note(const QString& call)
{
    calls.append(call);
    if (onCall)
        onCall(call);
}

void RecordingSkinFramework::call(const QString& line) const
{
    m_record.note(line);
    if (!m_record.failingCall.isEmpty() && line.startsWith(m_record.failingCall))
        throw Failure(QStringLiteral("The skin framework refused ") + m_record.failingCall);
}

void RecordingSkinFramework::loadSkin(const QString& skinPath, const QString& imageFolder)
{
    call(QStringLiteral("loadSkin(%1, \"%2\")").arg(skinPath, imageFolder));
}

int RecordingSkinFramework::options() const
{
    call(QStringLiteral("options() = %1").arg(m_record.options));
    return m_record.options;
}

void RecordingSkinFramework::setOptions(int options)
{
    call(QStringLiteral("setOptions(%1)").arg(options));
    m_record.options = options;
}

void RecordingSkinFramework::setResolveRelativeUrls(bool on)
{
    call(QStringLiteral("setResolveRelativeUrls(%1)").arg(on ? "true" : "false"));
}

void RecordingSkinFramework::setSkinDialogs(bool on)
{
    call(QStringLiteral("setSkinDialogs(%1)").arg(on ? "true" : "false"));
}

void RecordingSkinFramework::applyWindow(WId handle) { call(QStringLiteral("applyWindow(%1)").arg(handle)); }
