#pragma once

#include "engine/extract/DocumentLinks.h"

#include <QByteArrayView>
#include <QString>

#include <variant>

// The links of a sitemap, <urlset><url><loc>, or of a sitemap index,
// <sitemapindex><sitemap><loc>: the sitemaps.org namespace or none, the
// elements known by their local names.
namespace SitemapLinks {
// From the document's bytes, inflated first when they start as gzip data
// does: each <loc>'s text, trimmed, at the place of its first character, as
// element "loc" (for an index, "sitemap loc"). Or why the bytes are no
// sitemap: not XML (at the line and column of the fault), another root
// element, more than DocumentFiles::MostDocumentBytes once inflated, or
// markup no sitemap has that would cost the XML reader far more time than
// its size warrants (declarations of a DTD's own, which entities need;
// very many attributes in one tag; very deep nesting). Nothing is fetched:
// a DTD or an entity outside the document is never read.
std::variant<DocumentLinks, QString> read(QByteArrayView bytes);
}
