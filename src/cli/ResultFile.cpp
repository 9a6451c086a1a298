#include "cli/ResultFile.h"

#include "engine/Failure.h"
#include "engine/lists/ListFormat.h"

template <class Use>
bool ResultFile::attempt(Use&& use)
{
    if (m_path.isEmpty() || m_error)
        return !m_error;
    try {
        use();
        return true;
    } catch (const Failure& failure) {
        m_error = failure.description();
        m_channel.abandon();
        return false;
    }
}

bool ResultFile::open()
{
    return attempt([&] { m_channel.openForWriting(m_path); });
}

void ResultFile::addLine(QByteArrayView address)
{
    attempt([&] { ListFormat::writeLine(m_channel, address); });
}

bool ResultFile::commit()
{
    return attempt([&] { m_channel.close(); });
}
