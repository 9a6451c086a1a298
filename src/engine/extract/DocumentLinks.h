#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Where something stands in a document: 1-based line and column, the column
// counted in characters (code points) with a tab counting one, so that an
// editor's "go to line:column" lands on it.
struct TextPlace {
    int line = 1;
    int column = 1;
    friend bool operator==(const TextPlace&, const TextPlace&) = default;
};

// A link as a document holds it.
struct FoundLink {
    // The address as written, its character references decoded and the
    // white space around it dropped; not resolved against anything.
    QString address;
    // Of the address's first character as written (for a Markdown reference
    // link, of the link where it is used).
    TextPlace place;
    // What holds it, for --dump and the reader: "a href", "img src",
    // "img srcset", "meta refresh", "link", "image", "autolink", "loc"...
    QString element;
    // rel=nofollow on it: noted, still checked.
    bool nofollow = false;
    // Written in HTML (a page's, or HTML inside Markdown): its address is
    // read as a browser reads one, where Markdown's is read as written.
    bool html = false;
};

// What one document gives: its links in document order, the fragment names
// it defines (ids, <a name>, heading anchors) and, for HTML, its <base href>.
struct DocumentLinks {
    std::vector<FoundLink> links;
    QStringList anchors;
    // The first <base href> as written; empty when there is none.
    QString base;
    // What could not be read as it should, for the user to hear of.
    QStringList notes;
};
