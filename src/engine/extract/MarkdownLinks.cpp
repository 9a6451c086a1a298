#include "engine/extract/MarkdownLinks.h"

#include "engine/extract/HeadingAnchors.h"
#include "engine/extract/HtmlLinks.h"

#include <cmark-gfm.h>
#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm/houdini.h>

#include <QHash>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

bool isAsciiPunctuation(char c)
{
    return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') || (c >= '{' && c <= '~');
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

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

// Where a later line of a paragraph or heading has its text: past the block
// quotes' ">" and the indentation, which cmark-gfm leaves out of the text.
qsizetype lineTextStart(const SourceText& source, int line, int quoteDepth)
{
    qsizetype at = source.lineStart(line);
    const qsizetype end = source.lineEnd(line);
    const auto skipBlanks = [&] {
        while (at < end && isBlank(source.at(at)))
            ++at;
    };
    skipBlanks();
    for (int quote = 0; quote < quoteDepth && at < end && source.at(at) == '>'; ++quote) {
        ++at;
        skipBlanks();
    }
    return at;
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
// first, for <autolinks>, after an escaped "|" in a table, and missing for
// the autolink extension's links.
class InlineWalk {
public:
    // quoteDepth: block quotes around the block, whose ">" start its later
    // lines; lastLine: the block's last, which the walk never passes.
    InlineWalk(const SourceText& source, int quoteDepth, int lastLine)
        : m_source(source), m_quoteDepth(quoteDepth), m_lastLine(lastLine)
    {
    }

    // Whether the block's inlines, from `start`, match the source.
    bool walk(cmark_node* block, qsizetype start)
    {
        m_at = start;
        m_line = m_source.lineOf(start);
        m_lineTextStart = -1;
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

    // Whether nothing but blanks is left on this line, or on any for -1.
    bool onlyBlanksLeftOn(int line)
    {
        skipBlanks();
        return (line == -1 || m_line == line) && atLineEnd();
    }

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
        m_at = m_lineTextStart = lineTextStart(m_source, ++m_line, m_quoteDepth);
        return true;
    }
    // cmark's "spacechars": blanks and line endings.
    void skipSpace()
    {
        skipBlanks();
        while (atLineEnd() && nextLine())
            skipBlanks();
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
                // After a backslash's line break the text keeps the line's
                // indentation, or what a tab the containers took part of
                // leaves of it, which the walk has stepped over.
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
        const qsizetype at = m_at;
        if (matchText(literal, true))
            return true;
        m_at = at;
        return matchText(literal, false);
    }

    bool matchCode()
    {
        int ticks = 0;
        while (take('`'))
            ++ticks;
        if (ticks == 0)
            return false;
        for (;;) {
            if (atLineEnd() && !nextLine())
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
            const qsizetype start = m_at;
            for (char c; (c = here()) != '>';) {
                if (c == '\0' || c == '<')
                    return -1;
                m_at += c == '\\' && m_at + 1 < m_source.lineEnd(m_line) ? 2 : 1;
            }
            ++m_at;
            return start;
        }
        const qsizetype start = m_at;
        int parentheses = 0;
        for (char c; (c = here()) != '\0' && c != ' ' && c != '\t';) {
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
            if (atLineEnd() && !nextLine())
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
            if (atLineEnd() && !nextLine())
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
    const int m_quoteDepth;
    const int m_lastLine;
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

std::unique_ptr<cmark_node, CmarkFree> parsed(const QByteArray& text)
{
    static std::once_flag registered;
    std::call_once(registered, [] { cmark_gfm_core_extensions_ensure_registered(); });
    const std::unique_ptr<cmark_parser, CmarkFree> parser(cmark_parser_new(CMARK_OPT_SOURCEPOS));
    // The extensions that change where GitHub's links are: a table's cells
    // and a struck-through span are blocks and spans of their own.
    for (const char* name : {"autolink", "table", "strikethrough"})
        cmark_parser_attach_syntax_extension(parser.get(), cmark_find_syntax_extension(name));
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
    return QString::fromUtf8(text);
}

class MarkdownReader {
public:
    explicit MarkdownReader(QByteArray text) : m_source(std::move(text)) {}

    DocumentLinks read()
    {
        const auto document = parsed(m_source.bytes());
        const std::unique_ptr<cmark_iter, CmarkFree> iter(cmark_iter_new(document.get()));
        int quoteDepth = 0;
        for (cmark_event_type event; (event = cmark_iter_next(iter.get())) != CMARK_EVENT_DONE;) {
            cmark_node* node = cmark_iter_get_node(iter.get());
            const cmark_node_type type = cmark_node_get_type(node);
            if (type == CMARK_NODE_BLOCK_QUOTE)
                quoteDepth += event == CMARK_EVENT_ENTER ? 1 : -1;
            if (event != CMARK_EVENT_ENTER)
                continue;
            if (type == CMARK_NODE_HTML_BLOCK) {
                readHtmlBlock(node);
            } else if (isNamed(node, "table_row") || isNamed(node, "table_header")) {
                m_cellStarts = cellStarts(node, quoteDepth);
            } else if (isNamed(node, "table_cell")) {
                readInlines(node, m_cellStarts.isEmpty() ? textStart(node) : m_cellStarts.takeFirst(), quoteDepth);
                cmark_iter_reset(iter.get(), node, CMARK_EVENT_EXIT);
            } else if (type == CMARK_NODE_PARAGRAPH || type == CMARK_NODE_HEADING) {
                readInlines(node, textStart(node), quoteDepth);
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
        qsizetype at = startOf(block);
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
    // row's cells as if the row stood where the first does. A "|" after a
    // backslash is the cell's.
    QList<qsizetype> cellStarts(cmark_node* row, int quoteDepth) const
    {
        cmark_node* table = cmark_node_parent(row);
        qsizetype at = cmark_node_previous(row) == nullptr && table != nullptr
                         ? startOf(table)
                         : lineTextStart(m_source, m_source.lineOf(startOf(row)), quoteDepth);
        const qsizetype end = m_source.lineEnd(m_source.lineOf(at));
        if (at < end && m_source.at(at) == '|')
            ++at;
        QList<qsizetype> starts;
        while (at < end) {
            starts.append(at + leadingBlanks(QByteArrayView(m_source.bytes()).sliced(at, end - at)));
            while (at < end && !(m_source.at(at) == '|' && m_source.at(at - 1) != '\\'))
                ++at;
            ++at;
        }
        return starts;
    }

    void readInlines(cmark_node* block, qsizetype start, int quoteDepth)
    {
        const int firstLine = m_source.lineOf(start);
        const int lastLine = isNamed(block, "table_cell")
                               ? firstLine
                               : std::clamp(cmark_node_get_end_line(block) - 1, firstLine, m_source.lineCount() - 1);
        InlineWalk walk(m_source, quoteDepth, lastLine);
        bool walked = walk.walk(block, start);
        // The place of a paragraph or a setext heading starts at the link
        // reference definitions it began with, which its text no longer
        // holds: the text starts on a later line, the first from which the
        // whole of it matches.
        const bool paragraph = cmark_node_get_type(block) == CMARK_NODE_PARAGRAPH;
        if (paragraph || (cmark_node_get_type(block) == CMARK_NODE_HEADING && m_source.at(startOf(block)) != '#')) {
            // A setext heading's end is no help: cmark-gfm may put it on a
            // later block's line.
            const auto ended = [&] { return walk.onlyBlanksLeftOn(paragraph ? lastLine : -1); };
            walked = walked && ended();
            const bool mayStartWithDefinitions = m_source.at(start) == '[';
            for (int line = firstLine + 1; !walked && mayStartWithDefinitions && line <= lastLine; ++line)
                walked = walk.walk(block, lineTextStart(m_source, line, quoteDepth)) && ended();
        }
        if (!walked) {
            walk.links.clear();
            walk.htmlLineStarts.clear();
        }
        report(block, walk);
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
            const QString address = QString::fromUtf8(cmark_node_get_url(node));
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
    // Each with the offset where it opens, to be put in that order.
    std::vector<std::pair<qsizetype, FoundLink>> m_links;
    DocumentLinks m_found;
    HeadingAnchors::Document m_headings;
};

// The bytes as cmark-gfm is to read them: valid UTF-8 without a byte-order
// mark, a NUL replaced as cmark-gfm would, so that the text walked is the
// text it parsed.
QByteArray readableText(QByteArrayView bytes)
{
    if (bytes.startsWith("\xef\xbb\xbf"))
        bytes = bytes.sliced(3);
    QString text = QString::fromUtf8(bytes);
    text.replace(QChar(u'\0'), QChar(QChar::ReplacementCharacter));
    return text.toUtf8();
}
}

namespace MarkdownLinks {
DocumentLinks read(QByteArrayView bytes) { return MarkdownReader(readableText(bytes)).read(); }
}
