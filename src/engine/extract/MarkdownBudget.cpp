#include "engine/extract/MarkdownBudget.h"

#include "engine/extract/MarkdownLinks.h"
#include "engine/extract/MarkdownSourceText.h"

#include <QList>

#include <algorithm>

namespace {
using MarkdownPlaces::isBlank;

// Where the line's last run of one thematic break mark ("-", "*" or "_")
// and blanks starts, for each mark: from there on, with three marks or
// more, it is a thematic break ("- - -", "***"), which opens no list
// however many marks it has. Found once a line, so that a line of marks
// costs its length.
struct BreakStarts {
    explicit BreakStarts(QByteArrayView line)
    {
        for (const char mark : {'-', '*', '_'}) {
            qsizetype from = line.size();
            while (from > 0 && (line[from - 1] == mark || isBlank(line[from - 1])))
                --from;
            starts[index(mark)] = from;
        }
    }
    bool at(QByteArrayView line, qsizetype at) const
    {
        const char mark = line[at];
        if ((mark != '-' && mark != '*' && mark != '_') || at < starts[index(mark)])
            return false;
        return std::count(line.begin() + at, line.end(), mark) >= 3;
    }
    static int index(char mark) { return mark == '-' ? 0 : mark == '*' ? 1 : 2; }
    qsizetype starts[3] = {};
};

// The lists and block quotes a line opens at its start, as markers: "- ",
// "1. ", ">"...
qsizetype containerMarkers(QByteArrayView line)
{
    const BreakStarts thematicBreak(line);
    qsizetype markers = 0;
    qsizetype at = 0;
    const auto blankOrEnd = [&](qsizetype i) { return i >= line.size() || isBlank(line[i]); };
    for (;;) {
        while (at < line.size() && isBlank(line[at]))
            ++at;
        if (at >= line.size())
            return markers;
        if (line[at] == '>') {
            ++at;
        } else if (thematicBreak.at(line, at)) {
            return markers;
        } else if ((line[at] == '-' || line[at] == '+' || line[at] == '*') && blankOrEnd(at + 1)) {
            ++at;
        } else {
            qsizetype digits = at;
            while (digits < line.size() && digits - at < 9 && line[digits] >= '0' && line[digits] <= '9')
                ++digits;
            if (digits == at || digits >= line.size() || (line[digits] != '.' && line[digits] != ')')
                || !blankOrEnd(digits + 1))
                return markers;
            at = digits + 1;
        }
        ++markers;
    }
}
}

namespace MarkdownBudget {
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

// Why cmark-gfm is not to read the text, if it is not: it builds a node of
// some hundreds of bytes for every block, container and inline mark, so
// that a small text of deeply nested list items, or one at the most a
// document may be of short lines, would take gigabytes. Counted before it
// reads: the lists and block quotes each line opens, and about the nodes
// the text could make at most (two a line not blank, one a container
// marker and a character that may start or end an inline), far more than
// the largest documents people write.
std::optional<QString> costlyMarkup(QByteArrayView text, qsizetype mostNodes)
{
    qsizetype nodes = 0;
    int line = 0;
    for (qsizetype start = 0, i = 0; start < text.size(); start = i + 1) {
        ++line;
        i = start;
        while (i < text.size() && text[i] != '\n' && text[i] != '\r')
            ++i;
        const QByteArrayView lineText = text.sliced(start, i - start);
        if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n')
            ++i;
        const qsizetype markers = containerMarkers(lineText);
        if (markers > MarkdownLinks::MostContainersOnALine)
            return QStringLiteral("line %1 opens %2 lists and block quotes, more than the %3 a document may nest on "
                                  "a line: not read, as the Markdown reader would take memory for each")
                .arg(line)
                .arg(markers)
                .arg(MarkdownLinks::MostContainersOnALine);
        const bool blank = std::all_of(lineText.begin(), lineText.end(), [](char c) { return isBlank(c); });
        // A line of text is a text node and the break after it; cmark-gfm
        // ends a text node at each character that may start an inline, the
        // autolink extension's "w" (of "www.") and ":" among them.
        nodes += markers + (blank ? 0 : 2);
        for (const char c : lineText)
            nodes += c == '[' || c == ']' || c == '*' || c == '_' || c == '~' || c == '`' || c == '\\' || c == '&'
                  || c == '<' || c == '!' || c == '@' || c == ':' || c == 'w' || c == '|';
        if (nodes > mostNodes)
            return QStringLiteral("by line %1, more than the %2 blocks, lists and inline marks the Markdown "
                                  "reader takes (some 500 MB of memory): not read; split the file")
                .arg(line)
                .arg(mostNodes);
    }
    return std::nullopt;
}
}
