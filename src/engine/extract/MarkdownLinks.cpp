#include "engine/extract/MarkdownLinks.h"

#include "engine/extract/HeadingAnchors.h"
#include "engine/extract/HtmlLinks.h"

#include <cmark-gfm.h>
#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm/houdini.h>
#include <cmark-gfm/node.h>

#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

bool isAsciiPunctuation(char c)
{
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') || (c >= '{' && c <= '~');
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// What may stand between a link's brackets, address and title: a form feed
// and a vertical tab too, though neither ends an address.
bool isLinkSpace(char c) { return isBlank(c) || c == '\f' || c == '\v'; }

// UTF-8 as characters, invalid sequences replaced, a U+FEFF at the start
// kept, where QString::fromUtf8 drops it.
QString decoded(QByteArrayView utf8)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    return decoder.decode(utf8);
}

qsizetype leadingBlanks(QByteArrayView text)
{
    qsizetype blanks = 0;
    while (blanks < text.size() && isBlank(text[blanks]))
        ++blanks;
    return blanks;
}

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
int itemIndent(cmark_node* item) { return item->as.list.marker_offset + item->as.list.padding; }

// Where a later line of a paragraph or heading has its text: past its
// containers' starts, as cmark-gfm reads them, and the indentation, which
// cmark-gfm leaves out of the text. A block quote's ">" stands at most three
// columns in, the blank after it its own; a list item's indentation comes
// first; a tab reaches the next of the line's tab stops, four apart, and
// may go part to a container, part to the text. A line short of its
// containers' starts is lazy, its ">" where a block quote's may not stand
// text; one indented four columns past them (indentedAsCode) is text too.
qsizetype lineTextStart(const SourceText& source, int line, const Containers& containers,
                        bool* indentedAsCode = nullptr, bool* lazy = nullptr)
{
    // The line's blanks and ">"s, a tab as the blanks it stands for, and
    // the byte each column is of.
    QByteArray start;
    std::vector<qsizetype> byteOf;
    qsizetype at = source.lineStart(line);
    for (; at < source.lineEnd(line); ++at) {
        const char c = source.at(at);
        if (c != '\t' && c != ' ' && c != '>')
            break;
        const qsizetype columns = c == '\t' ? 4 - start.size() % 4 : 1;
        start += c == '\t' ? QByteArray(columns, ' ') : QByteArray(1, c);
        byteOf.insert(byteOf.end(), size_t(columns), at);
    }
    byteOf.push_back(at);
    const auto blanksFrom = [&](qsizetype column) {
        qsizetype blanks = 0;
        while (column + blanks < start.size() && start[column + blanks] == ' ')
            ++blanks;
        return blanks;
    };
    qsizetype column = 0;
    bool matched = true;
    for (const int indent : containers.nesting) {
        const qsizetype blanks = blanksFrom(column);
        if (indent >= 0) {
            matched = blanks >= indent;
            column += matched ? indent : 0;
        } else {
            matched = blanks <= 3 && column + blanks < start.size() && start[column + blanks] == '>';
            if (matched) {
                column += blanks + 1;
                column += column < start.size() && start[column] == ' ';
            }
        }
        if (!matched)
            break;
    }
    const qsizetype blanks = blanksFrom(column);
    if (indentedAsCode != nullptr)
        *indentedAsCode = matched && blanks >= 4;
    if (lazy != nullptr)
        *lazy = !matched;
    return byteOf[size_t(column + blanks)];
}

// A setext heading's underline: "="s or "-"s, blanks after them.
bool isUnderline(QByteArrayView text)
{
    QByteArrayView marks = text;
    while (!marks.isEmpty() && isBlank(marks.back()))
        marks.chop(1);
    return !marks.isEmpty() && (marks[0] == '=' || marks[0] == '-')
        && std::all_of(marks.begin(), marks.end(), [&](char c) { return c == marks[0]; });
}

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
    bool walk(cmark_node* block, qsizetype start, int lastLine)
    {
        m_lastLine = lastLine;
        m_at = start;
        m_line = m_source.lineOf(start);
        // Text after link reference definitions keeps its line's indentation.
        m_lineTextStart = start;
        links.clear();
        htmlLineStarts.clear();
        m_open.clear();
        const std::unique_ptr<cmark_iter, decltype(&cmark_iter_free)> iter(cmark_iter_new(block), &cmark_iter_free);
        for (cmark_event_type event; (event = cmark_iter_next(iter.get())) != CMARK_EVENT_DONE;) {
            cmark_node* node = cmark_iter_get_node(iter.get());
            if (node == block)
                continue;
            if (!(event == CMARK_EVENT_ENTER ? enter(node) : leave(node)))
                return false;
        }
        return true;
    }

    // Whether the walk is on this line with nothing but blanks left on it.
    bool onlyBlanksLeftOn(int line)
    {
        skipBlanks();
        return m_line == line && atLineEnd();
    }

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
    void skipBlanks()
    {
        while (isBlank(here()))
            ++m_at;
    }
    // From a line's end to the next line's text.
    bool nextLine()
    {
        if (!atLineEnd() || m_line >= m_lastLine)
            return false;
        m_at = m_lineTextStart = lineTextStart(m_source, ++m_line, m_containers);
        return true;
    }
    // Past any line endings to the next character; false at the block's end.
    bool overLineEnds()
    {
        while (atLineEnd()) {
            if (!nextLine())
                return false;
        }
        return true;
    }
    // Where the line's text starts if its ">" is text: one indented four
    // columns past where the line's containers want one is not a block
    // quote's.
    qsizetype indentedText() const { return m_source.lineStart(m_line) + leadingBlanks(m_source.lineText(m_line)); }
    // cmark's "spacechars": blanks and line endings.
    void skipSpace()
    {
        for (;;) {
            while (isLinkSpace(here()))
                ++m_at;
            if (!atLineEnd() || !nextLine())
                return;
        }
    }
    bool take(char c)
    {
        if (here() != c)
            return false;
        ++m_at;
        return true;
    }
    bool takeRun(char c, int count)
    {
        for (int i = 0; i < count; ++i) {
            if (!take(c))
                return false;
        }
        return true;
    }

    // A text node's literal: decoded from the source's escapes and character
    // references, or, for the autolink extension's addresses, as written.
    bool matchText(QByteArrayView literal, bool decoded)
    {
        for (qsizetype i = 0; i < literal.size();) {
            const char c = here();
            if (decoded && c == '\\' && m_at + 1 < m_source.lineEnd(m_line) && isAsciiPunctuation(m_source.at(m_at + 1))
                && literal[i] == m_source.at(m_at + 1)) {
                m_at += 2;
                ++i;
                continue;
            }
            // The table extension, trying a paragraph's line as a header
            // row, leaves each "\|" in it a "|" before the text is read:
            // "\|" reads as "|" as written too, and the escape "\\|" as "|".
            if (literal[i] == '|') {
                const QByteArrayView rest = m_source.lineText(m_line).sliced(m_at - m_source.lineStart(m_line));
                const qsizetype pipe = rest.startsWith("\\|") ? 2 : decoded && rest.startsWith("\\\\|") ? 3 : 0;
                if (pipe > 0) {
                    m_at += pipe;
                    ++i;
                    continue;
                }
            }
            if (decoded && c == '&') {
                const qsizetype reference = decodedReference(literal.sliced(i));
                if (reference > 0) {
                    i += reference;
                    continue;
                }
            }
            if (c == literal[i]) {
                ++m_at;
                ++i;
            } else if (m_at == m_lineTextStart && isBlank(literal[i])) {
                // After a backslash's line break or link reference
                // definitions the text keeps the line's indentation, or
                // what a tab the containers took part of leaves of it, which
                // the walk has stepped over.
                ++i;
            } else {
                return false;
            }
        }
        return true;
    }
    // At a character reference that decodes to the start of `literal`: steps
    // over it and returns the decoded length.
    qsizetype decodedReference(QByteArrayView literal)
    {
        const auto* text = reinterpret_cast<const uint8_t*>(m_source.bytes().constData());
        cmark_strbuf decoded;
        cmark_strbuf_init(cmark_get_default_mem_allocator(), &decoded, 0);
        const bufsize_t length = houdini_unescape_ent(&decoded, text + m_at + 1,
                                                      bufsize_t(m_source.lineEnd(m_line) - m_at - 1));
        const QByteArrayView value(reinterpret_cast<const char*>(decoded.ptr), decoded.size);
        const qsizetype matched = length > 0 && literal.startsWith(value) ? value.size() : 0;
        cmark_strbuf_free(&decoded);
        if (matched > 0)
            m_at += 1 + length;
        return matched;
    }
    bool matchTextEitherWay(QByteArrayView literal)
    {
        const bool maybeText = m_at == m_lineTextStart && indentedText() < m_at;
        for (const qsizetype at : {m_at, maybeText ? indentedText() : m_at}) {
            for (const bool decoded : {true, false}) {
                m_at = m_lineTextStart = at;
                if (matchText(literal, decoded))
                    return true;
            }
        }
        return false;
    }

    bool matchCode()
    {
        int ticks = 0;
        while (take('`'))
            ++ticks;
        if (ticks == 0)
            return false;
        for (;;) {
            if (!overLineEnds())
                return false;
            int run = 0;
            while (take('`'))
                ++run;
            if (run == ticks)
                return true;
            if (run == 0)
                ++m_at;
        }
    }

    // Raw HTML is its literal, line endings and all.
    bool matchHtml(cmark_node* node, QByteArrayView literal)
    {
        QList<qsizetype>& starts = htmlLineStarts[node];
        starts.append(m_at);
        for (qsizetype i = 0; i < literal.size();) {
            if (literal[i] == '\r' || literal[i] == '\n') {
                i += literal.sliced(i).startsWith("\r\n") ? 2 : 1;
                // The HTML keeps the line's indentation beyond its
                // containers', where the next line is taken from.
                while (i < literal.size() && isBlank(literal[i]))
                    ++i;
                if (!nextLine())
                    return false;
                if (i < literal.size() && here() != literal[i] && m_source.at(indentedText()) == literal[i])
                    m_at = indentedText();
                starts.append(m_at);
            } else if (!take(literal[i++])) {
                return false;
            }
        }
        return true;
    }

    // After a link's text: "(address title)", the place of the address;
    // else a "[label]" or nothing, the place of the link's opening bracket.
    qsizetype linkTail(qsizetype opening)
    {
        const qsizetype afterText = m_at;
        const int lineAfterText = m_line;
        if (take('(')) {
            skipSpace();
            const qsizetype address = inlineAddress();
            if (address >= 0) {
                const qsizetype afterAddress = m_at;
                const int lineAfterAddress = m_line;
                skipSpace();
                if (m_at != afterAddress || m_line != lineAfterAddress) {
                    const qsizetype beforeTitle = m_at;
                    const int lineBeforeTitle = m_line;
                    if (!title()) {
                        m_at = beforeTitle;
                        m_line = lineBeforeTitle;
                    }
                    skipSpace();
                }
                if (take(')'))
                    return address;
            }
        }
        m_at = afterText;
        m_line = lineAfterText;
        if (!label()) {
            m_at = afterText;
            m_line = lineAfterText;
        }
        return opening;
    }
    // Steps over a link destination as cmark-gfm reads one; its start, or -1.
    qsizetype inlineAddress()
    {
        if (take('<')) {
            // cmark-gfm drops the blanks around the address.
            skipBlanks();
            const qsizetype start = m_at;
            for (char c; (c = here()) != '>';) {
                if (c == '\0' || c == '<')
                    return -1;
                ++m_at;
                // A backslash takes the next character, a line ending too.
                if (c == '\\' && !atLineEnd())
                    ++m_at;
                else if (c == '\\' && !nextLine())
                    return -1;
            }
            ++m_at;
            return start;
        }
        const qsizetype start = m_at;
        int parentheses = 0;
        for (char c; (c = here()) != '\0' && !isBlank(c);) {
            if (c == '\\' && isAsciiPunctuation(m_source.at(m_at + 1)) && m_at + 1 < m_source.lineEnd(m_line)) {
                m_at += 2;
                continue;
            }
            if (c == '(' && ++parentheses > 32)
                return -1;
            if (c == ')' && parentheses-- == 0)
                break;
            ++m_at;
        }
        return start;
    }
    bool title()
    {
        const char opening = here();
        const char closing = opening == '(' ? ')' : opening;
        if (opening != '"' && opening != '\'' && opening != '(')
            return false;
        ++m_at;
        for (;;) {
            if (!overLineEnds())
                return false;
            const char c = here();
            if (c == closing) {
                ++m_at;
                return true;
            }
            if (opening == '(' && c == '(')
                return false;
            m_at += c == '\\' && m_at + 1 < m_source.lineEnd(m_line) ? 2 : 1;
        }
    }
    // "[label]": no brackets inside but escaped ones.
    bool label()
    {
        if (!take('['))
            return false;
        for (int length = 0; length <= 1000; ++length) {
            if (!overLineEnds())
                return false;
            const char c = here();
            if (c == ']') {
                ++m_at;
                return true;
            }
            if (c == '[')
                return false;
            m_at += c == '\\' && isAsciiPunctuation(m_source.at(m_at + 1)) && m_at + 1 < m_source.lineEnd(m_line) ? 2 : 1;
        }
        return false;
    }

    bool enter(cmark_node* node)
    {
        switch (cmark_node_get_type(node)) {
        case CMARK_NODE_TEXT:
            return matchTextEitherWay(cmark_node_get_literal(node));
        case CMARK_NODE_CODE:
            return matchCode();
        case CMARK_NODE_HTML_INLINE:
            return matchHtml(node, cmark_node_get_literal(node));
        case CMARK_NODE_SOFTBREAK:
            skipBlanks();
            return nextLine();
        case CMARK_NODE_LINEBREAK:
            skipBlanks();
            take('\\');
            return nextLine();
        case CMARK_NODE_EMPH:
        case CMARK_NODE_STRONG: {
            const char delimiter = here();
            const int count = cmark_node_get_type(node) == CMARK_NODE_EMPH ? 1 : 2;
            m_open.append({m_at, LinkForm::Bracketed, count});
            return (delimiter == '*' || delimiter == '_') && takeRun(delimiter, count);
        }
        case CMARK_NODE_IMAGE:
            m_open.append({m_at, LinkForm::Bracketed, 0});
            return take('!') && take('[');
        case CMARK_NODE_LINK:
            if (here() == '[') {
                m_open.append({m_at++, LinkForm::Bracketed, 0});
            } else if (here() == '<') {
                m_open.append({++m_at, LinkForm::Angle, 0});
            } else {
                m_open.append({m_at, LinkForm::Bare, 0});
            }
            return true;
        default:
            break;
        }
        if (qstrcmp(cmark_node_get_type_string(node), "strikethrough") == 0) {
            int tildes = 0;
            while (take('~'))
                ++tildes;
            m_open.append({m_at, LinkForm::Bracketed, tildes});
            return tildes > 0;
        }
        return false;
    }

    bool leave(cmark_node* node)
    {
        if (m_open.isEmpty())
            return false;
        const Open open = m_open.takeLast();
        switch (cmark_node_get_type(node)) {
        case CMARK_NODE_EMPH:
        case CMARK_NODE_STRONG:
            return takeRun(m_source.at(open.start), open.delimiters);
        case CMARK_NODE_IMAGE:
        case CMARK_NODE_LINK:
            if (open.form == LinkForm::Angle) {
                links.insert(node, {open.start - 1, open.start, open.form});
                return take('>');
            }
            if (open.form == LinkForm::Bare) {
                links.insert(node, {open.start, open.start, open.form});
                return true;
            }
            if (!take(']'))
                return false;
            links.insert(node, {open.start, linkTail(open.start), open.form});
            return true;
        default:
            return takeRun('~', open.delimiters);
        }
    }

    const SourceText& m_source;
    const Containers m_containers;
    int m_lastLine = 0;
    qsizetype m_at = 0;
    int m_line = 0;
    qsizetype m_lineTextStart = -1;
    QList<Open> m_open;
};

struct CmarkFree {
    void operator()(cmark_node* node) const { cmark_node_free(node); }
    void operator()(cmark_parser* parser) const { cmark_parser_free(parser); }
    void operator()(cmark_iter* iter) const { cmark_iter_free(iter); }
};

// Whether cmark-gfm's table extension may read the text: it fills every
// row of a table out to the header's number of cells, so that a short text
// of a wide header and many short lines under it would cost gigabytes. A
// line that could be a table's delimiter row counts its columns; the lines
// up to the next blank one, in any block quotes, could be its rows (more
// than the table may take, never fewer).
bool tableCellsWithinBounds(QByteArrayView text)
{
    constexpr qsizetype mostColumns = 1000;
    constexpr qsizetype mostCells = qsizetype(1) << 18;
    const auto blank = [](QByteArrayView line) {
        return std::all_of(line.begin(), line.end(), [](char c) { return isBlank(c) || c == '>'; });
    };
    // Columns of a delimiter row, past any containers' ">" and indentation: 0
    // for a line that is none.
    const auto delimiterColumns = [](QByteArrayView line) -> qsizetype {
        while (!line.isEmpty() && (isBlank(line[0]) || line[0] == '>'))
            line = line.sliced(1);
        qsizetype columns = 0;
        bool dashes = false;
        for (const char c : line) {
            if (c == '|') {
                columns += dashes;
                dashes = false;
            } else if (c == '-') {
                dashes = true;
            } else if (c != ':' && !isBlank(c)) {
                return 0;
            }
        }
        return line.contains('|') ? columns + dashes : 0;
    };
    QList<QByteArrayView> lines;
    for (qsizetype start = 0, i = 0; start <= text.size(); start = i + 1) {
        i = start;
        while (i < text.size() && text[i] != '\n' && text[i] != '\r')
            ++i;
        lines.append(text.sliced(start, i - start));
        if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n')
            ++i;
    }
    qsizetype cells = 0;
    for (qsizetype line = 0; line < lines.size(); ++line) {
        const qsizetype columns = delimiterColumns(lines[line]);
        if (columns == 0)
            continue;
        if (columns > mostColumns)
            return false;
        // The header, the delimiter row and every row until a blank line.
        qsizetype rows = 2;
        while (line + 1 < lines.size() && !blank(lines[line + 1])) {
            ++line;
            ++rows;
        }
        cells += columns * rows;
        if (cells > mostCells)
            return false;
    }
    return true;
}

std::unique_ptr<cmark_node, CmarkFree> parsed(const QByteArray& text)
{
    static std::once_flag registered;
    std::call_once(registered, [] { cmark_gfm_core_extensions_ensure_registered(); });
    const std::unique_ptr<cmark_parser, CmarkFree> parser(cmark_parser_new(CMARK_OPT_SOURCEPOS));
    // The extensions that change where GitHub's links are: a table's cells
    // and a struck-through span are blocks and spans of their own. Tables
    // too costly to build are read as the paragraphs they would be without
    // the extension, their links found all the same.
    for (const char* name : {"autolink", "table", "strikethrough"}) {
        if (qstrcmp(name, "table") != 0 || tableCellsWithinBounds(text))
            cmark_parser_attach_syntax_extension(parser.get(), cmark_find_syntax_extension(name));
    }
    cmark_parser_feed(parser.get(), text.constData(), size_t(text.size()));
    return std::unique_ptr<cmark_node, CmarkFree>(cmark_parser_finish(parser.get()));
}

bool isNamed(cmark_node* node, const char* type) { return qstrcmp(cmark_node_get_type_string(node), type) == 0; }

// A heading's text as GitHub shows it: without its markup, nor the
// alternative text of its images.
QString shownText(cmark_node* heading)
{
    QByteArray text;
    int inImages = 0;
    const std::unique_ptr<cmark_iter, CmarkFree> iter(cmark_iter_new(heading));
    for (cmark_event_type event; (event = cmark_iter_next(iter.get())) != CMARK_EVENT_DONE;) {
        cmark_node* node = cmark_iter_get_node(iter.get());
        const cmark_node_type type = cmark_node_get_type(node);
        if (type == CMARK_NODE_IMAGE)
            inImages += event == CMARK_EVENT_ENTER ? 1 : -1;
        else if ((type == CMARK_NODE_TEXT || type == CMARK_NODE_CODE) && inImages == 0)
            text += cmark_node_get_literal(node);
    }
    return decoded(text);
}

class MarkdownReader {
public:
    explicit MarkdownReader(QByteArray text) : m_source(std::move(text)) {}

    DocumentLinks read()
    {
        const auto document = parsed(m_source.bytes());
        const std::unique_ptr<cmark_iter, CmarkFree> iter(cmark_iter_new(document.get()));
        Containers containers;
        for (cmark_event_type event; (event = cmark_iter_next(iter.get())) != CMARK_EVENT_DONE;) {
            cmark_node* node = cmark_iter_get_node(iter.get());
            const cmark_node_type type = cmark_node_get_type(node);
            if (type == CMARK_NODE_BLOCK_QUOTE || type == CMARK_NODE_ITEM) {
                if (event == CMARK_EVENT_ENTER)
                    containers.nesting.push_back(type == CMARK_NODE_ITEM ? itemIndent(node) : -1);
                else
                    containers.nesting.pop_back();
            }
            if (event != CMARK_EVENT_ENTER)
                continue;
            if (type == CMARK_NODE_HTML_BLOCK) {
                readHtmlBlock(node);
            } else if (isNamed(node, "table_row") || isNamed(node, "table_header")) {
                m_cellStarts = cellStarts(node, containers);
            } else if (isNamed(node, "table_cell")) {
                readInlines(node, m_cellStarts.isEmpty() ? textStart(node) : m_cellStarts.takeFirst(), containers);
                cmark_iter_reset(iter.get(), node, CMARK_EVENT_EXIT);
            } else if (type == CMARK_NODE_PARAGRAPH || type == CMARK_NODE_HEADING) {
                if (cmark_node* table = tableAfter(node); table != nullptr)
                    m_headerLines.insert(table, headerLine(table));
                readInlines(node, textStart(node), containers);
                if (type == CMARK_NODE_HEADING) {
                    const QString anchor = m_headings.anchorFor(shownText(node));
                    if (!anchor.isEmpty())
                        m_found.anchors.append(anchor);
                }
                cmark_iter_reset(iter.get(), node, CMARK_EVENT_EXIT);
            }
        }
        // In the order the links open: a link around an image comes before
        // it, though its address comes after the image's.
        std::stable_sort(m_links.begin(), m_links.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [opening, link] : m_links)
            m_found.links.push_back(std::move(link));
        return std::move(m_found);
    }

private:
    qsizetype startOf(cmark_node* node) const
    {
        return m_source.offsetOf(cmark_node_get_start_line(node), cmark_node_get_start_column(node));
    }

    // Where the block's text starts: an ATX heading's after its "#"s.
    qsizetype textStart(cmark_node* block) const
    {
        cmark_node* table = tableAfter(block);
        qsizetype at = startOf(table != nullptr ? table : block);
        const qsizetype end = m_source.lineEnd(m_source.lineOf(at));
        const auto skip = [&](char c) {
            while (at < end && m_source.at(at) == c)
                ++at;
        };
        const auto skipBlanks = [&] {
            while (at < end && isBlank(m_source.at(at)))
                ++at;
        };
        skipBlanks();
        if (cmark_node_get_type(block) == CMARK_NODE_HEADING && m_source.at(at) == '#') {
            skip('#');
            skipBlanks();
        }
        return at;
    }

    // Where each cell of a table row has its text: cmark-gfm places a later
    // row's cells as if the row stood where the first does, and the first
    // row where the table starts, before the lines of a paragraph it ends.
    // A "|" after a backslash is the cell's; form feeds and vertical tabs
    // around a cell's text are the table's.
    QList<qsizetype> cellStarts(cmark_node* row, const Containers& containers) const
    {
        cmark_node* table = cmark_node_parent(row);
        const bool header = cmark_node_previous(row) == nullptr && table != nullptr;
        qsizetype at = !header ? lineTextStart(m_source, m_source.lineOf(startOf(row)), containers)
                     : m_headerLines.contains(table) ? lineTextStart(m_source, m_headerLines.value(table), containers)
                                                     : startOf(table);
        const qsizetype end = m_source.lineEnd(m_source.lineOf(at));
        if (at < end && m_source.at(at) == '|')
            ++at;
        QList<qsizetype> starts;
        while (at < end) {
            qsizetype text = at;
            while (text < end && isLinkSpace(m_source.at(text)))
                ++text;
            starts.append(text);
            while (at < end && !(m_source.at(at) == '|' && m_source.at(at - 1) != '\\'))
                ++at;
            ++at;
        }
        return starts;
    }

    // The line the walk through the block's inlines ended on; -1 when it
    // could not follow them, and the places are cmark-gfm's.
    int readInlines(cmark_node* block, qsizetype start, const Containers& containers)
    {
        const int firstLine = m_source.lineOf(start);
        cmark_node* table = tableAfter(block);
        const bool setext = cmark_node_get_type(block) == CMARK_NODE_HEADING && m_source.at(startOf(block)) != '#';
        const int endLine = table != nullptr ? m_headerLines.value(table) - 1 : cmark_node_get_end_line(block) - 1;
        const int blockEnd = isNamed(block, "table_cell") ? firstLine
                                                          : std::clamp(endLine, firstLine, m_source.lineCount() - 1);
        // A setext heading's end is no help: cmark-gfm may put it on a later
        // block's line. Its text ends before the first line of "=" or "-"
        // after the line it starts on, not a lazy one.
        const auto lastLineFrom = [&](int textLine) {
            for (int line = textLine + 1; setext && line <= blockEnd; ++line) {
                bool indentedAsCode = false;
                bool lazy = false;
                const qsizetype text = lineTextStart(m_source, line, containers, &indentedAsCode, &lazy);
                if (!indentedAsCode && !lazy && isUnderline(m_source.lineText(line).sliced(text - m_source.lineStart(line))))
                    return line - 1;
            }
            return blockEnd;
        };
        InlineWalk walk(m_source, containers);
        bool walked = walk.walk(block, start, lastLineFrom(firstLine));
        // The place of a paragraph or a setext heading starts at the link
        // reference definitions it began with, which its text no longer
        // holds: the text starts on a later line, the first from which the
        // whole of it matches.
        const bool paragraph = cmark_node_get_type(block) == CMARK_NODE_PARAGRAPH;
        if (paragraph || setext) {
            const auto ended = [&](int textLine) { return walk.onlyBlanksLeftOn(lastLineFrom(textLine)); };
            walked = walked && ended(firstLine);
            // Some lines of definitions at most, so that a long paragraph
            // is not walked once a line.
            constexpr int mostDefinitionLines = 1000;
            const int lastStart = std::min(blockEnd, firstLine + mostDefinitionLines);
            const bool mayStartLater = m_source.at(start) == '[';
            for (int line = firstLine + 1; !walked && mayStartLater && line <= lastStart; ++line)
                walked = walk.walk(block, lineTextStart(m_source, line, containers), lastLineFrom(line)) && ended(line);
        }
        if (!walked) {
            walk.links.clear();
            walk.htmlLineStarts.clear();
        }
        report(block, walk);
        return walked ? walk.line() : -1;
    }

    // The line of a table's header, which cmark-gfm gives as the start of
    // the paragraph whose last line it was: two before the first row after
    // it, or the one before the table's last, the row of "-"s under it.
    int headerLine(cmark_node* table) const
    {
        cmark_node* header = cmark_node_first_child(table);
        cmark_node* row = header != nullptr ? cmark_node_next(header) : nullptr;
        const int line = row != nullptr ? cmark_node_get_start_line(row) - 2 : cmark_node_get_end_line(table) - 1;
        return std::clamp(line - 1, 0, m_source.lineCount() - 1);
    }

    // The table that took a paragraph's last line for its header: what the
    // table extension leaves of the paragraph has no place of its own, and
    // starts where the table does.
    static cmark_node* tableAfter(cmark_node* paragraph)
    {
        cmark_node* next = cmark_node_next(paragraph);
        const bool placeless = cmark_node_get_type(paragraph) == CMARK_NODE_PARAGRAPH
                            && cmark_node_get_start_line(paragraph) == 0;
        return placeless && next != nullptr && isNamed(next, "table") ? next : nullptr;
    }

    void report(cmark_node* block, const InlineWalk& walk)
    {
        int inImages = 0;
        const std::unique_ptr<cmark_iter, CmarkFree> iter(cmark_iter_new(block));
        for (cmark_event_type event; (event = cmark_iter_next(iter.get())) != CMARK_EVENT_DONE;) {
            cmark_node* node = cmark_iter_get_node(iter.get());
            const cmark_node_type type = cmark_node_get_type(node);
            if (type == CMARK_NODE_IMAGE && event == CMARK_EVENT_EXIT)
                --inImages;
            if (event != CMARK_EVENT_ENTER)
                continue;
            if (type == CMARK_NODE_HTML_INLINE) {
                readHtml(cmark_node_get_literal(node), walk.htmlLineStarts.value(node, {startOf(node)}));
                continue;
            }
            if (type != CMARK_NODE_LINK && type != CMARK_NODE_IMAGE)
                continue;
            const QString address = decoded(cmark_node_get_url(node));
            const bool inImage = inImages > 0;
            if (type == CMARK_NODE_IMAGE)
                ++inImages;
            if (inImage)
                continue;
            const LinkStart start = walk.links.value(node, {startOf(node), startOf(node), guessedForm(node)});
            const QString element = type == CMARK_NODE_IMAGE          ? QStringLiteral("image")
                                  : start.form == LinkForm::Bracketed ? QStringLiteral("link")
                                                                      : QStringLiteral("autolink");
            m_links.push_back({start.opening, {address, m_source.placeOf(start.address), element}});
        }
    }

    // Without the source's word: an autolink's only child is its address as
    // written, or that less the "mailto:" or "http://" cmark-gfm adds.
    static LinkForm guessedForm(cmark_node* link)
    {
        cmark_node* child = cmark_node_first_child(link);
        if (child == nullptr || cmark_node_next(child) != nullptr || cmark_node_get_type(child) != CMARK_NODE_TEXT)
            return LinkForm::Bracketed;
        const QByteArrayView text(cmark_node_get_literal(child));
        const QByteArrayView url(cmark_node_get_url(link));
        const bool autolink = url == text || (url.startsWith("mailto:") && url.sliced(7) == text)
                           || (url.startsWith("http://") && url.sliced(7) == text);
        return autolink ? LinkForm::Bare : LinkForm::Bracketed;
    }

    // HTML inside the document, from where each of its lines has its first
    // character other than a blank: each later line is put at its own
    // column, past the block quotes' ">" and the indentation that the piece
    // of HTML leaves out.
    void readHtml(QByteArrayView html, const QList<qsizetype>& lineStarts)
    {
        QByteArray fragment;
        const QList<QByteArrayView> lines = linesOf(html);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QByteArrayView line = lines[i];
            if (i < lineStarts.size())
                line = line.sliced(leadingBlanks(line));
            if (i > 0) {
                fragment += '\n';
                if (i < lineStarts.size())
                    fragment += QByteArray(m_source.placeOf(lineStarts[i]).column - 1, ' ');
            }
            fragment += line;
        }
        const DocumentLinks found = HtmlLinks::readUtf8(fragment, m_source.placeOf(lineStarts.value(0)));
        for (const FoundLink& link : found.links)
            m_links.push_back({lineStarts.value(0), link});
        m_found.anchors += found.anchors;
    }

    // An HTML block holds its lines less what its containers take from the
    // start of each: each stands at the end of its line in the source.
    void readHtmlBlock(cmark_node* block)
    {
        const QByteArrayView html(cmark_node_get_literal(block));
        const QList<QByteArrayView> lines = linesOf(html);
        QList<qsizetype> lineStarts;
        const int firstLine = cmark_node_get_start_line(block) - 1;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const int line = firstLine + int(i);
            if (line < 0 || line >= m_source.lineCount() || !m_source.lineText(line).endsWith(lines[i]))
                break;
            lineStarts.append(m_source.lineEnd(line) - lines[i].size() + leadingBlanks(lines[i]));
        }
        if (lineStarts.isEmpty())
            lineStarts.append(startOf(block));
        readHtml(html, lineStarts);
    }

    static QList<QByteArrayView> linesOf(QByteArrayView text)
    {
        QList<QByteArrayView> lines;
        qsizetype start = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] != '\n' && text[i] != '\r')
                continue;
            lines.append(text.sliced(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
        if (start < text.size())
            lines.append(text.sliced(start));
        return lines;
    }

    SourceText m_source;
    // Of the table row being read, its cells not read yet.
    QList<qsizetype> m_cellStarts;
    // The line of the header of each table that ended a paragraph.
    QHash<cmark_node*, int> m_headerLines;
    // Each with the offset where it opens, to be put in that order.
    std::vector<std::pair<qsizetype, FoundLink>> m_links;
    DocumentLinks m_found;
    HeadingAnchors::Document m_headings;
};

// The bytes as cmark-gfm is to read them: valid UTF-8 without the byte-order
// marks it starts with (cmark-gfm would drop one more itself), a NUL
// replaced as cmark-gfm would, so that the text walked is the text it parsed.
QByteArray readableText(QByteArrayView bytes)
{
    while (bytes.startsWith("\xef\xbb\xbf"))
        bytes = bytes.sliced(3);
    QString text = decoded(bytes);
    text.replace(QChar(u'\0'), QChar(QChar::ReplacementCharacter));
    return text.toUtf8();
}
}

namespace MarkdownLinks {
DocumentLinks read(QByteArrayView bytes) { return MarkdownReader(readableText(bytes)).read(); }
}
