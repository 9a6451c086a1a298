#pragma once

#include "engine/extract/DocumentLinks.h"

#include <QByteArrayView>
#include <QString>

#include <optional>
#include <variant>

// The links of a Markdown document as GitHub reads it (CommonMark with the
// GFM tables, strikethrough and bare-address autolinks).
namespace MarkdownLinks {
// A Markdown document as its bytes (UTF-8; a byte-order mark dropped; invalid
// sequences replaced): its links, images and autolinks in document order,
// with the HTML inside it read for links too; anchors from its headings and
// any HTML id/name.
//
// Elements: "link" for [text](address) and reference links, "image" for
// ![alt](address), "autolink" for <address> and bare addresses. The address
// is as written with escapes and character references decoded; a bare
// "www." address is given the "http://" GitHub's link has, a bare e-mail
// address "mailto:"; an empty one, as in [text](), is a link to the document
// itself. A reference link stands where it is used; a definition no link
// uses is not reported, as it shows nothing. Nothing in code is a link, nor
// is a link in an image's alternative text.
//
// Or why it is not read: markup that would cost cmark-gfm far more memory
// than any real document does (see MostNodes below).
std::variant<DocumentLinks, QString> readBounded(QByteArrayView bytes);
// As readBounded(), with nothing for a document it does not read.
DocumentLinks read(QByteArrayView bytes);

// What cmark-gfm may be given to read, as it takes some hundreds of bytes
// a block, container or inline: readBounded() says why a document is not
// read rather than take gigabytes (at the most, some 500 MB). Lists and
// block quotes a line opens at its start (real documents nest a few deep),
// and about the nodes it could make at most: Node.js's changelogs, 10 MB of
// Markdown in one file, count about 1,000,000 and take 215 MB to read.
constexpr qsizetype MostContainersOnALine = 100;
constexpr qsizetype MostNodes = 2'500'000;
// Why a text is not to be read, with at most mostNodes nodes: the line that
// nests too deep, or the line by which it has too many. Nothing: it is read.
std::optional<QString> whyTooCostly(QByteArrayView bytes, qsizetype mostNodes = MostNodes);
}
