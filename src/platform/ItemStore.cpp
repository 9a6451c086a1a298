#include "platform/ItemStore.h"

void ItemStore::appendUtf8(QByteArrayView utf8)
{
    m_spans.push_back({m_bytes.size(), utf8.size()});
    m_bytes.append(utf8);
    m_liveBytes += utf8.size();
}

void ItemStore::removeAt(qsizetype index)
{
    m_liveBytes -= m_spans[static_cast<size_t>(index)].length;
    m_spans.erase(m_spans.begin() + index);
    compactIfWasteful();
}

void ItemStore::clear()
{
    m_spans.clear();
    m_spans.shrink_to_fit();
    m_bytes = QByteArray();
    m_liveBytes = 0;
}

void ItemStore::reserve(qsizetype items, qsizetype bytes)
{
    m_spans.reserve(m_spans.size() + static_cast<size_t>(items));
    m_bytes.reserve(m_bytes.size() + bytes);
}

// Removed items leave their bytes behind; once they are most of the buffer,
// copy the live ones into a fresh one.
void ItemStore::compactIfWasteful()
{
    if (m_bytes.size() < 4096 || m_liveBytes * 2 > m_bytes.size())
        return;
    QByteArray live;
    live.reserve(m_liveBytes);
    for (Span& span : m_spans) {
        const qsizetype offset = live.size();
        live.append(m_bytes.constData() + span.offset, span.length);
        span.offset = offset;
    }
    m_bytes = std::move(live);
}
