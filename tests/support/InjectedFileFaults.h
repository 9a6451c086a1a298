#pragma once

#include "engine/Failure.h"
#include "engine/lists/FileChannel.h"

// Makes the channel's writes fail the way a full or failing disk does: the
// block that would take the file past a size is refused.
class InjectedFileFaults : public FileFaults {
public:
    void failWritesPast(qint64 bytes, QString description = QStringLiteral("No space left on device"))
    {
        m_limit = bytes;
        m_description = std::move(description);
    }
    int refused = 0;
    qint64 written = 0;  // bytes let through

    void beforeWrite(const QString&, qint64 offset, qint64 size) override
    {
        if (m_limit >= 0 && offset + size > m_limit) {
            ++refused;
            throw Failure(m_description);
        }
        written += size;
    }

private:
    qint64 m_limit = -1;
    QString m_description;
};
