#pragma once

#include "engine/extract/DocumentLinks.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cmark-gfm.h>

#include <algorithm>
#include <vector>

// A Markdown document's text as cmark-gfm reads it: its lines, and where a
// later line of a block has its text past the block's containers.
namespace MarkdownPlaces {
inline bool isAsciiPunctuation(char c)
{
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') || (c >= '{' && c <= '~');
}

inline bool isBlank(char c) { return c == ' ' || c == '\t'; }

// What may stand between a link's brackets, address and title: a form feed
// and a vertical tab too, though neither ends an address.
inline bool isLinkSpace(char c) { return isBlank(c) || c == '\f' || c == '\v'; }

// UTF-8 as characters, invalid sequences replaced, a U+FEFF at the start
// kept, where QString::fromUtf8 drops it.
QString decoded(QByteArrayView utf8);

qsizetype leadingBlanks(QByteArrayView text);

// The document's text by lines, as cmark-gfm counts them (a line ends at
// "\n", "\r\n" or "\r").
class SourceText {
public:
    explicit SourceText(QByteArray utf8) : m_bytes(std::move(utf8))
    {
        m_lineStarts.push_back(0);
        for (qsizetype i = 0; i < m_bytes.size(); ++i) {
            if (m_bytes[i] != '\n' && m_bytes[i] != '\r')
                continue;
            m_lineEnds.push_back(i);
            if (m_bytes[i] == '\r' && i + 1 < m_bytes.size() && m_bytes[i + 1] == '\n')
                ++i;
            m_lineStarts.push_back(i + 1);
        }
        m_lineEnds.push_back(m_bytes.size());
    }

    const QByteArray& bytes() const { return m_bytes; }
    // '\0' past the end, which the text never holds.
    char at(qsizetype offset) const { return offset < m_bytes.size() ? m_bytes[offset] : '\0'; }
    int lineCount() const { return int(m_lineStarts.size()); }
    // Lines counted from 0; the end is where the line ending starts.
    qsizetype lineStart(int line) const { return m_lineStarts[size_t(line)]; }
    qsizetype lineEnd(int line) const { return m_lineEnds[size_t(line)]; }
    QByteArrayView lineText(int line) const
    {
        return QByteArrayView(m_bytes).sliced(lineStart(line), lineEnd(line) - lineStart(line));
    }
    int lineOf(qsizetype offset) const
    {
        return int(std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), offset) - m_lineStarts.begin()) - 1;
    }

    // cmark-gfm's place, a 1-based line and byte column, kept inside the text.
    qsizetype offsetOf(int line, int byteColumn) const
    {
        const int index = std::clamp(line - 1, 0, lineCount() - 1);
        return std::min(lineStart(index) + std::max(byteColumn - 1, 0), lineEnd(index));
    }

    TextPlace placeOf(qsizetype offset) const
    {
        const int line = lineOf(offset);
        // Places are mostly asked in order: counting on from the last one
        // keeps a long line with many links linear.
        if (line != m_counted.line || offset < m_countedTo) {
            m_counted = {line, 1};
            m_countedTo = lineStart(line);
        }
        for (; m_countedTo < offset; ++m_countedTo) {
            if ((uchar(m_bytes[m_countedTo]) & 0xc0) != 0x80)
                ++m_counted.column;
        }
        return {line + 1, m_counted.column};
    }

private:
    QByteArray m_bytes;
    std::vector<qsizetype> m_lineStarts;
    std::vector<qsizetype> m_lineEnds;
    mutable TextPlace m_counted{-1, 1};
    mutable qsizetype m_countedTo = 0;
};

// The containers around a block: block quotes, whose ">" start its later
// lines, and list items.
struct Containers {
    // Outermost first: for a block quote -1, for a list item the columns
    // its later lines are indented by.
    std::vector<int> nesting;
};

// The columns a list item's later lines are indented by: cmark-gfm keeps
// them in the node, with no call to ask for them.
int itemIndent(cmark_node* item);

// Where a later line of a paragraph or heading has its text: past its
// containers' starts, as cmark-gfm reads them, and the indentation, which
// cmark-gfm leaves out of the text. A block quote's ">" stands at most three
// columns in, the blank after it its own; a list item's indentation comes
// first; a tab reaches the next of the line's tab stops, four apart, and
// may go part to a container, part to the text. A line short of its
// containers' starts is lazy, its ">" where a block quote's may not stand
// text; one indented four columns past them (indentedAsCode) is text too.
qsizetype lineTextStart(const SourceText& source, int line, const Containers& containers,
                        bool* indentedAsCode = nullptr, bool* lazy = nullptr);

// A setext heading's underline: "="s or "-"s, blanks after them.
bool isUnderline(QByteArrayView text);
}  // namespace MarkdownPlaces
