#include "engine/extract/DocumentKind.h"

#include <array>
#include <utility>

namespace {
const std::array<std::pair<DocumentKind, QStringView>, 4> InputFormats{{
    {DocumentKind::List, u"list"},
    {DocumentKind::Html, u"html"},
    {DocumentKind::Markdown, u"markdown"},
    {DocumentKind::Sitemap, u"sitemap"},
}};

const std::array<std::pair<QStringView, DocumentKind>, 7> Endings{{
    {u".html", DocumentKind::Html},
    {u".htm", DocumentKind::Html},
    {u".xhtml", DocumentKind::Html},
    {u".md", DocumentKind::Markdown},
    {u".markdown", DocumentKind::Markdown},
    {u".xml", DocumentKind::Sitemap},
    {u".xml.gz", DocumentKind::Sitemap},
}};

QStringView nameOf(QStringView path) { return path.sliced(path.lastIndexOf(u'/') + 1); }
}  // namespace

DocumentKind DocumentKinds::ofFileName(QStringView fileName)
{
    const QStringView name = nameOf(fileName);
    for (const auto& [ending, kind] : Endings)
        if (name.endsWith(ending, Qt::CaseInsensitive))
            return kind;
    return DocumentKind::List;
}

bool DocumentKinds::isXhtml(QStringView fileName) { return fileName.endsWith(u".xhtml", Qt::CaseInsensitive); }

bool DocumentKinds::takenFromFolder(QStringView fileName)
{
    switch (ofFileName(fileName)) {
    case DocumentKind::List:
        return false;
    case DocumentKind::Html:
    case DocumentKind::Markdown:
        return true;
    case DocumentKind::Sitemap:
        return nameOf(fileName).startsWith(u"sitemap", Qt::CaseInsensitive);
    }
    return false;
}

QStringList DocumentKinds::inputFormatNames()
{
    QStringList names;
    for (const auto& format : InputFormats)
        names.append(format.second.toString());
    return names;
}

std::optional<DocumentKind> DocumentKinds::ofInputFormat(QStringView name)
{
    for (const auto& [kind, formatName] : InputFormats)
        if (name == formatName)
            return kind;
    return std::nullopt;
}
