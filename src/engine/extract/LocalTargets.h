#pragma once

#include "engine/extract/DocumentKind.h"
#include "engine/extract/DocumentLinks.h"
#include "engine/verdict/AnswerClass.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// Whether the files that local links name are there, and the fragments in
// them: a folder counts when it holds an index file, a fragment of an HTML
// or Markdown file when the file defines that anchor. Each target is read
// once for its anchors, however many links name it.
class LocalTargets {
public:
    // A folder's page, in the order a server or a forge shows one.
    static constexpr QStringView IndexFiles[] = {u"index.html", u"index.htm", u"README.md", u"index.md"};

    struct Check {
        AnswerClass answerClass = AnswerClass::Ok;  // Ok, NotFound or NoFragment
        QString reason;
    };
    Check check(const QString& path, const QString& fragment);
    // Whether the anchors hold a fragment by one of its forms (as
    // LinkTarget::fragmentForms gives them); a Markdown file's in any case.
    static bool defines(const QSet<QString>& anchors, const QStringList& forms, bool markdown);
    // The anchors of a document the run has read already.
    void remember(const QString& path, const QStringList& anchors);
    // A file as read by one of its names: its canonical path, and whether
    // that name is an XHTML file's (whose XML declaration names its
    // encoding), for a symbolic link may give it another.
    static QString readingKey(const QString& canonical, const QString& name);
    // Handed what a target read for its anchors held (by its reading key
    // and the kind it was read as) before it is let go, to take if its
    // reader has a use for it: a run that is to read the same file later.
    using Offer = std::function<void(const QString& reading, DocumentKind kind, DocumentLinks& read)>;
    void offerReadsTo(Offer offer) { m_offer = std::move(offer); }

private:
    // What a path names, looked up once for the run however many links
    // name it: the disk is asked for each target once, not for each link.
    struct Place {
        enum class Kind { File, Missing, FolderWithoutIndex };
        Kind kind = Kind::File;
        QString file;       // File: the file to look in, a folder's index file for a folder
        QString canonical;  // File: that file's canonical path
    };
    const Place& placeOf(const QString& path);
    // The anchors the place's file defines, or null when it is no document
    // that defines any (or cannot be read): its fragments are then not checked.
    const QSet<QString>* anchorsOf(const Place& place);

    QString m_currentDir;
    QHash<QString, Place> m_places;           // by the path made absolute, cleaned
    QHash<QString, QSet<QString>> m_anchors;  // by the file's reading key
    QSet<QString> m_unreadable;
    Offer m_offer;
};
