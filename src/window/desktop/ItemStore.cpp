#include "window/desktop/ItemStore.h"

#include <algorithm>

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

namespace {
// Room for `needed` in all, grown by at least half of what there is: files
// loaded one after another each ask for their own size, and growing by just
// that would copy the whole list again for every file.
template <class Container>
void reserveGrowing(Container& container, qsizetype needed)
{
    const qsizetype capacity = static_cast<qsizetype>(container.capacity());
    if (needed > capacity)
        container.reserve(std::max(needed, capacity + capacity / 2));
}
}  // namespace

void ItemStore::reserve(qsizetype items, qsizetype bytes)
{
    reserveGrowing(m_spans, size() + items);
    reserveGrowing(m_bytes, m_bytes.size() + bytes);
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
