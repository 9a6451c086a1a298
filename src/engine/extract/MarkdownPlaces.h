#pragma once

#include "engine/extract/MarkdownSourceText.h"

#include <QHash>
#include <QList>

#include <cmark-gfm.h>

namespace MarkdownPlaces {
// How the source writes a link: its address's place depends on it.
enum class LinkForm { Bracketed, Angle, Bare };

// Where a link opens ("[", "![", "<" or its bare address) and where its
// address starts.
struct LinkStart {
    qsizetype opening;
    qsizetype address;
    LinkForm form;
};

// Follows one block's inlines through the source they were parsed from, to
// find where each link's address and each piece of HTML starts. cmark-gfm
// 0.29's own inline places are off on a line indented unlike the block's
// first, after link reference definitions, for <autolinks>, in table rows
// and after an escaped "|" in them, and missing for the autolink extension's
// links.
class InlineWalk {
public:
    // containers: those around the block, which start its later lines.
    InlineWalk(const SourceText& source, const Containers& containers) : m_source(source), m_containers(containers) {}

    // Whether the block's inlines, from `start` and on no line past
    // `lastLine`, match the source.
    bool walk(cmark_node* block, qsizetype start, int lastLine);

    // Whether the walk is on this line with nothing but blanks left on it.
    bool onlyBlanksLeftOn(int line);

    int line() const { return m_line; }

    QHash<cmark_node*, LinkStart> links;
    // Of each piece of inline HTML: where its first line and each later one start.
    QHash<cmark_node*, QList<qsizetype>> htmlLineStarts;

private:
    struct Open {
        qsizetype start;
        LinkForm form;
        int delimiters;
    };

    char here() const { return m_at < m_source.lineEnd(m_line) ? m_source.at(m_at) : '\0'; }
    bool atLineEnd() const { return m_at == m_source.lineEnd(m_line); }
    void skipBlanks();
    // From a line's end to the next line's text.
    bool nextLine();
    // Past any line endings to the next character; false at the block's end.
    bool overLineEnds();
    // Where the line's text starts if its ">" is text: one indented four
    // columns past where the line's containers want one is not a block
    // quote's.
    qsizetype indentedText() const { return m_source.lineStart(m_line) + leadingBlanks(m_source.lineText(m_line)); }
    // cmark's "spacechars": blanks and line endings.
    void skipSpace();
    bool take(char c);
    bool takeRun(char c, int count);

    // A text node's literal: decoded from the source's escapes and character
    // references, or, for the autolink extension's addresses, as written.
    bool matchText(QByteArrayView literal, bool decoded);
    // At a character reference that decodes to the start of `literal`: steps
    // over it and returns the decoded length.
    qsizetype decodedReference(QByteArrayView literal);
    bool matchTextEitherWay(QByteArrayView literal);

    bool matchCode();

    // Raw HTML is its literal, line endings and all.
    bool matchHtml(cmark_node* node, QByteArrayView literal);

    // After a link's text: "(address title)", the place of the address;
    // else a "[label]" or nothing, the place of the link's opening bracket.
    qsizetype linkTail(qsizetype opening);
    // Steps over a link destination as cmark-gfm reads one; its start, or -1.
    qsizetype inlineAddress();
    bool title();
    // "[label]": no brackets inside but escaped ones.
    bool label();

    bool enter(cmark_node* node);

    bool leave(cmark_node* node);

    const SourceText& m_source;
    const Containers m_containers;
    int m_lastLine = 0;
    qsizetype m_at = 0;
    int m_line = 0;
    qsizetype m_lineTextStart = -1;
    QList<Open> m_open;
};
}  // namespace MarkdownPlaces
