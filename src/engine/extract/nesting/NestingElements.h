#pragma once

#include "engine/extract/HtmlTokens.h"

#include <QByteArrayView>

#include <gumbo.h>

#include <array>
#include <cstdint>
#include <initializer_list>

// Internal to HtmlNesting: the elements gumbo's tree builder keeps, the
// flags its rules look up by tag, and the tokens it takes.
namespace HtmlNesting::Model {
enum Flag : uint8_t {
    Special = 1,           // stops an end tag's walk ("special" elements)
    ScopeBarrier = 2,      // bounds "in scope"
    ImpliedEnd = 4,        // closed by generate_implied_end_tags
    Formatting = 8,        // goes on the list of active formatting elements
    ClosesParagraph = 16,  // the block start tags that close an open <p>
    Breakout = 32,         // leaves SVG and MathML
};

struct Flags {
    std::array<uint8_t, GUMBO_TAG_LAST + 1> html{};
    Flags();
};
// Filled once, before any page is read.
extern const Flags flags;

struct Element {
    GumboTag tag = GUMBO_TAG_UNKNOWN;
    GumboNamespaceEnum ns = GUMBO_NAMESPACE_HTML;
    int id = -1;          // -1 for a marker on the list of active formatting elements
    QByteArrayView name;  // as gumbo takes it where foreign end tags are matched
    bool named = false;
    // Of a formatting element: its tag as written, and a hash of its
    // attributes as gumbo compares them, made when first compared.
    QByteArrayView written;
    QByteArrayView writtenAttributes;
    bool hasAttributes = false;
    bool hashed = false;
    size_t attributes = 0;
    qsizetype bytes = 0;    // what a clone copies
    bool htmlAnnotation = false;
};

enum class Mode {
    Initial,
    BeforeHtml,
    BeforeHead,
    InHead,
    InHeadNoscript,
    AfterHead,
    InBody,
    Text,
    InTable,
    InTableText,
    InCaption,
    InColumnGroup,
    InTableBody,
    InRow,
    InCell,
    InSelect,
    InSelectInTable,
    InTemplate,
    AfterBody,
    AfterAfterBody,
};

enum class Quirks { Yes, No, Unknown };

// One token as the tree builder takes it; text comes one kind of character
// at a time.
struct Token {
    enum Kind { StartTag, EndTag, Whitespace, Character, Nul, Comment, Doctype, Eof } kind;
    const HtmlToken* tag = nullptr;
    qsizetype characters = 1;  // of a run of text, for the steps it costs
    GumboTag tagName() const { return tag->tag; }
    bool isStart(GumboTag t) const { return kind == StartTag && tag->tag == t; }
    bool isEnd(GumboTag t) const { return kind == EndTag && tag->tag == t; }
    bool isStartIn(std::initializer_list<GumboTag> tags) const { return kind == StartTag && in(tags); }
    bool isEndIn(std::initializer_list<GumboTag> tags) const { return kind == EndTag && in(tags); }
    bool in(std::initializer_list<GumboTag> tags) const
    {
        for (GumboTag t : tags) {
            if (tag->tag == t)
                return true;
        }
        return false;
    }
    bool isText() const { return kind == Whitespace || kind == Character || kind == Nul; }
};

inline bool isHtml(const Element& e, GumboTag tag) { return e.ns == GUMBO_NAMESPACE_HTML && e.tag == tag; }
inline bool hasFlag(const Element& e, Flag flag) { return e.ns == GUMBO_NAMESPACE_HTML && (flags.html[e.tag] & flag); }
inline bool isMathmlTextIntegrationPoint(const Element& e)
{
    return e.ns == GUMBO_NAMESPACE_MATHML
        && (e.tag == GUMBO_TAG_MI || e.tag == GUMBO_TAG_MO || e.tag == GUMBO_TAG_MN || e.tag == GUMBO_TAG_MS
            || e.tag == GUMBO_TAG_MTEXT);
}
inline bool isHtmlIntegrationPoint(const Element& e)
{
    return (e.ns == GUMBO_NAMESPACE_SVG
            && (e.tag == GUMBO_TAG_FOREIGNOBJECT || e.tag == GUMBO_TAG_DESC || e.tag == GUMBO_TAG_TITLE))
        || (e.ns == GUMBO_NAMESPACE_MATHML && e.tag == GUMBO_TAG_ANNOTATION_XML && e.htmlAnnotation);
}
inline bool isSpecial(const Element& e)
{
    if (e.ns == GUMBO_NAMESPACE_MATHML)
        return isMathmlTextIntegrationPoint(e) || e.tag == GUMBO_TAG_ANNOTATION_XML;
    if (e.ns == GUMBO_NAMESPACE_SVG)
        return e.tag == GUMBO_TAG_FOREIGNOBJECT || e.tag == GUMBO_TAG_DESC;
    return flags.html[e.tag] & Special;
}
inline bool isScopeBarrier(const Element& e)
{
    if (e.ns == GUMBO_NAMESPACE_MATHML)
        return isMathmlTextIntegrationPoint(e) || e.tag == GUMBO_TAG_ANNOTATION_XML;
    if (e.ns == GUMBO_NAMESPACE_SVG)
        return e.tag == GUMBO_TAG_FOREIGNOBJECT || e.tag == GUMBO_TAG_DESC || e.tag == GUMBO_TAG_TITLE;
    return flags.html[e.tag] & ScopeBarrier;
}
inline bool isHeading(const Element& e)
{
    return e.ns == GUMBO_NAMESPACE_HTML && e.tag >= GUMBO_TAG_H1 && e.tag <= GUMBO_TAG_H6;
}

// The first value of an attribute, if the tag has it; `found` says whether.
QByteArrayView attributeValue(const HtmlToken& tag, QByteArrayView name, bool& found);
// A formatting element's attributes as gumbo compares them, as one hash.
size_t attributesOf(const HtmlToken& tag, QByteArrayView text);
}  // namespace HtmlNesting::Model
