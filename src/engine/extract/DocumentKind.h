#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// What a file given to check holds, and so which reader finds its links: a
// list has one address a line.
enum class DocumentKind { List, Html, Markdown, Sitemap };

namespace DocumentKinds {
// From the name's ending, whatever its case: .html .htm .xhtml, .md
// .markdown, .xml .xml.gz; any other name is a list. A path may be given.
DocumentKind ofFileName(QStringView fileName);
// An .xhtml file, whatever its case: HTML a browser reads as XML, whose
// declaration names its encoding.
bool isXhtml(QStringView fileName);
// Whether a folder walk takes the file: pages and Markdown, and sitemaps
// only when the name starts with "sitemap", since most XML files are none;
// never a list, which any file could be.
bool takenFromFolder(QStringView fileName);
// The names --input-format takes, one for each kind, and the kind of each.
QStringList inputFormatNames();
std::optional<DocumentKind> ofInputFormat(QStringView name);
}
