#pragma once

#include <QByteArrayView>

#include <gumbo.h>

#include <functional>

// HTML's tokens as gumbo 0.10.1's tokenizer cuts them, without building
// anything: what a pass over a whole document needs to foresee what gumbo
// will do with it. Which elements hold raw text and whether CDATA sections
// are open is the tree builder's to say, so the reader of the tokens says it
// (rawText, foreign).
struct HtmlToken {
    enum Kind {
        Text,
        StartTag,
        EndTag,
        Other,  // a comment, a doctype, a CDATA section
        End,
    };
    Kind kind = End;
    // The bytes of the token in the text.
    qsizetype begin = 0;
    qsizetype end = 0;
    // Of a tag: its name as written, gumbo's enum for it (every name gumbo
    // does not know is GUMBO_TAG_UNKNOWN, one tag to it), and what follows
    // the name up to the closing '>'.
    QByteArrayView name;
    GumboTag tag = GUMBO_TAG_UNKNOWN;
    QByteArrayView attributes;
    // The name gumbo takes from a tag's text where foreign elements meet
    // their end tags: a start tag's up to white space or '/', all of an end
    // tag's between "</" and '>'. None, when a "</>" ran before the tag: gumbo
    // counts its text into the tag's then.
    QByteArrayView foreignName;
    bool hasForeignName = true;
    bool selfClosing = false;
    bool hasAttributes = false;
    // Of a doctype, and whether it is <!DOCTYPE html> and nothing more.
    bool doctype = false;
    bool plainDoctype = false;
};

class HtmlTokenizer {
public:
    explicit HtmlTokenizer(QByteArrayView text) : text(text) {}

    HtmlToken next();

    enum class Raw { RcData, RawText, Script, Plaintext };
    // After the start tag just read, the text up to its end tag is raw.
    void rawText(GumboTag tag, Raw kind);
    // Whether the current node is a foreign (SVG or MathML) element: only
    // then does <![CDATA[ open a section.
    void foreign(bool is) { currentNodeForeign = is; }

    QByteArrayView textOf(const HtmlToken& token) const { return text.sliced(token.begin, token.end - token.begin); }

private:
    QByteArrayView text;
    qsizetype at = 0;
    bool currentNodeForeign = false;
    // The end of the raw text being read, once known.
    qsizetype rawEnd = -1;

    HtmlToken textUpTo(qsizetype end);
    HtmlToken tag(qsizetype from, bool start);
    HtmlToken skipTo(qsizetype from, QByteArrayView closing);
    qsizetype commentEnd(qsizetype from) const;
    qsizetype endTagAt(qsizetype from, QByteArrayView name) const;
    qsizetype scriptEnd(qsizetype from) const;
};

namespace HtmlTokens {
// Each attribute of a tag's attribute text, its name as written and its
// value without quotes, in order, until `each` returns false.
void forEachAttribute(QByteArrayView attributes, const std::function<bool(QByteArrayView name, QByteArrayView value)>& each);
inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; }
// Names as HTML compares them: ASCII letters in either case, nothing else folded.
bool sameName(QByteArrayView a, QByteArrayView b);
inline bool isWhitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
// Of text at an '&': how many bytes the character reference there takes (1
// when it is none, the '&' standing for itself) and whether what it stands
// for is white space, which only &Tab;, &NewLine; and numeric ones can be.
struct Reference {
    qsizetype length = 1;
    bool whitespace = false;
    bool linefeed = false;  // &NewLine;, &#10;, &#xA;
};
Reference referenceAt(QByteArrayView text, qsizetype at);
}
