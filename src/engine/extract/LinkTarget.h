#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Where a link found in a document leads, by the document's place: an
// address to ask, a file or folder on disk, or a kind of address that is
// never asked. Pure: nothing is read from disk or the network.
struct LinkTarget {
    enum class Kind {
        Remote,   // ask `address`
        Local,    // look for `path` on disk, and `fragment` in it
        Skipped,  // mailto:, tel:, javascript:, data:, a file on another host: `reason` says which
    };
    Kind kind = Kind::Remote;
    QByteArray address;  // Remote: as curl is given it, resolved (a bad one is the queue's to judge)
    QString path;        // Local: the file or folder, cleaned, without query or fragment
    QString fragment;    // Local: after '#', as written (see fragmentForms); empty when none
    QString scheme;      // Skipped: lower case, without the colon
    QString reason;      // Skipped: why it is not asked, for the report

    // How a document's relative links resolve.
    struct Document {
        QString path;        // the document's own file, as the run names it
        QString rootDir;     // where "/x" starts on disk
        QByteArray address;  // its published address (--base), empty for a tree checked on disk
        QString base;        // its <base href> as written, empty when none (read as HTML)
    };
    // `html`: the link was written in HTML (a page, or HTML inside
    // Markdown), and is read as a browser reads an address.
    static LinkTarget of(const QString& written, const Document& document, bool html = false);

    // A Local target as the report and the result files print it: the path
    // with each character that would read back as another ("%", "#", "?",
    // a backslash, a control character, U+FEFF, a ":" before the first "/",
    // a space at either end, which a page's link would lose) as
    // "%XX", then "#" and the fragment as written, what is not ASCII or is
    // reserved escaped but a "%" kept; so that reading it back as a link
    // names the same file (and a line break in a name cannot split a
    // result file's line), and the same fragment unless one holding a "%"
    // had something escaped.
    QByteArray printedAddress() const;

    // Each valid "%XX" as the byte it stands for, the bytes then read as
    // UTF-8; anything else, a "%" without two hex digits too, as written.
    static QString percentDecoded(QStringView text);
    // The names a browser looks for a fragment by, in its order: as
    // written, then percent-decoded (one name when both are the same).
    static QStringList fragmentForms(const QString& fragment);
};
