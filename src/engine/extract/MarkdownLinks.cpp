#include "engine/extract/MarkdownLinks.h"

#include "engine/extract/HeadingAnchors.h"
#include "engine/extract/HtmlLinks.h"
#include "engine/extract/MarkdownBudget.h"
#include "engine/extract/MarkdownPlaces.h"

#include <cmark-gfm.h>
#include <cmark-gfm-core-extensions.h>

#include <QHash>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {
using namespace MarkdownPlaces;

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
    // and a struck-through span are blocks and spans of their own. Tables
    // too costly to build are read as the paragraphs they would be without
    // the extension, their links found all the same.
    for (const char* name : {"autolink", "table", "strikethrough"}) {
        if (qstrcmp(name, "table") != 0 || MarkdownBudget::tableCellsWithinBounds(text))
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

    // An ATX heading's line starts with one to six "#" and a blank or its
    // end; a setext heading's text may start with "#" too ("#=", "#######").
    bool isAtxHeading(cmark_node* block) const
    {
        if (cmark_node_get_type(block) != CMARK_NODE_HEADING)
            return false;
        qsizetype at = startOf(block);
        const qsizetype end = m_source.lineEnd(m_source.lineOf(at));
        while (at < end && isBlank(m_source.at(at)))
            ++at;
        qsizetype hashes = 0;
        while (at + hashes < end && m_source.at(at + hashes) == '#')
            ++hashes;
        return hashes >= 1 && hashes <= 6 && (at + hashes == end || isBlank(m_source.at(at + hashes)));
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
        if (isAtxHeading(block)) {
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
        const bool setext = cmark_node_get_type(block) == CMARK_NODE_HEADING && !isAtxHeading(block);
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
        m_found.notes += found.notes;
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
std::optional<QString> whyTooCostly(QByteArrayView bytes, qsizetype mostNodes)
{
    return MarkdownBudget::costlyMarkup(bytes, mostNodes);
}

std::variant<DocumentLinks, QString> readBounded(QByteArrayView bytes)
{
    // Counted on the bytes as they are, which have the same lines and marks:
    // a document refused is not decoded first.
    if (auto refusal = whyTooCostly(bytes))
        return *std::move(refusal);
    return MarkdownReader(readableText(bytes)).read();
}

DocumentLinks read(QByteArrayView bytes)
{
    auto read = readBounded(bytes);
    DocumentLinks* links = std::get_if<DocumentLinks>(&read);
    return links != nullptr ? std::move(*links) : DocumentLinks();
}
}
