#include "engine/extract/MarkdownSourceText.h"

#include <cmark-gfm/node.h>

#include <QStringDecoder>

namespace MarkdownPlaces {
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

int itemIndent(cmark_node* item) { return item->as.list.marker_offset + item->as.list.padding; }

qsizetype lineTextStart(const SourceText& source, int line, const Containers& containers,
                        bool* indentedAsCode, bool* lazy)
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

bool isUnderline(QByteArrayView text)
{
    QByteArrayView marks = text;
    while (!marks.isEmpty() && isBlank(marks.back()))
        marks.chop(1);
    return !marks.isEmpty() && (marks[0] == '=' || marks[0] == '-')
        && std::all_of(marks.begin(), marks.end(), [&](char c) { return c == marks[0]; });
}
}  // namespace MarkdownPlaces
