#pragma once

#include "engine/extract/DocumentLinks.h"

#include <QByteArrayView>

// The links an HTML document holds, read as gumbo's HTML5 parser reads it,
// so that a document a browser reads is read the same way however broken it
// is:
// a href, area href, link href (but not rel=preconnect or dns-prefetch,
// which name a server, not a resource), img, source, video, audio, track,
// iframe, embed and script src, each candidate of img and source srcset,
// video poster, object data and the address of a <meta http-equiv=refresh>.
// An empty value is a link to the page itself, with address "". Links inside
// <template> and <noscript> count (a script stamps the one into the page, a
// reader without scripts sees the other); comments hold none. Anchors are
// every id and every <a name>. Only elements of HTML count for links: an
// <a> inside <svg> is SVG's.
namespace HtmlLinks {
// A whole HTML document as its bytes: the encoding from a byte order mark,
// else (an .xhtml file, `xhtml`) an XML declaration's encoding="..." at its
// start, else a <meta charset> (or http-equiv content-type charset) in the
// first 1024 bytes, else UTF-8 (invalid sequences replaced). Places count
// characters of the decoded text; a byte order mark is no column.
DocumentLinks read(const QByteArray& bytes, bool xhtml = false);
// HTML already in UTF-8, such as a block of HTML inside a Markdown file:
// places counted from `start` (the fragment's first character stands at
// `start`; lines after its first keep their own columns).
DocumentLinks readUtf8(QByteArrayView utf8, TextPlace start = {});
// Of valid UTF-8, through gumbo's tree even where the page's tags alone say
// what it holds (as they do for most pages, which are read so): what that
// reading must give, for the tests that hold the one to the other.
DocumentLinks readThroughTree(QByteArrayView utf8);
}
