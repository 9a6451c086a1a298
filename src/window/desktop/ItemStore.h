#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <vector>

// The texts of one list, in order: UTF-8 in one growing buffer with an offset
// and a length per item, so a million addresses cost their bytes and eight
// more each, not a string object apiece.
class ItemStore {
public:
    qsizetype size() const { return static_cast<qsizetype>(m_spans.size()); }
    bool empty() const { return m_spans.empty(); }

    void append(QStringView text) { appendUtf8(text.toUtf8()); }
    void appendUtf8(QByteArrayView utf8);
    // Index counted from 0; the caller has checked it.
    QString text(qsizetype index) const { return QString::fromUtf8(utf8(index)); }
    QByteArrayView utf8(qsizetype index) const
    {
        const Span& span = m_spans[static_cast<size_t>(index)];
        return QByteArrayView(m_bytes.constData() + span.offset, span.length);
    }
    void removeAt(qsizetype index);
    void clear();
    // Room for this many more items and bytes, so appends that follow do not
    // move the store; several calls in a row grow it geometrically.
    void reserve(qsizetype items, qsizetype bytes);
    // How many items and bytes fit before the store moves.
    qsizetype itemCapacity() const { return static_cast<qsizetype>(m_spans.capacity()); }
    qsizetype byteCapacity() const { return m_bytes.capacity(); }

private:
    struct Span {
        qsizetype offset;
        qsizetype length;
    };
    void compactIfWasteful();

    QByteArray m_bytes;
    std::vector<Span> m_spans;
    qsizetype m_liveBytes = 0;
};
