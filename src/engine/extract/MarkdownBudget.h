#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// What reading a Markdown document would cost cmark-gfm, counted on its
// bytes before it reads them: it takes memory for every node it makes, so
// that small texts could take gigabytes. The bounds are MarkdownLinks'.
namespace MarkdownBudget {
// Why cmark-gfm is not to read the text, if it is not, with at most
// mostNodes nodes.
std::optional<QString> costlyMarkup(QByteArrayView text, qsizetype mostNodes);

// Whether cmark-gfm's table extension may read the text.
bool tableCellsWithinBounds(QByteArrayView text);
}
