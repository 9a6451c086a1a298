#pragma once

#include "engine/extract/DocumentLinks.h"
#include "engine/extract/GumboArena.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <gumbo.h>

#include <cstddef>
#include <optional>

// Gumbo's parse and its attributes' values traced back to the source text
// they were written as: gumbo gives each value decoded, and the place of the
// whole attribute, but not where a character inside a value stands.

// A parse with gumbo, tabs counting one column, its memory an arena dropped
// whole with this: gumbo_destroy_output recurses once per level of nesting
// and overflows the stack on some 300,000 nested elements.
class GumboParse {
public:
    explicit GumboParse(QByteArrayView utf8);
    GumboParse(const GumboParse&) = delete;
    GumboParse& operator=(const GumboParse&) = delete;

    // None when gumbo stopped on one of its assertions (Debian's build keeps
    // them): what would abort the whole run costs only this parse.
    const GumboOutput* output() const { return parsed; }
    // What the assertion said, when it stopped.
    const QString& stop() const { return stopped; }
    // How many parses stopped so far, on any thread.
    static qint64 stops();

private:
    GumboArena memory;
    const GumboOutput* parsed = nullptr;
    QString stopped;

    static void* allocate(void* userdata, size_t size);
    static void deallocate(void* userdata, void* pointer);
};

// UTF-8 as text, a U+FEFF at its start kept: QString::fromUtf8 drops it
// as a byte order mark, and inside a document it is a character like any
// other (a browser asks for an address that starts with one as %EF%BB%BF).
QString textOfUtf8(QByteArrayView utf8);

// HTML's ASCII white space, which an address drops around it.
inline bool isHtmlSpace(QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r'; }

// Character references in attribute values, as gumbo reads them. Whether a
// name is one of HTML's 2,231 and how many characters it stands for is
// gumbo's table to know, so each name met is asked of gumbo once.
class CharacterReferences {
public:
    // A character reference as written in an attribute value and how many
    // characters it gives there.
    struct Reference {
        qsizetype written = 0;  // bytes, all ASCII
        int characters = 0;     // code points it gives
    };
    // The reference that starts at `start` (an '&'), if it is one.
    std::optional<Reference> startingAt(QByteArrayView written, qsizetype start);

private:
    QHash<QByteArray, int> charactersOf;
};

// The attribute's name as a browser reads it. After a repeated attribute
// without a value gumbo keeps the repeat's name in front of the next one's
// ("<img s s rc=x>" has "src"): the name is the last of what gumbo read as
// it, in lower case.
QByteArray nameOf(const GumboAttribute& attribute);

// An attribute's value as the source holds it, without its quotes, and
// where its first character stands.
struct WrittenValue {
    QByteArrayView text;
    TextPlace first;
};
WrittenValue writtenValueOf(const GumboAttribute& attribute);

// Walks an attribute's value as written beside the value gumbo decoded, to
// tell where a character of the decoded value stands in the source. Gumbo
// changes a value only thus: a character reference becomes what it stands
// for, CR LF and CR become LF, and a NUL, a control character or a
// noncharacter becomes U+FFFD; every other character stays one character.
class ValueWalker {
public:
    ValueWalker(const WrittenValue& written, const QString& decoded, CharacterReferences& references)
        : written(written.text), place(written.first), decoded(decoded), references(references)
    {
    }

    // Of the decoded value's character at `index`: ask in increasing order.
    TextPlace placeOf(qsizetype index);
    // The decoded value with the controls and noncharacters gumbo made
    // U+FFFD as they were written, for HTML keeps them (and a browser asks
    // for "%01", not "%EF%BF%BD"); a NUL stays U+FFFD, as in HTML. Of a
    // walker not yet asked.
    QString withCharactersKept();

private:
    QByteArrayView written;
    qsizetype writtenAt = 0;
    TextPlace place;
    const QString& decoded;
    qsizetype decodedAt = 0;
    CharacterReferences& references;

    // One character as written, or one reference: true for a character
    // that stands for itself.
    bool step();
    void skipDecoded(int characters);
};
