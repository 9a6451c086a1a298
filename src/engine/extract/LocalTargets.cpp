#include "engine/extract/LocalTargets.h"

#include "engine/extract/DocumentFiles.h"
#include "engine/extract/DocumentKind.h"
#include "engine/extract/HtmlLinks.h"
#include "engine/extract/LinkTarget.h"
#include "engine/extract/MarkdownLinks.h"

#include <QDir>
#include <QFileInfo>

bool LocalTargets::defines(const QSet<QString>& anchors, const QStringList& forms, bool markdown)
{
    // GitHub finds a heading whatever the case of the fragment.
    return std::any_of(forms.begin(), forms.end(), [&](const QString& form) {
        return anchors.contains(form) || (markdown && anchors.contains(form.toLower()));
    });
}

LocalTargets::Check LocalTargets::check(const QString& path, const QString& fragment)
{
    const Place& place = placeOf(path);
    if (place.kind == Place::Kind::Missing)
        return {AnswerClass::NotFound, QStringLiteral("no such file or folder")};
    if (place.kind == Place::Kind::FolderWithoutIndex)
        return {AnswerClass::NotFound, QStringLiteral("folder without index.html or README.md")};
    const QStringList forms = LinkTarget::fragmentForms(fragment);
    // "#" and "#top", in any case, are the top of the page to a browser,
    // whatever anchors the page defines.
    if (fragment.isEmpty() || forms.constLast().compare(u"top", Qt::CaseInsensitive) == 0)
        return {AnswerClass::Ok, QStringLiteral("file")};
    const QSet<QString>* anchors = anchorsOf(place);
    if (!anchors || defines(*anchors, forms, DocumentKinds::ofFileName(place.file) == DocumentKind::Markdown))
        return {AnswerClass::Ok, QStringLiteral("file")};
    return {AnswerClass::NoFragment, QStringLiteral("no #%1 in the file").arg(fragment)};
}

const LocalTargets::Place& LocalTargets::placeOf(const QString& path)
{
    if (m_currentDir.isEmpty())
        m_currentDir = QDir::currentPath();
    const QString key = QDir::cleanPath(QDir::isAbsolutePath(path) ? path : m_currentDir + u'/' + path);
    if (const auto known = m_places.constFind(key); known != m_places.constEnd())
        return *known;
    Place place;
    QFileInfo target(path);
    if (!target.exists()) {
        place.kind = Place::Kind::Missing;
    } else if (target.isDir()) {
        const QString folder = target.filePath();
        auto index = std::find_if(std::begin(IndexFiles), std::end(IndexFiles),
                                  [&](QStringView name) { return QFileInfo(folder + u'/' + name.toString()).isFile(); });
        if (index == std::end(IndexFiles))
            place.kind = Place::Kind::FolderWithoutIndex;
        else
            target.setFile(folder + u'/' + index->toString());
    }
    if (place.kind == Place::Kind::File) {
        place.file = target.filePath();
        place.canonical = target.canonicalFilePath();
    }
    return *m_places.insert(key, place);
}

void LocalTargets::remember(const QString& path, const QStringList& anchors)
{
    const Place& place = placeOf(path);
    const QString key = place.kind == Place::Kind::File ? place.canonical : QFileInfo(path).canonicalFilePath();
    m_anchors.insert(readingKey(key, path), QSet<QString>(anchors.begin(), anchors.end()));
}

QString LocalTargets::readingKey(const QString& canonical, const QString& name)
{
    // No path holds a NUL.
    return DocumentKinds::isXhtml(name) ? canonical + QChar(0) + QStringLiteral("xhtml") : canonical;
}

const QSet<QString>* LocalTargets::anchorsOf(const Place& place)
{
    const QString key = readingKey(place.canonical, place.file);
    if (const auto known = m_anchors.constFind(key); known != m_anchors.constEnd())
        return &*known;
    if (m_unreadable.contains(key))
        return nullptr;
    const QString& file = place.file;
    const DocumentKind kind = DocumentKinds::ofFileName(file);
    const auto bytes = kind == DocumentKind::Html || kind == DocumentKind::Markdown
                         ? DocumentFiles::readBounded(file)
                         : std::variant<QByteArray, QString>(QString());
    const QByteArray* read = std::get_if<QByteArray>(&bytes);
    // A Markdown file too costly to read has its anchors unknown, as one
    // that cannot be read, rather than none.
    auto links = read == nullptr            ? std::variant<DocumentLinks, QString>(QString())
               : kind == DocumentKind::Html ? HtmlLinks::read(*read, DocumentKinds::isXhtml(file))
                                            : MarkdownLinks::readBounded(*read);
    DocumentLinks* found = std::get_if<DocumentLinks>(&links);
    if (!found) {
        m_unreadable.insert(key);
        return nullptr;
    }
    const QSet<QString>* anchors = &*m_anchors.insert(key, QSet<QString>(found->anchors.begin(), found->anchors.end()));
    if (m_offer)
        m_offer(key, kind, *found);
    return anchors;
}
