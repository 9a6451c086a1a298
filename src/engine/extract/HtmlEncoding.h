#pragma once

#include <QByteArray>
#include <QByteArrayView>

// An HTML file's bytes as text, the way a browser takes a file that comes
// without a Content-Type: the encoding of a byte order mark, else, in an
// XHTML file (which a browser reads as XML), the one an XML declaration at
// its start names, else the one a <meta charset> or <meta
// http-equiv=content-type> names in the first 1024 bytes, else UTF-8. An
// HTML file's XML declaration names nothing: HTML's prescan has no such step.
namespace HtmlEncoding {
// The text in valid UTF-8, without the byte order mark: what cannot be
// decoded becomes U+FFFD.
// Bytes that are that already (most pages) are given back as they are,
// not copied.
QByteArray toUtf8(const QByteArray& bytes, bool xhtml = false);
}
