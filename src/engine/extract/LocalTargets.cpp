#include "engine/extract/LocalTargets.h"

#include "engine/extract/DocumentFiles.h"
#include "engine/extract/DocumentKind.h"
#include "engine/extract/HtmlLinks.h"
#include "engine/extract/LinkTarget.h"
#include "engine/extract/MarkdownLinks.h"

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
    QFileInfo target(path);
    if (!target.exists())
        return {AnswerClass::NotFound, QStringLiteral("no such file or folder")};
    if (target.isDir()) {
        const QString folder = target.filePath();
        auto index = std::find_if(std::begin(IndexFiles), std::end(IndexFiles),
                                  [&](QStringView name) { return QFileInfo(folder + u'/' + name.toString()).isFile(); });
        if (index == std::end(IndexFiles))
            return {AnswerClass::NotFound, QStringLiteral("folder without index.html or README.md")};
        target.setFile(folder + u'/' + index->toString());
    }
    const QStringList forms = LinkTarget::fragmentForms(fragment);
    // "#" and "#top", in any case, are the top of the page to a browser,
    // whatever anchors the page defines.
    if (fragment.isEmpty() || forms.constLast().compare(u"top", Qt::CaseInsensitive) == 0)
        return {AnswerClass::Ok, QStringLiteral("file")};
    const QSet<QString>* anchors = anchorsOf(target.filePath());
    if (!anchors || defines(*anchors, forms, DocumentKinds::ofFileName(target.fileName()) == DocumentKind::Markdown))
        return {AnswerClass::Ok, QStringLiteral("file")};
    return {AnswerClass::NoFragment, QStringLiteral("no #%1 in the file").arg(fragment)};
}

void LocalTargets::remember(const QString& path, const QStringList& anchors)
{
    m_anchors.insert(QFileInfo(path).canonicalFilePath(), QSet<QString>(anchors.begin(), anchors.end()));
}

const QSet<QString>* LocalTargets::anchorsOf(const QString& file)
{
    const QString key = QFileInfo(file).canonicalFilePath();
    if (const auto known = m_anchors.constFind(key); known != m_anchors.constEnd())
        return &*known;
    if (m_unreadable.contains(key))
        return nullptr;
    const DocumentKind kind = DocumentKinds::ofFileName(file);
    const auto bytes = kind == DocumentKind::Html || kind == DocumentKind::Markdown
                         ? DocumentFiles::readBounded(file)
                         : std::variant<QByteArray, QString>(QString());
    const QByteArray* read = std::get_if<QByteArray>(&bytes);
    if (!read) {
        m_unreadable.insert(key);
        return nullptr;
    }
    remember(file, (kind == DocumentKind::Html ? HtmlLinks::read(*read) : MarkdownLinks::read(*read)).anchors);
    return &m_anchors[key];
}
