#include "cli/Documents.h"

#include "engine/extract/DocumentFiles.h"
#include "engine/extract/HtmlAttributeText.h"
#include "engine/extract/HtmlLinks.h"
#include "engine/extract/MarkdownLinks.h"
#include "engine/extract/SitemapLinks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <unistd.h>

#include <utility>

namespace {
// Standard input read whole, within the bound on a document.
std::variant<QByteArray, QString> readStandardInput()
{
    QFile input;
    if (!input.open(STDIN_FILENO, QIODevice::ReadOnly))
        return QStringLiteral("standard input: ") + input.errorString();
    QByteArray bytes = input.read(DocumentFiles::MostDocumentBytes + 1);
    if (bytes.size() > DocumentFiles::MostDocumentBytes)
        return QStringLiteral("standard input: more than %1, too large for a document").arg(DocumentFiles::mostDocumentSize());
    return bytes;
}

Outcome onDisk(const LocalTargets::Check& check)
{
    Outcome outcome;
    outcome.valid = check.answerClass == AnswerClass::Ok;
    outcome.answerClass = check.answerClass;
    outcome.reason = check.reason;
    return outcome;
}

// A fragment of standard input's own, as LocalTargets judges one of a file.
LocalTargets::Check ownFragment(const QSet<QString>& anchors, const QString& fragment, bool markdown)
{
    if (fragment.isEmpty() || LocalTargets::defines(anchors, LinkTarget::fragmentForms(fragment), markdown))
        return {AnswerClass::Ok, QStringLiteral("standard input")};
    return {AnswerClass::NoFragment, QStringLiteral("no #%1 in standard input").arg(fragment)};
}

// A document's place among the files read: the same file read as another
// kind gives other links.
QString keptKey(const QString& reading, DocumentKind kind)
{
    return QString::number(static_cast<int>(kind)) + u':' + reading;
}

// Where a document may be read early: a file the targets of links are read
// as, by its name.
bool readAsTarget(const Documents::Input& document)
{
    return document.name != u"-" && (document.kind == DocumentKind::Html || document.kind == DocumentKind::Markdown);
}

Outcome neverAsked(const QString& reason)
{
    Outcome outcome;
    outcome.valid = true;
    outcome.answerClass = AnswerClass::Skipped;
    outcome.reason = reason;
    return outcome;
}
}  // namespace

std::variant<std::vector<Documents::Input>, QString> Documents::inputsOf(const QStringList& names,
                                                                         const Settings& settings, QStringList& warnings)
{
    // A mistyped path would leave out nothing, silently.
    for (const QString& path : settings.excluded) {
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
            warnings << QStringLiteral("--exclude-path names nothing there: ") + path;
    }
    std::vector<Input> inputs;
    const QString here = settings.rootDir.isEmpty() ? QStringLiteral(".") : settings.rootDir;
    for (const QString& name : names) {
        if (name != u"-" && QFileInfo(name).isDir()) {
            auto walked = DocumentFiles::walk(name, settings.excluded);
            if (const QString* problem = std::get_if<QString>(&walked))
                return *problem;
            const auto& found = std::get<DocumentFiles::WalkedFiles>(walked);
            warnings += found.warnings;
            if (found.files.isEmpty())
                warnings << name + QStringLiteral(": no HTML, Markdown or sitemap file in the folder");
            const QString root = settings.rootDir.isEmpty() ? name : settings.rootDir;
            for (const QString& file : found.files)
                inputs.push_back({file, DocumentKinds::ofFileName(file), root, {}});
            continue;
        }
        // A document is read when its turn comes, and one that cannot be is
        // a message there, the others still checked, whether it was named or
        // found in a folder.
        const DocumentKind kind = settings.kind.value_or(name == u"-" ? DocumentKind::List : DocumentKinds::ofFileName(name));
        inputs.push_back({name, kind, here, {}});
    }
    return inputs;
}

namespace {
// The links read, or why not, after the document's name.
std::variant<DocumentLinks, QString> named(const Documents::Input& document, std::variant<DocumentLinks, QString> read)
{
    if (const QString* problem = std::get_if<QString>(&read))
        return document.name + QStringLiteral(": ") + *problem;
    return read;
}
}  // namespace

std::variant<DocumentLinks, QString> Documents::read(const Input& document)
{
    const auto bytes = document.name == u"-" ? readStandardInput() : DocumentFiles::readBounded(document.name);
    if (const QString* problem = std::get_if<QString>(&bytes))
        return *problem;
    const QByteArray& text = std::get<QByteArray>(bytes);
    switch (document.kind) {
    case DocumentKind::Html:
        return HtmlLinks::read(text, DocumentKinds::isXhtml(document.name));
    case DocumentKind::Markdown:
        return named(document, MarkdownLinks::readBounded(text));
    case DocumentKind::Sitemap:
        return named(document, SitemapLinks::read(text));
    case DocumentKind::List:
        break;
    }
    return document.name + QStringLiteral(": not a document");
}

Documents::Documents(Settings settings) : m_settings(std::move(settings))
{
    m_local.offerReadsTo([this](const QString& reading, DocumentKind kind, DocumentLinks& read) {
        keep(reading, kind, read);
    });
}

void Documents::expect(std::vector<Input>& inputs)
{
    for (Input& input : inputs) {
        if (!readAsTarget(input))
            continue;
        if (const QString canonical = QFileInfo(input.name).canonicalFilePath(); !canonical.isEmpty()) {
            input.keptKey = keptKey(LocalTargets::readingKey(canonical, input.name), input.kind);
            ++m_toCome[input.keptKey];
        }
    }
}

qint64 Documents::keptSize(const DocumentLinks& links)
{
    // A string's characters, its header and what malloc adds around them.
    constexpr qint64 Allocation = 32;
    const auto sizeOf = [](const QString& text) { return text.isEmpty() ? 0 : Allocation + 2 * text.size(); };
    // The entry's own: its key (a path) and the hash's node, about.
    qint64 size = static_cast<qint64>(sizeof(Kept)) + 4 * Allocation + 2 * 100;
    // The links of one element share its name's text.
    const QChar* element = nullptr;
    for (const FoundLink& link : links.links) {
        size += static_cast<qint64>(sizeof(FoundLink)) + sizeOf(link.address);
        if (link.element.constData() != std::exchange(element, link.element.constData()))
            size += sizeOf(link.element);
    }
    for (const QString& anchor : links.anchors)
        size += static_cast<qint64>(sizeof(QString)) + sizeOf(anchor);
    return size + sizeOf(links.base);
}

void Documents::keep(const QString& reading, DocumentKind kind, DocumentLinks& read)
{
    QString key = keptKey(reading, kind);
    if (!m_toCome.contains(key))
        return;
    const qint64 size = keptSize(read);
    if (m_keptSize + size > m_settings.mostKeptBytes)
        return;
    m_keptSize += size;
    m_kept.emplace(std::move(key), Kept{std::move(read), size});
}

std::optional<DocumentLinks> Documents::takeKept(const Input& document)
{
    const QString& key = document.keptKey;
    if (m_toCome.isEmpty() || key.isEmpty())
        return std::nullopt;
    const auto turns = m_toCome.find(key);
    if (turns == m_toCome.end())
        return std::nullopt;
    if (--*turns == 0)
        m_toCome.erase(turns);
    const auto kept = m_kept.find(key);
    if (kept == m_kept.end())
        return std::nullopt;
    m_keptSize -= kept->size;
    std::optional<DocumentLinks> links(std::move(kept->links));
    m_kept.erase(kept);
    return links;
}

LinkTarget::Document Documents::placeOf(const Input& document, const QString& base) const
{
    LinkTarget::Document place;
    place.path = document.name == u"-" ? QStringLiteral("./-") : document.name;
    place.rootDir = document.rootDir;
    place.base = base;
    if (!m_settings.base.isEmpty()) {
        // The document's own address: the tree's, and its path below the root.
        QByteArray tree = m_settings.base;
        if (!tree.endsWith('/'))
            tree += '/';
        // Both made absolute: QDir leaves a relative path as it is, and
        // "docs/a.md" under the root "docs" would keep its folder's name.
        // Standard input has no name of its own there: the tree's address.
        const QString below = document.name == u"-" ? QString()
                                                    : QDir(QFileInfo(document.rootDir).absoluteFilePath())
                                                          .relativeFilePath(QFileInfo(place.path).absoluteFilePath());
        place.address = tree + QUrl::toPercentEncoding(below, "/");
    }
    return place;
}

std::optional<QString> Documents::forEachLink(const Input& document, const std::function<bool(const Item&)>& item)
{
    std::optional<DocumentLinks> kept = takeKept(document);
    auto read = kept ? std::variant<DocumentLinks, QString>(std::move(*kept)) : Documents::read(document);
    if (const QString* problem = std::get_if<QString>(&read))
        return *problem;
    const DocumentLinks& links = std::get<DocumentLinks>(read);
    ++m_filesByKind[static_cast<size_t>(document.kind)];
    for (const QString& note : links.notes)
        m_notes << document.name + QStringLiteral(": ") + note;
    // Standard input is no file to look in again, nor a page of the site
    // (--base): its own fragments are checked against the anchors read now.
    const bool standardInput = document.name == u"-";
    const QSet<QString> ownAnchors = standardInput ? QSet<QString>(links.anchors.begin(), links.anchors.end())
                                                   : QSet<QString>();
    const bool markdown = document.kind == DocumentKind::Markdown;
    if (!standardInput && m_settings.checkOnDisk)
        m_local.remember(document.name, links.anchors);
    const LinkTarget::Document place = placeOf(document, links.base);
    for (const FoundLink& link : links.links) {
        const LinkTarget target = LinkTarget::of(link.address, place, link.html);
        Item next{{}, std::nullopt, {document.name, link.place, link.address, link.element, link.nofollow}};
        switch (target.kind) {
        case LinkTarget::Kind::Remote:
            next.address = target.address;
            // "#x" under --base; a <base> sends it to another page.
            // The fragment as the resolved address has it: read as a browser
            // reads the link (a tab or line break in it dropped).
            if (standardInput && link.address.startsWith(u'#') && links.base.isEmpty()) {
                const QByteArray fragment = target.address.mid(target.address.indexOf('#') + 1);
                next.decided = onDisk(ownFragment(ownAnchors, textOfUtf8(fragment), markdown));
            }
            break;
        case LinkTarget::Kind::Local:
            next.address = target.printedAddress();
            if (standardInput && target.path == place.path)
                next.decided = onDisk(ownFragment(ownAnchors, target.fragment, markdown));
            else if (m_settings.checkOnDisk)
                next.decided = onDisk(m_local.check(target.path, target.fragment));
            break;
        case LinkTarget::Kind::Skipped:
            next.address = link.address.toUtf8();
            next.decided = neverAsked(target.reason);
            break;
        }
        ++m_linksByTarget[static_cast<size_t>(target.kind)];
        if (!item(next))
            break;
    }
    return std::nullopt;
}

QString Documents::summary() const
{
    qint64 files = 0;
    QStringList kinds;
    for (const DocumentKind kind : {DocumentKind::Html, DocumentKind::Markdown, DocumentKind::Sitemap}) {
        if (const qint64 read = m_filesByKind[static_cast<size_t>(kind)]) {
            files += read;
            kinds << QStringLiteral("%1 %2").arg(read).arg(DocumentKinds::inputFormatNames().at(static_cast<qsizetype>(kind)));
        }
    }
    if (files == 0)
        return {};
    const auto& [remote, local, skipped] = m_linksByTarget;
    return QStringLiteral("%1 %2 read (%3), %4 %5: %6 to ask, %7 on disk, %8 skipped")
        .arg(files)
        .arg(files == 1 ? u"file" : u"files")
        .arg(kinds.join(u", "))
        .arg(remote + local + skipped)
        .arg(remote + local + skipped == 1 ? u"link" : u"links")
        .arg(remote)
        .arg(local)
        .arg(skipped);
}
