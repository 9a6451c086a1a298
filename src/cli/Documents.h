#pragma once

#include "cli/Outcome.h"
#include "engine/extract/DocumentKind.h"
#include "engine/extract/DocumentLinks.h"
#include "engine/extract/LinkTarget.h"
#include "engine/extract/LocalTargets.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

// Where a link of a document stands, for the report.
struct LinkSource {
    QString file;  // as the run names it: the name given, or the folder given and the path below it
    TextPlace place;
    QString written;  // the address as the document writes it
    QString element;
    bool nofollow = false;  // rel=nofollow: shown, still checked
    // "docs/a.md:12:7", as editors and compilers point at a place; the file
    // alone for a list's line, which has no place of its own.
    // Put together, not with arg(): a "%1" in a file's name would take the
    // line's number.
    QString where() const
    {
        if (place.line <= 0)
            return file;
        return file + u':' + QString::number(place.line) + u':' + QString::number(place.column);
    }
};

// The documents a run reads beside its lists (HTML, Markdown, sitemaps):
// which of the names given are documents, the folders walked for them, and
// each document's links as the items the queue is handed, where each one
// leads decided by the document's place.
class Documents {
public:
    // What the documents read early, as links' targets, may hold for their
    // own turn (as estimated by keptSize()): past it, one is read again.
    // Some 8,000 pages of 50 links each: a site of 10,000 whose pages link
    // to others at random has up to 6,500 read early and still to come.
    static constexpr qint64 MostKeptBytes = 64 << 20;

    struct Settings {
        std::optional<DocumentKind> kind;  // every file named, and standard input, read as this kind (not those found in a folder)
        QString rootDir;                   // where "/x" starts; empty: the folder given, else the current one
        QByteArray base;                   // the address the tree is published at; empty: checked on disk
        QStringList excluded;              // files and folders a walk leaves out
        bool checkOnDisk = true;  // false: local links are placed, not looked for
        qint64 mostKeptBytes = MostKeptBytes;
    };
    // One input of the run, in the order given.
    struct Input {
        QString name;  // "-": standard input
        DocumentKind kind = DocumentKind::List;
        QString rootDir;  // a document's, where its root-relative links start
        // Set by expect(): where the document is kept for its turn, looked
        // up once (a canonical path is a walk of the disk). Empty: never
        // kept (not read as a target, or not there).
        QString keptKey;
    };
    // The names given, folders walked in place, each with its kind; or why
    // one of them cannot be read. What a walk passed over goes to `warnings`.
    static std::variant<std::vector<Input>, QString> inputsOf(const QStringList& names, const Settings& settings,
                                                              QStringList& warnings);

    // What the run does with one link.
    struct Item {
        QByteArray address;              // what the report names: the address to ask, or the file
        std::optional<Outcome> decided;  // judged without a request: a local file, a kind never asked
        LinkSource source;
    };

    explicit Documents(Settings settings);
    Documents(const Documents&) = delete;  // its targets hand what they read to this one
    Documents& operator=(const Documents&) = delete;
    // The inputs the run goes through, in order: a document among them read
    // before its turn, as a link's target, is kept for its turn (within the
    // settings' mostKeptBytes) rather than read and parsed again.
    void expect(std::vector<Input>& inputs);
    // Reads one document and hands on each link, in document order, while
    // `item` returns true. Nothing, or why the document could not be read.
    std::optional<QString> forEachLink(const Input& document, const std::function<bool(const Item&)>& item);
    // What the documents read so far could not be read as they should
    // ("a.html: gumbo stopped ..."), each once; their links still handed on.
    QStringList takeNotes() { return std::exchange(m_notes, {}); }
    // What a document holds: its links and anchors, or why it cannot be read.
    static std::variant<DocumentLinks, QString> read(const Input& document);
    // What holding a document's links costs, about: its strings' characters
    // and the allocations around them.
    static qint64 keptSize(const DocumentLinks& links);
    // "2 files read (1 html, 1 markdown), 30 links: 20 to ask, 8 on disk, 2 skipped";
    // empty when no document was read.
    QString summary() const;

private:
    LinkTarget::Document placeOf(const Input& document, const QString& base) const;
    void keep(const QString& reading, DocumentKind kind, DocumentLinks& read);
    // The document's links when they were kept for its turn; the turn taken.
    std::optional<DocumentLinks> takeKept(const Input& document);

    Settings m_settings;
    LocalTargets m_local;
    std::array<qint64, 4> m_filesByKind{};
    std::array<qint64, 3> m_linksByTarget{};
    // By the kind a file is read as and its canonical path: one named, or
    // found twice, has as many turns.
    QHash<QString, int> m_toCome;
    struct Kept {
        DocumentLinks links;
        qint64 size = 0;
    };
    QHash<QString, Kept> m_kept;
    qint64 m_keptSize = 0;
    QStringList m_notes;
};
