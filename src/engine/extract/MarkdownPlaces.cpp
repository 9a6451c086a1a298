#include "engine/extract/MarkdownPlaces.h"

#include <cmark-gfm/houdini.h>

#include <memory>

namespace MarkdownPlaces {
bool InlineWalk::walk(cmark_node* block, qsizetype start, int lastLine)
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

bool InlineWalk::onlyBlanksLeftOn(int line)
{
    skipBlanks();
    return m_line == line && atLineEnd();
}

void InlineWalk::skipBlanks()
{
    while (isBlank(here()))
        ++m_at;
}

bool InlineWalk::nextLine()
{
    if (!atLineEnd() || m_line >= m_lastLine)
        return false;
    m_at = m_lineTextStart = lineTextStart(m_source, ++m_line, m_containers);
    return true;
}

bool InlineWalk::overLineEnds()
{
    while (atLineEnd()) {
        if (!nextLine())
            return false;
    }
    return true;
}

void InlineWalk::skipSpace()
{
    for (;;) {
        while (isLinkSpace(here()))
            ++m_at;
        if (!atLineEnd() || !nextLine())
            return;
    }
}

bool InlineWalk::take(char c)
{
    if (here() != c)
        return false;
    ++m_at;
    return true;
}

bool InlineWalk::takeRun(char c, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!take(c))
            return false;
    }
    return true;
}

bool InlineWalk::matchText(QByteArrayView literal, bool decoded)
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

qsizetype InlineWalk::decodedReference(QByteArrayView literal)
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

bool InlineWalk::matchTextEitherWay(QByteArrayView literal)
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

bool InlineWalk::matchCode()
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

bool InlineWalk::matchHtml(cmark_node* node, QByteArrayView literal)
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

qsizetype InlineWalk::linkTail(qsizetype opening)
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

qsizetype InlineWalk::inlineAddress()
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

bool InlineWalk::title()
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

bool InlineWalk::label()
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

bool InlineWalk::enter(cmark_node* node)
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

bool InlineWalk::leave(cmark_node* node)
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
}  // namespace MarkdownPlaces
