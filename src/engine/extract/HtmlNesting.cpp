#include "engine/extract/HtmlNesting.h"

#include "engine/extract/HtmlAttributeText.h"
#include "engine/extract/HtmlTokens.h"

#include <QHash>
#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <vector>

// Each step below is gumbo 0.10.1's tree builder as it acts on its stack of
// open elements, its list of active formatting elements, its insertion mode
// and its tokenizer's state, in the same order, its quirks kept; what
// changes only the tree it builds is left out. The pass walks the stack as
// gumbo does, so it costs what gumbo would, up to the limits, and no more.
// A construct whose outcome hangs on more than this follows (a <frameset>,
// an <isindex>, a <p> open at a <table> under a doctype other than
// <!DOCTYPE html>, an attribute value with a character reference where
// gumbo reads the value) ends the pass as unaffordable too: the caller then
// reads the page without a tree, which such pages lose little by.
namespace {
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
    Flags()
    {
        for (GumboTag tag :
             {GUMBO_TAG_ADDRESS,    GUMBO_TAG_APPLET,   GUMBO_TAG_AREA,    GUMBO_TAG_ARTICLE,    GUMBO_TAG_ASIDE,
              GUMBO_TAG_BASE,       GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_BODY,
              GUMBO_TAG_BR,         GUMBO_TAG_BUTTON,   GUMBO_TAG_CAPTION, GUMBO_TAG_CENTER,     GUMBO_TAG_COL,
              GUMBO_TAG_COLGROUP,   GUMBO_TAG_MENUITEM, GUMBO_TAG_DD,      GUMBO_TAG_DETAILS,    GUMBO_TAG_DIR,
              GUMBO_TAG_DIV,        GUMBO_TAG_DL,       GUMBO_TAG_DT,      GUMBO_TAG_EMBED,      GUMBO_TAG_FIELDSET,
              GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE,   GUMBO_TAG_FOOTER,  GUMBO_TAG_FORM,       GUMBO_TAG_FRAME,
              GUMBO_TAG_FRAMESET,   GUMBO_TAG_H1,       GUMBO_TAG_H2,      GUMBO_TAG_H3,         GUMBO_TAG_H4,
              GUMBO_TAG_H5,         GUMBO_TAG_H6,       GUMBO_TAG_HEAD,    GUMBO_TAG_HEADER,     GUMBO_TAG_HGROUP,
              GUMBO_TAG_HR,         GUMBO_TAG_HTML,     GUMBO_TAG_IFRAME,  GUMBO_TAG_IMG,        GUMBO_TAG_INPUT,
              GUMBO_TAG_ISINDEX,    GUMBO_TAG_LI,       GUMBO_TAG_LINK,    GUMBO_TAG_LISTING,    GUMBO_TAG_MARQUEE,
              GUMBO_TAG_MENU,       GUMBO_TAG_META,     GUMBO_TAG_NAV,     GUMBO_TAG_NOEMBED,    GUMBO_TAG_NOFRAMES,
              GUMBO_TAG_NOSCRIPT,   GUMBO_TAG_OBJECT,   GUMBO_TAG_OL,      GUMBO_TAG_P,          GUMBO_TAG_PARAM,
              GUMBO_TAG_PLAINTEXT,  GUMBO_TAG_PRE,      GUMBO_TAG_SCRIPT,  GUMBO_TAG_SECTION,    GUMBO_TAG_SELECT,
              GUMBO_TAG_STYLE,      GUMBO_TAG_SUMMARY,  GUMBO_TAG_TABLE,   GUMBO_TAG_TBODY,      GUMBO_TAG_TD,
              GUMBO_TAG_TEMPLATE,   GUMBO_TAG_TEXTAREA, GUMBO_TAG_TFOOT,   GUMBO_TAG_TH,         GUMBO_TAG_THEAD,
              GUMBO_TAG_TITLE,      GUMBO_TAG_TR,       GUMBO_TAG_UL,      GUMBO_TAG_WBR,        GUMBO_TAG_XMP})
            html[tag] |= Special;
        for (GumboTag tag : {GUMBO_TAG_APPLET, GUMBO_TAG_CAPTION, GUMBO_TAG_HTML, GUMBO_TAG_TABLE, GUMBO_TAG_TD,
                             GUMBO_TAG_TH, GUMBO_TAG_MARQUEE, GUMBO_TAG_OBJECT, GUMBO_TAG_TEMPLATE})
            html[tag] |= ScopeBarrier;
        for (GumboTag tag : {GUMBO_TAG_DD, GUMBO_TAG_DT, GUMBO_TAG_LI, GUMBO_TAG_OPTION, GUMBO_TAG_OPTGROUP,
                             GUMBO_TAG_P, GUMBO_TAG_RP, GUMBO_TAG_RB, GUMBO_TAG_RT, GUMBO_TAG_RTC})
            html[tag] |= ImpliedEnd;
        for (GumboTag tag : {GUMBO_TAG_A, GUMBO_TAG_B, GUMBO_TAG_BIG, GUMBO_TAG_CODE, GUMBO_TAG_EM, GUMBO_TAG_FONT,
                             GUMBO_TAG_I, GUMBO_TAG_NOBR, GUMBO_TAG_S, GUMBO_TAG_SMALL, GUMBO_TAG_STRIKE,
                             GUMBO_TAG_STRONG, GUMBO_TAG_TT, GUMBO_TAG_U})
            html[tag] |= Formatting;
        for (GumboTag tag :
             {GUMBO_TAG_ADDRESS,    GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE,  GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_CENTER,
              GUMBO_TAG_DETAILS,    GUMBO_TAG_DIR,     GUMBO_TAG_DIV,    GUMBO_TAG_DL,         GUMBO_TAG_FIELDSET,
              GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE,  GUMBO_TAG_FOOTER, GUMBO_TAG_HEADER,     GUMBO_TAG_HGROUP,
              GUMBO_TAG_MENU,       GUMBO_TAG_MAIN,    GUMBO_TAG_NAV,    GUMBO_TAG_OL,         GUMBO_TAG_P,
              GUMBO_TAG_SECTION,    GUMBO_TAG_SUMMARY, GUMBO_TAG_UL})
            html[tag] |= ClosesParagraph;
        for (GumboTag tag :
             {GUMBO_TAG_B,      GUMBO_TAG_BIG,    GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_BODY,  GUMBO_TAG_BR,
              GUMBO_TAG_CENTER, GUMBO_TAG_CODE,   GUMBO_TAG_DD,         GUMBO_TAG_DIV,   GUMBO_TAG_DL,
              GUMBO_TAG_DT,     GUMBO_TAG_EM,     GUMBO_TAG_EMBED,      GUMBO_TAG_H1,    GUMBO_TAG_H2,
              GUMBO_TAG_H3,     GUMBO_TAG_H4,     GUMBO_TAG_H5,         GUMBO_TAG_H6,    GUMBO_TAG_HEAD,
              GUMBO_TAG_HR,     GUMBO_TAG_I,      GUMBO_TAG_IMG,        GUMBO_TAG_LI,    GUMBO_TAG_LISTING,
              GUMBO_TAG_MENU,   GUMBO_TAG_META,   GUMBO_TAG_NOBR,       GUMBO_TAG_OL,    GUMBO_TAG_P,
              GUMBO_TAG_PRE,    GUMBO_TAG_RUBY,   GUMBO_TAG_S,          GUMBO_TAG_SMALL, GUMBO_TAG_SPAN,
              GUMBO_TAG_STRONG, GUMBO_TAG_STRIKE, GUMBO_TAG_SUB,        GUMBO_TAG_SUP,   GUMBO_TAG_TABLE,
              GUMBO_TAG_TT,     GUMBO_TAG_U,      GUMBO_TAG_UL,         GUMBO_TAG_VAR})
            html[tag] |= Breakout;
    }
};
const Flags flags;

struct Element {
    GumboTag tag = GUMBO_TAG_UNKNOWN;
    GumboNamespaceEnum ns = GUMBO_NAMESPACE_HTML;
    int id = -1;          // -1 for a marker on the list of active formatting elements
    QByteArrayView name;  // as gumbo takes it where foreign end tags are matched
    bool named = false;
    size_t attributes = 0;  // a hash of the attributes as written
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

bool isHtml(const Element& e, GumboTag tag) { return e.ns == GUMBO_NAMESPACE_HTML && e.tag == tag; }
bool hasFlag(const Element& e, Flag flag) { return e.ns == GUMBO_NAMESPACE_HTML && (flags.html[e.tag] & flag); }
bool isMathmlTextIntegrationPoint(const Element& e)
{
    return e.ns == GUMBO_NAMESPACE_MATHML
        && (e.tag == GUMBO_TAG_MI || e.tag == GUMBO_TAG_MO || e.tag == GUMBO_TAG_MN || e.tag == GUMBO_TAG_MS
            || e.tag == GUMBO_TAG_MTEXT);
}
bool isHtmlIntegrationPoint(const Element& e)
{
    return (e.ns == GUMBO_NAMESPACE_SVG
            && (e.tag == GUMBO_TAG_FOREIGNOBJECT || e.tag == GUMBO_TAG_DESC || e.tag == GUMBO_TAG_TITLE))
        || (e.ns == GUMBO_NAMESPACE_MATHML && e.tag == GUMBO_TAG_ANNOTATION_XML && e.htmlAnnotation);
}
bool isSpecial(const Element& e)
{
    if (e.ns == GUMBO_NAMESPACE_MATHML)
        return isMathmlTextIntegrationPoint(e) || e.tag == GUMBO_TAG_ANNOTATION_XML;
    if (e.ns == GUMBO_NAMESPACE_SVG)
        return e.tag == GUMBO_TAG_FOREIGNOBJECT || e.tag == GUMBO_TAG_DESC;
    return flags.html[e.tag] & Special;
}
bool isScopeBarrier(const Element& e)
{
    if (e.ns == GUMBO_NAMESPACE_MATHML)
        return isMathmlTextIntegrationPoint(e) || e.tag == GUMBO_TAG_ANNOTATION_XML;
    if (e.ns == GUMBO_NAMESPACE_SVG)
        return e.tag == GUMBO_TAG_FOREIGNOBJECT || e.tag == GUMBO_TAG_DESC || e.tag == GUMBO_TAG_TITLE;
    return flags.html[e.tag] & ScopeBarrier;
}
bool isHeading(const Element& e)
{
    return e.ns == GUMBO_NAMESPACE_HTML && e.tag >= GUMBO_TAG_H1 && e.tag <= GUMBO_TAG_H6;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; }
bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// The first value of an attribute, if the tag has it; nullopt-like through
// `found`.
QByteArrayView attributeValue(const HtmlToken& tag, QByteArrayView name, bool& found)
{
    QByteArrayView result;
    found = false;
    HtmlTokens::forEachAttribute(tag.attributes, [&](QByteArrayView n, QByteArrayView v) {
        if (!sameName(n, name))
            return true;
        found = true;
        result = v;
        return false;
    });
    return result;
}

// One attribute as gumbo compares it: its name in lower case and its value.
size_t attributeHash(QByteArrayView name, QByteArrayView value, bool lowerName)
{
    QVarLengthArray<char, 256> text(name.size() + 1 + value.size());
    for (qsizetype i = 0; i < name.size(); ++i)
        text[i] = lowerName ? lower(name[i]) : name[i];
    text[name.size()] = '=';
    std::copy(value.begin(), value.end(), text.begin() + name.size() + 1);
    return qHash(QByteArrayView(text.data(), text.size()));
}

// A formatting element's attributes as gumbo compares them when it keeps
// no more than three identical ones: names in lower case, the first of a
// name only, values decoded, in any order (so their hashes are summed).
// Values with what gumbo decodes (a character reference, a CR, a NUL) are
// gumbo's to read.
size_t attributesOf(const HtmlToken& tag, QByteArrayView text)
{
    if (!tag.hasAttributes)
        return 0;
    size_t hash = 0;
    if (tag.attributes.contains('&') || tag.attributes.contains('\r') || tag.attributes.contains('\0')) {
        const GumboParse parse(text);
        std::vector<const GumboNode*> pending{parse.output()->root};
        while (!pending.empty()) {
            const GumboNode* node = pending.back();
            pending.pop_back();
            if (node->type != GUMBO_NODE_ELEMENT)
                continue;
            const GumboVector& children = node->v.element.children;
            for (unsigned int i = 0; i < children.length; ++i)
                pending.push_back(static_cast<const GumboNode*>(children.data[i]));
            if (node->v.element.tag != tag.tag)
                continue;
            const GumboVector& list = node->v.element.attributes;
            for (unsigned int i = 0; i < list.length; ++i) {
                const auto* attribute = static_cast<const GumboAttribute*>(list.data[i]);
                hash += attributeHash(attribute->name, attribute->value, false);
            }
            break;
        }
        return hash;
    }
    // Without allocating: a tag has few attributes, a page many tags.
    QVarLengthArray<QByteArrayView, 8> names;
    HtmlTokens::forEachAttribute(tag.attributes, [&](QByteArrayView name, QByteArrayView value) {
        if (std::none_of(names.begin(), names.end(), [&](QByteArrayView seen) { return sameName(seen, name); })) {
            names.push_back(name);
            hash += attributeHash(name, value, true);
        }
        return true;
    });
    return hash;
}

class Pass {
public:
    explicit Pass(QByteArrayView text)
        : tokenizer(text), stepBudget(64 * text.size() + (qsizetype(1) << 23)),
          elementBudget(std::min(text.size() / 2 + 65536, HtmlNesting::MostElements)),
          cloneByteBudget(2 * text.size() + (qsizetype(1) << 20))
    {
    }

    HtmlNesting::Cost run()
    {
        while (!stopped) {
            tokenizer.foreign(!stack.empty() && stack.back().ns != GUMBO_NAMESPACE_HTML);
            const HtmlToken token = tokenizer.next();
            if (token.kind == HtmlToken::End) {
                take({Token::Eof});
                break;
            }
            if (token.kind == HtmlToken::Text)
                takeText(token);
            else if (token.kind == HtmlToken::Other)
                take({token.doctype ? Token::Doctype : Token::Comment, &token});
            else
                take({token.kind == HtmlToken::StartTag ? Token::StartTag : Token::EndTag, &token});
            if (cost.steps > stepBudget || cost.elements > elementBudget || cloneBytes > cloneByteBudget)
                stop();
        }
        cost.affordable = !stopped;
        return cost;
    }

private:
    HtmlTokenizer tokenizer;
    const qsizetype stepBudget;
    const qsizetype elementBudget;
    const qsizetype cloneByteBudget;
    qsizetype cloneBytes = 0;
    HtmlNesting::Cost cost;
    bool stopped = false;

    std::vector<Element> stack;
    std::vector<Element> formatting;  // the list of active formatting elements
    std::vector<char> open;           // by element id
    Mode mode = Mode::Initial;
    Mode original = Mode::Initial;  // to go back to after raw text and table text
    std::vector<Mode> templateModes;
    Quirks quirks = Quirks::Yes;
    int headElement = -1;
    int formElement = -1;
    bool tableTextHasCharacters = false;
    bool plaintext = false;
    bool reprocess = false;

    void stop() { stopped = true; }

    // --- The stack and the list, as gumbo keeps them.

    Element make(GumboTag tag, GumboNamespaceEnum ns, const HtmlToken* from)
    {
        Element e;
        e.tag = tag;
        e.ns = ns;
        e.id = int(open.size());
        open.push_back(0);
        if (from) {
            e.name = from->foreignName;
            e.named = from->hasForeignName;
            if (ns == GUMBO_NAMESPACE_HTML && (flags.html[tag] & Formatting))
                e.attributes = attributesOf(*from, tokenizer.textOf(*from));
            e.bytes = from->end - from->begin;
        }
        return e;
    }

    void push(const Element& e)
    {
        stack.push_back(e);
        open[size_t(e.id)] = 1;
        ++cost.elements;
        cost.deepest = std::max(cost.deepest, int(stack.size()));
        if (stack.size() > size_t(HtmlNesting::DepthLimit))
            stop();
    }
    Element insert(const Token& t, GumboNamespaceEnum ns = GUMBO_NAMESPACE_HTML)
    {
        Element e = make(t.tagName(), ns, t.tag);
        push(e);
        return e;
    }
    void insertImplied(GumboTag tag) { push(make(tag, GUMBO_NAMESPACE_HTML, nullptr)); }
    Element clone(const Element& e)
    {
        Element copy = e;
        copy.id = int(open.size());
        open.push_back(0);
        cloneBytes += e.bytes;
        return copy;
    }
    Element pop()
    {
        if (stack.empty())
            return {};
        const Element e = stack.back();
        stack.pop_back();
        open[size_t(e.id)] = 0;
        return e;
    }
    const Element& current() const { return stack.back(); }
    bool currentIs(GumboTag tag) const { return !stack.empty() && isHtml(current(), tag); }

    qsizetype stackIndexOf(int id)
    {
        for (size_t i = 0; i < stack.size(); ++i) {
            ++cost.steps;
            if (stack[i].id == id)
                return qsizetype(i);
        }
        return -1;
    }
    qsizetype formattingIndexOf(int id)
    {
        for (size_t i = 0; i < formatting.size(); ++i) {
            ++cost.steps;
            if (formatting[i].id == id)
                return qsizetype(i);
        }
        return -1;
    }
    void removeFromStack(int id)
    {
        const qsizetype at = stackIndexOf(id);
        if (at >= 0) {
            stack.erase(stack.begin() + at);
            open[size_t(id)] = 0;
        }
    }

    template <typename Target, typename Barrier>
    bool inScope(Target target, Barrier barrier)
    {
        for (size_t i = stack.size(); i-- > 0;) {
            ++cost.steps;
            if (target(stack[i]))
                return true;
            if (barrier(stack[i]))
                return false;
        }
        return false;
    }
    bool inScope(GumboTag tag)
    {
        return inScope([tag](const Element& e) { return isHtml(e, tag); }, isScopeBarrier);
    }
    bool inButtonScope(GumboTag tag)
    {
        return inScope([tag](const Element& e) { return isHtml(e, tag); },
                       [](const Element& e) { return isScopeBarrier(e) || isHtml(e, GUMBO_TAG_BUTTON); });
    }
    bool inListScope(GumboTag tag)
    {
        return inScope([tag](const Element& e) { return isHtml(e, tag); },
                       [](const Element& e) {
            return isScopeBarrier(e) || isHtml(e, GUMBO_TAG_OL) || isHtml(e, GUMBO_TAG_UL);
        });
    }
    bool inTableScope(GumboTag tag)
    {
        return inScope([tag](const Element& e) { return isHtml(e, tag); },
                       [](const Element& e) {
            return isHtml(e, GUMBO_TAG_HTML) || isHtml(e, GUMBO_TAG_TABLE) || isHtml(e, GUMBO_TAG_TEMPLATE);
        });
    }
    bool hasOpen(GumboTag tag)
    {
        return inScope([tag](const Element& e) { return isHtml(e, tag); },
                       [](const Element& e) { return isHtml(e, GUMBO_TAG_HTML); });
    }
    bool inSelectScope(GumboTag tag)
    {
        return inScope([tag](const Element& e) { return isHtml(e, tag); },
                       [](const Element& e) { return !isHtml(e, GUMBO_TAG_OPTGROUP) && !isHtml(e, GUMBO_TAG_OPTION); });
    }

    void generateImpliedEndTags(GumboTag except = GUMBO_TAG_LAST)
    {
        while (!stack.empty() && hasFlag(current(), ImpliedEnd) && !isHtml(current(), except)) {
            ++cost.steps;
            pop();
        }
    }
    void generateAllImpliedEndTagsThoroughly()
    {
        for (;;) {
            if (stack.empty())
                return;
            const Element& e = current();
            const bool implied = e.ns == GUMBO_NAMESPACE_HTML
                              && (e.tag == GUMBO_TAG_CAPTION || e.tag == GUMBO_TAG_COLGROUP || e.tag == GUMBO_TAG_DD
                                  || e.tag == GUMBO_TAG_DT || e.tag == GUMBO_TAG_LI || e.tag == GUMBO_TAG_OPTION
                                  || e.tag == GUMBO_TAG_OPTGROUP || e.tag == GUMBO_TAG_P || e.tag == GUMBO_TAG_RP
                                  || e.tag == GUMBO_TAG_RT || e.tag == GUMBO_TAG_RTC || e.tag == GUMBO_TAG_TBODY
                                  || e.tag == GUMBO_TAG_TD || e.tag == GUMBO_TAG_TFOOT || e.tag == GUMBO_TAG_TH
                                  || e.tag == GUMBO_TAG_HEAD || e.tag == GUMBO_TAG_TR);
            if (!implied)
                return;
            ++cost.steps;
            pop();
        }
    }
    void implicitlyClose(GumboTag tag)
    {
        generateImpliedEndTags(tag);
        while (!stack.empty() && !isHtml(current(), tag)) {
            ++cost.steps;
            pop();
        }
        pop();
    }
    void closeParagraphInButtonScope()
    {
        if (inButtonScope(GUMBO_TAG_P))
            implicitlyClose(GUMBO_TAG_P);
    }
    void closeListItem(bool li)
    {
        for (size_t i = stack.size(); i-- > 0;) {
            ++cost.steps;
            const Element& e = stack[i];
            if (li ? isHtml(e, GUMBO_TAG_LI) : (isHtml(e, GUMBO_TAG_DD) || isHtml(e, GUMBO_TAG_DT))) {
                implicitlyClose(e.tag);
                return;
            }
            if (isSpecial(e) && !isHtml(e, GUMBO_TAG_ADDRESS) && !isHtml(e, GUMBO_TAG_DIV) && !isHtml(e, GUMBO_TAG_P))
                return;
        }
    }

    void reconstruct(qsizetype characters = 1)
    {
        if (formatting.empty())
            return;
        size_t i = formatting.size() - 1;
        if (formatting[i].id < 0)
            return;
        // gumbo looks each one up from the bottom of the stack.
        cost.steps += qsizetype(stack.size()) * characters;
        if (open[size_t(formatting[i].id)])
            return;
        for (;;) {
            if (i == 0) {
                --i;
                break;
            }
            --i;
            cost.steps += qsizetype(stack.size());
            if (formatting[i].id < 0 || open[size_t(formatting[i].id)])
                break;
        }
        for (++i; i < formatting.size() && !stopped; ++i) {
            const Element copy = clone(formatting[i]);
            push(copy);
            formatting[i] = copy;
        }
    }
    void addFormatting(const Element& e)
    {
        int identical = 0;
        size_t earliest = formatting.size();
        for (size_t i = formatting.size(); i-- > 0;) {
            ++cost.steps;
            const Element& f = formatting[i];
            if (f.id < 0)
                break;
            if (f.tag == e.tag && f.ns == e.ns && f.attributes == e.attributes) {
                ++identical;
                earliest = i;
            }
        }
        if (identical >= 3)
            formatting.erase(formatting.begin() + qsizetype(earliest));
        formatting.push_back(e);
    }
    void addMarker() { formatting.push_back(Element{}); }
    void clearFormattingToMarker()
    {
        while (!formatting.empty()) {
            ++cost.steps;
            const bool marker = formatting.back().id < 0;
            formatting.pop_back();
            if (marker)
                return;
        }
    }
    qsizetype lastAnchor()
    {
        for (size_t i = formatting.size(); i-- > 0;) {
            ++cost.steps;
            if (formatting[i].id < 0)
                return -1;
            if (isHtml(formatting[i], GUMBO_TAG_A))
                return qsizetype(i);
        }
        return -1;
    }

    // gumbo's adoption agency, eight rounds at most.
    void adoptionAgency(GumboTag subject)
    {
        if (!stack.empty() && isHtml(current(), subject) && formattingIndexOf(current().id) < 0) {
            pop();
            return;
        }
        for (int round = 0; round < 8 && !stopped; ++round) {
            qsizetype at = -1;
            for (size_t j = formatting.size(); j-- > 0;) {
                ++cost.steps;
                if (formatting[j].id < 0)
                    return;
                if (isHtml(formatting[j], subject)) {
                    at = qsizetype(j);
                    break;
                }
            }
            if (at < 0)
                return;
            const Element formattingElement = formatting[size_t(at)];
            const qsizetype inStack = stackIndexOf(formattingElement.id);
            if (inStack < 0) {
                formatting.erase(formatting.begin() + at);
                return;
            }
            if (!inScope(formattingElement.tag))
                return;
            qsizetype furthest = -1;
            for (size_t j = size_t(inStack); j < stack.size(); ++j) {
                ++cost.steps;
                if (isSpecial(stack[j])) {
                    furthest = qsizetype(j);
                    break;
                }
            }
            if (furthest < 0) {
                while (!stack.empty() && current().id != formattingElement.id) {
                    ++cost.steps;
                    pop();
                }
                pop();
                formatting.erase(formatting.begin() + formattingIndexOf(formattingElement.id));
                return;
            }
            const int furthestBlock = stack[size_t(furthest)].id;
            qsizetype bookmark = formattingIndexOf(formattingElement.id) + 1;
            int node = furthestBlock;
            int lastNode = furthestBlock;
            qsizetype saved = furthest;
            for (int j = 0;;) {
                ++j;
                qsizetype nodeIndex = stackIndexOf(node);
                if (nodeIndex < 0)
                    nodeIndex = saved;
                saved = --nodeIndex;
                const Element n = stack[size_t(nodeIndex)];
                node = n.id;
                if (n.id == formattingElement.id)
                    break;
                const qsizetype inList = formattingIndexOf(n.id);
                if (j > 3 && inList >= 0) {
                    formatting.erase(formatting.begin() + inList);
                    if (inList < bookmark)
                        --bookmark;
                    continue;
                }
                if (inList < 0) {
                    stack.erase(stack.begin() + nodeIndex);
                    open[size_t(n.id)] = 0;
                    continue;
                }
                const Element copy = clone(n);
                ++cost.elements;
                formatting[size_t(inList)] = copy;
                stack[size_t(nodeIndex)] = copy;
                open[size_t(n.id)] = 0;
                open[size_t(copy.id)] = 1;
                if (lastNode == furthestBlock)
                    bookmark = inList + 1;
                node = lastNode = copy.id;
            }
            const Element replacement = clone(formattingElement);
            ++cost.elements;
            const qsizetype old = formattingIndexOf(formattingElement.id);
            if (old < bookmark)
                --bookmark;
            formatting.erase(formatting.begin() + old);
            formatting.insert(formatting.begin() + bookmark, replacement);
            removeFromStack(formattingElement.id);
            const qsizetype below = stackIndexOf(furthestBlock);
            stack.insert(stack.begin() + below + 1, replacement);
            open[size_t(replacement.id)] = 1;
        }
    }

    // gumbo looks at tags only here, whatever their namespace.
    void resetMode()
    {
        for (size_t i = stack.size(); i-- > 0;) {
            ++cost.steps;
            const bool last = i == 0;
            switch (stack[i].tag) {
            case GUMBO_TAG_SELECT:
                mode = Mode::InSelect;
                for (size_t j = i; !last && j > 0; --j) {
                    ++cost.steps;
                    if (isHtml(stack[j], GUMBO_TAG_TEMPLATE))
                        break;
                    if (isHtml(stack[j], GUMBO_TAG_TABLE)) {
                        mode = Mode::InSelectInTable;
                        break;
                    }
                }
                return;
            case GUMBO_TAG_TD:
            case GUMBO_TAG_TH:
                if (!last) {
                    mode = Mode::InCell;
                    return;
                }
                break;
            case GUMBO_TAG_TR:
                mode = Mode::InRow;
                return;
            case GUMBO_TAG_TBODY:
            case GUMBO_TAG_THEAD:
            case GUMBO_TAG_TFOOT:
                mode = Mode::InTableBody;
                return;
            case GUMBO_TAG_CAPTION:
                mode = Mode::InCaption;
                return;
            case GUMBO_TAG_COLGROUP:
                mode = Mode::InColumnGroup;
                return;
            case GUMBO_TAG_TABLE:
                mode = Mode::InTable;
                return;
            case GUMBO_TAG_TEMPLATE:
                if (!templateModes.empty()) {
                    mode = templateModes.back();
                    return;
                }
                break;
            case GUMBO_TAG_HEAD:
                if (!last) {
                    mode = Mode::InHead;
                    return;
                }
                break;
            case GUMBO_TAG_BODY:
                mode = Mode::InBody;
                return;
            case GUMBO_TAG_FRAMESET:
                stop();
                return;
            case GUMBO_TAG_HTML:
                mode = headElement >= 0 ? Mode::AfterHead : Mode::BeforeHead;
                return;
            default:
                break;
            }
            if (last) {
                mode = Mode::InBody;
                return;
            }
        }
    }

    void rawText(const Token& t, HtmlTokenizer::Raw kind)
    {
        insert(t);
        tokenizer.rawText(t.tagName(), kind);
        original = mode;
        mode = Mode::Text;
    }

    // --- Tokens.

    // Text as gumbo's tokens, a run of one kind at a time: white space,
    // other characters, NUL. A character reference counts as what it
    // stands for, except in raw text, where nothing of the text counts.
    void takeText(const HtmlToken& text)
    {
        const QByteArrayView bytes = tokenizer.textOf(text);
        const bool references = mode != Mode::Text && !plaintext;
        qsizetype at = 0;
        const auto kindAt = [&](qsizetype p, qsizetype& next) {
            next = p + 1;
            const char c = bytes[p];
            if (c == '&' && references) {
                const HtmlTokens::Reference reference = HtmlTokens::referenceAt(bytes, p);
                next = p + reference.length;
                return reference.whitespace ? Token::Whitespace : Token::Character;
            }
            return HtmlTokens::isWhitespace(c) ? Token::Whitespace : c == '\0' ? Token::Nul : Token::Character;
        };
        while (at < bytes.size() && !stopped) {
            qsizetype end = 0;
            const Token::Kind kind = kindAt(at, end);
            qsizetype characters = 1;
            qsizetype next = 0;
            while (end < bytes.size() && kindAt(end, next) == kind) {
                end = next;
                ++characters;
            }
            Token t{kind};
            t.characters = characters;
            take(t);
            at = end;
        }
    }

    void take(const Token& t)
    {
        do {
            reprocess = false;
            dispatch(t);
        } while (reprocess && !stopped);
    }

    void dispatch(const Token& t)
    {
        if (stack.empty() || t.kind == Token::Eof) {
            inMode(t);
            return;
        }
        const Element& node = current();
        const bool html =
            node.ns == GUMBO_NAMESPACE_HTML
            || (isMathmlTextIntegrationPoint(node)
                && (t.isText()
                    || (t.kind == Token::StartTag && t.tagName() != GUMBO_TAG_MGLYPH && t.tagName() != GUMBO_TAG_MALIGNMARK)))
            || (node.ns == GUMBO_NAMESPACE_MATHML && node.tag == GUMBO_TAG_ANNOTATION_XML && t.isStart(GUMBO_TAG_SVG))
            || (isHtmlIntegrationPoint(node) && (t.kind == Token::StartTag || t.isText()));
        if (html)
            inMode(t);
        else
            inForeignContent(t);
    }

    void inMode(const Token& t)
    {
        switch (mode) {
        case Mode::Initial:
            return initial(t);
        case Mode::BeforeHtml:
            return beforeHtml(t);
        case Mode::BeforeHead:
            return beforeHead(t);
        case Mode::InHead:
            return inHead(t);
        case Mode::InHeadNoscript:
            return inHeadNoscript(t);
        case Mode::AfterHead:
            return afterHead(t);
        case Mode::InBody:
            return inBody(t);
        case Mode::Text:
            return inText(t);
        case Mode::InTable:
            return inTable(t);
        case Mode::InTableText:
            return inTableText(t);
        case Mode::InCaption:
            return inCaption(t);
        case Mode::InColumnGroup:
            return inColumnGroup(t);
        case Mode::InTableBody:
            return inTableBody(t);
        case Mode::InRow:
            return inRow(t);
        case Mode::InCell:
            return inCell(t);
        case Mode::InSelect:
            return inSelect(t);
        case Mode::InSelectInTable:
            return inSelectInTable(t);
        case Mode::InTemplate:
            return inTemplate(t);
        case Mode::AfterBody:
            return afterBody(t);
        case Mode::AfterAfterBody:
            return afterAfterBody(t);
        }
    }

    static bool endTagOtherThan(const Token& t, std::initializer_list<GumboTag> tags)
    {
        return t.kind == Token::EndTag && !t.in(tags);
    }

    void initial(const Token& t)
    {
        if (t.kind == Token::Whitespace || t.kind == Token::Comment)
            return;
        if (t.kind == Token::Doctype) {
            quirks = t.tag->plainDoctype ? Quirks::No : Quirks::Unknown;
            mode = Mode::BeforeHtml;
            return;
        }
        quirks = Quirks::Yes;
        mode = Mode::BeforeHtml;
        reprocess = true;
    }

    void beforeHtml(const Token& t)
    {
        if (t.kind == Token::Doctype || t.kind == Token::Comment || t.kind == Token::Whitespace)
            return;
        if (t.isStart(GUMBO_TAG_HTML)) {
            insert(t);
            mode = Mode::BeforeHead;
            return;
        }
        if (endTagOtherThan(t, {GUMBO_TAG_HEAD, GUMBO_TAG_BODY, GUMBO_TAG_HTML, GUMBO_TAG_BR}))
            return;
        insertImplied(GUMBO_TAG_HTML);
        mode = Mode::BeforeHead;
        reprocess = true;
    }

    void beforeHead(const Token& t)
    {
        if (t.kind == Token::Doctype || t.kind == Token::Comment || t.kind == Token::Whitespace)
            return;
        if (t.isStart(GUMBO_TAG_HEAD)) {
            headElement = insert(t).id;
            mode = Mode::InHead;
            return;
        }
        if (endTagOtherThan(t, {GUMBO_TAG_HEAD, GUMBO_TAG_BODY, GUMBO_TAG_HTML, GUMBO_TAG_BR}))
            return;
        insertImplied(GUMBO_TAG_HEAD);
        headElement = current().id;
        mode = Mode::InHead;
        reprocess = true;
    }

    void inHead(const Token& t)
    {
        if (t.kind == Token::Whitespace || t.kind == Token::Doctype || t.kind == Token::Comment)
            return;
        if (t.isStart(GUMBO_TAG_HTML))
            return inBody(t);
        if (t.isStartIn({GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_MENUITEM, GUMBO_TAG_LINK,
                         GUMBO_TAG_META})) {
            insert(t);
            pop();
            return;
        }
        if (t.isStart(GUMBO_TAG_TITLE))
            return rawText(t, HtmlTokenizer::Raw::RcData);
        if (t.isStartIn({GUMBO_TAG_NOFRAMES, GUMBO_TAG_STYLE}))
            return rawText(t, HtmlTokenizer::Raw::RawText);
        if (t.isStart(GUMBO_TAG_NOSCRIPT)) {
            insert(t);
            mode = Mode::InHeadNoscript;
            return;
        }
        if (t.isStart(GUMBO_TAG_SCRIPT))
            return rawText(t, HtmlTokenizer::Raw::Script);
        if (t.isEnd(GUMBO_TAG_HEAD)) {
            pop();
            mode = Mode::AfterHead;
            return;
        }
        if (t.isEndIn({GUMBO_TAG_BODY, GUMBO_TAG_HTML, GUMBO_TAG_BR})) {
            pop();
            mode = Mode::AfterHead;
            reprocess = true;
            return;
        }
        if (t.isStart(GUMBO_TAG_TEMPLATE)) {
            insert(t);
            addMarker();
            mode = Mode::InTemplate;
            templateModes.push_back(Mode::InTemplate);
            return;
        }
        if (t.isEnd(GUMBO_TAG_TEMPLATE)) {
            if (!hasOpen(GUMBO_TAG_TEMPLATE))
                return;
            generateAllImpliedEndTagsThoroughly();
            while (!stack.empty() && !isHtml(pop(), GUMBO_TAG_TEMPLATE))
                ++cost.steps;
            clearFormattingToMarker();
            if (!templateModes.empty())
                templateModes.pop_back();
            resetMode();
            return;
        }
        if (t.isStart(GUMBO_TAG_HEAD) || t.kind == Token::EndTag)
            return;
        pop();
        mode = Mode::AfterHead;
        reprocess = true;
    }

    void inHeadNoscript(const Token& t)
    {
        if (t.kind == Token::Doctype)
            return;
        if (t.isStart(GUMBO_TAG_HTML))
            return inBody(t);
        if (t.isEnd(GUMBO_TAG_NOSCRIPT)) {
            pop();
            mode = Mode::InHead;
            return;
        }
        if (t.kind == Token::Whitespace || t.kind == Token::Comment
            || t.isStartIn({GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_LINK, GUMBO_TAG_META, GUMBO_TAG_NOFRAMES,
                            GUMBO_TAG_STYLE}))
            return inHead(t);
        if (t.isStartIn({GUMBO_TAG_HEAD, GUMBO_TAG_NOSCRIPT}) || endTagOtherThan(t, {GUMBO_TAG_BR}))
            return;
        pop();
        mode = Mode::InHead;
        reprocess = true;
    }

    void afterHead(const Token& t)
    {
        if (t.kind == Token::Whitespace || t.kind == Token::Doctype || t.kind == Token::Comment)
            return;
        if (t.isStart(GUMBO_TAG_HTML))
            return inBody(t);
        if (t.isStart(GUMBO_TAG_BODY)) {
            insert(t);
            mode = Mode::InBody;
            return;
        }
        if (t.isStart(GUMBO_TAG_FRAMESET))
            return stop();
        if (t.isStartIn({GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_LINK, GUMBO_TAG_META,
                         GUMBO_TAG_NOFRAMES, GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE, GUMBO_TAG_TEMPLATE, GUMBO_TAG_TITLE})) {
            Element head = make(GUMBO_TAG_HEAD, GUMBO_NAMESPACE_HTML, nullptr);
            head.id = headElement;
            stack.push_back(head);
            open[size_t(head.id)] = 1;
            inHead(t);
            removeFromStack(headElement);
            return;
        }
        if (t.isEnd(GUMBO_TAG_TEMPLATE))
            return inHead(t);
        if (t.isStart(GUMBO_TAG_HEAD) || endTagOtherThan(t, {GUMBO_TAG_BODY, GUMBO_TAG_HTML, GUMBO_TAG_BR}))
            return;
        insertImplied(GUMBO_TAG_BODY);
        mode = Mode::InBody;
        reprocess = true;
    }

    void inBody(const Token& t)
    {
        switch (t.kind) {
        case Token::Nul:
        case Token::Comment:
        case Token::Doctype:
            return;
        case Token::Eof:
            if (!templateModes.empty())
                inTemplate(t);
            return;
        case Token::Whitespace:
        case Token::Character:
            return reconstruct(t.characters);
        case Token::StartTag:
            return inBodyStart(t);
        case Token::EndTag:
            return inBodyEnd(t);
        }
    }

    void inBodyStart(const Token& t)
    {
        const GumboTag tag = t.tagName();
        if (tag == GUMBO_TAG_HTML || tag == GUMBO_TAG_BODY)
            return;
        if (t.in({GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_MENUITEM, GUMBO_TAG_LINK, GUMBO_TAG_META,
                  GUMBO_TAG_NOFRAMES, GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE, GUMBO_TAG_TEMPLATE, GUMBO_TAG_TITLE}))
            return inHead(t);
        if (tag == GUMBO_TAG_FRAMESET || tag == GUMBO_TAG_ISINDEX)
            return stop();
        if (flags.html[tag] & ClosesParagraph) {
            closeParagraphInButtonScope();
            insert(t);
            return;
        }
        switch (tag) {
        case GUMBO_TAG_H1:
        case GUMBO_TAG_H2:
        case GUMBO_TAG_H3:
        case GUMBO_TAG_H4:
        case GUMBO_TAG_H5:
        case GUMBO_TAG_H6:
            closeParagraphInButtonScope();
            if (!stack.empty() && isHeading(current()))
                pop();
            insert(t);
            return;
        case GUMBO_TAG_PRE:
        case GUMBO_TAG_LISTING:
            closeParagraphInButtonScope();
            insert(t);
            return;
        case GUMBO_TAG_FORM: {
            if (formElement >= 0 && !hasOpen(GUMBO_TAG_TEMPLATE))
                return;
            closeParagraphInButtonScope();
            const int form = insert(t).id;
            if (!hasOpen(GUMBO_TAG_TEMPLATE))
                formElement = form;
            return;
        }
        case GUMBO_TAG_LI:
        case GUMBO_TAG_DD:
        case GUMBO_TAG_DT:
            closeListItem(tag == GUMBO_TAG_LI);
            closeParagraphInButtonScope();
            insert(t);
            return;
        case GUMBO_TAG_PLAINTEXT:
            closeParagraphInButtonScope();
            insert(t);
            tokenizer.rawText(tag, HtmlTokenizer::Raw::Plaintext);
            plaintext = true;
            return;
        case GUMBO_TAG_BUTTON:
            if (inScope(GUMBO_TAG_BUTTON)) {
                implicitlyClose(GUMBO_TAG_BUTTON);
                reprocess = true;
                return;
            }
            reconstruct();
            insert(t);
            return;
        case GUMBO_TAG_A: {
            if (lastAnchor() >= 0) {
                adoptionAgency(GUMBO_TAG_A);
                const qsizetype left = lastAnchor();
                if (left >= 0) {
                    const int id = formatting[size_t(left)].id;
                    formatting.erase(formatting.begin() + left);
                    removeFromStack(id);
                }
            }
            reconstruct();
            addFormatting(insert(t));
            return;
        }
        case GUMBO_TAG_B:
        case GUMBO_TAG_BIG:
        case GUMBO_TAG_CODE:
        case GUMBO_TAG_EM:
        case GUMBO_TAG_FONT:
        case GUMBO_TAG_I:
        case GUMBO_TAG_S:
        case GUMBO_TAG_SMALL:
        case GUMBO_TAG_STRIKE:
        case GUMBO_TAG_STRONG:
        case GUMBO_TAG_TT:
        case GUMBO_TAG_U:
            reconstruct();
            addFormatting(insert(t));
            return;
        case GUMBO_TAG_NOBR:
            reconstruct();
            if (inScope(GUMBO_TAG_NOBR)) {
                adoptionAgency(GUMBO_TAG_NOBR);
                reconstruct();
            }
            addFormatting(insert(t));
            return;
        case GUMBO_TAG_APPLET:
        case GUMBO_TAG_MARQUEE:
        case GUMBO_TAG_OBJECT:
            reconstruct();
            insert(t);
            addMarker();
            return;
        case GUMBO_TAG_TABLE:
            if (quirks == Quirks::Unknown && inButtonScope(GUMBO_TAG_P))
                return stop();
            if (quirks == Quirks::No)
                closeParagraphInButtonScope();
            insert(t);
            mode = Mode::InTable;
            return;
        case GUMBO_TAG_AREA:
        case GUMBO_TAG_BR:
        case GUMBO_TAG_EMBED:
        case GUMBO_TAG_IMG:
        case GUMBO_TAG_IMAGE:
        case GUMBO_TAG_KEYGEN:
        case GUMBO_TAG_WBR:
        case GUMBO_TAG_INPUT:
            reconstruct();
            insert(t);
            pop();
            return;
        case GUMBO_TAG_PARAM:
        case GUMBO_TAG_SOURCE:
        case GUMBO_TAG_TRACK:
            insert(t);
            pop();
            return;
        case GUMBO_TAG_HR:
            closeParagraphInButtonScope();
            insert(t);
            pop();
            return;
        case GUMBO_TAG_TEXTAREA:
            return rawText(t, HtmlTokenizer::Raw::RcData);
        case GUMBO_TAG_XMP:
            closeParagraphInButtonScope();
            reconstruct();
            return rawText(t, HtmlTokenizer::Raw::RawText);
        case GUMBO_TAG_IFRAME:
        case GUMBO_TAG_NOEMBED:
            return rawText(t, HtmlTokenizer::Raw::RawText);
        case GUMBO_TAG_SELECT: {
            reconstruct();
            insert(t);
            const bool table = mode == Mode::InTable || mode == Mode::InCaption || mode == Mode::InTableBody
                            || mode == Mode::InRow || mode == Mode::InCell;
            mode = table ? Mode::InSelectInTable : Mode::InSelect;
            return;
        }
        case GUMBO_TAG_OPTION:
        case GUMBO_TAG_OPTGROUP:
            if (currentIs(GUMBO_TAG_OPTION))
                pop();
            reconstruct();
            insert(t);
            return;
        case GUMBO_TAG_RB:
        case GUMBO_TAG_RP:
        case GUMBO_TAG_RT:
        case GUMBO_TAG_RTC:
            if (inScope(GUMBO_TAG_RUBY))
                generateImpliedEndTags(tag == GUMBO_TAG_RT || tag == GUMBO_TAG_RP ? GUMBO_TAG_RTC : GUMBO_TAG_LAST);
            insert(t);
            return;
        case GUMBO_TAG_MATH:
        case GUMBO_TAG_SVG:
            reconstruct();
            insertForeign(t, tag == GUMBO_TAG_SVG ? GUMBO_NAMESPACE_SVG : GUMBO_NAMESPACE_MATHML);
            return;
        case GUMBO_TAG_CAPTION:
        case GUMBO_TAG_COL:
        case GUMBO_TAG_COLGROUP:
        case GUMBO_TAG_FRAME:
        case GUMBO_TAG_HEAD:
        case GUMBO_TAG_TBODY:
        case GUMBO_TAG_TD:
        case GUMBO_TAG_TFOOT:
        case GUMBO_TAG_TH:
        case GUMBO_TAG_THEAD:
        case GUMBO_TAG_TR:
            return;
        default:
            reconstruct();
            insert(t);
            return;
        }
    }

    void inBodyEnd(const Token& t)
    {
        const GumboTag tag = t.tagName();
        if (tag == GUMBO_TAG_TEMPLATE)
            return inHead(t);
        switch (tag) {
        case GUMBO_TAG_BODY:
        case GUMBO_TAG_HTML:
            if (!inScope(GUMBO_TAG_BODY))
                return;
            cost.steps += qsizetype(stack.size());
            mode = Mode::AfterBody;
            reprocess = tag == GUMBO_TAG_HTML;
            return;
        case GUMBO_TAG_ADDRESS:
        case GUMBO_TAG_ARTICLE:
        case GUMBO_TAG_ASIDE:
        case GUMBO_TAG_BLOCKQUOTE:
        case GUMBO_TAG_BUTTON:
        case GUMBO_TAG_CENTER:
        case GUMBO_TAG_DETAILS:
        case GUMBO_TAG_DIR:
        case GUMBO_TAG_DIV:
        case GUMBO_TAG_DL:
        case GUMBO_TAG_FIELDSET:
        case GUMBO_TAG_FIGCAPTION:
        case GUMBO_TAG_FIGURE:
        case GUMBO_TAG_FOOTER:
        case GUMBO_TAG_HEADER:
        case GUMBO_TAG_HGROUP:
        case GUMBO_TAG_LISTING:
        case GUMBO_TAG_MAIN:
        case GUMBO_TAG_MENU:
        case GUMBO_TAG_NAV:
        case GUMBO_TAG_OL:
        case GUMBO_TAG_PRE:
        case GUMBO_TAG_SECTION:
        case GUMBO_TAG_SUMMARY:
        case GUMBO_TAG_UL:
        case GUMBO_TAG_DD:
        case GUMBO_TAG_DT:
            if (inScope(tag))
                implicitlyClose(tag);
            return;
        case GUMBO_TAG_FORM: {
            if (hasOpen(GUMBO_TAG_TEMPLATE)) {
                if (!inScope(GUMBO_TAG_FORM))
                    return;
                generateImpliedEndTags();
                if (!currentIs(GUMBO_TAG_FORM))
                    return;
                while (!stack.empty() && !isHtml(pop(), GUMBO_TAG_FORM))
                    ++cost.steps;
                return;
            }
            const int form = formElement;
            formElement = -1;
            if (form < 0 || !inScope([form](const Element& e) { return e.id == form; }, isScopeBarrier))
                return;
            generateImpliedEndTags();
            removeFromStack(form);
            return;
        }
        case GUMBO_TAG_P:
            if (!inButtonScope(GUMBO_TAG_P)) {
                insertImplied(GUMBO_TAG_P);
                reprocess = true;
                return;
            }
            implicitlyClose(GUMBO_TAG_P);
            return;
        case GUMBO_TAG_LI:
            if (inListScope(GUMBO_TAG_LI))
                implicitlyClose(GUMBO_TAG_LI);
            return;
        case GUMBO_TAG_H1:
        case GUMBO_TAG_H2:
        case GUMBO_TAG_H3:
        case GUMBO_TAG_H4:
        case GUMBO_TAG_H5:
        case GUMBO_TAG_H6:
            if (!inScope(isHeading, isScopeBarrier))
                return;
            generateImpliedEndTags();
            while (!stack.empty() && !isHeading(pop()))
                ++cost.steps;
            return;
        case GUMBO_TAG_A:
        case GUMBO_TAG_B:
        case GUMBO_TAG_BIG:
        case GUMBO_TAG_CODE:
        case GUMBO_TAG_EM:
        case GUMBO_TAG_FONT:
        case GUMBO_TAG_I:
        case GUMBO_TAG_NOBR:
        case GUMBO_TAG_S:
        case GUMBO_TAG_SMALL:
        case GUMBO_TAG_STRIKE:
        case GUMBO_TAG_STRONG:
        case GUMBO_TAG_TT:
        case GUMBO_TAG_U:
            // gumbo ignores one with nothing to adopt, walking no further.
            adoptionAgency(tag);
            return;
        case GUMBO_TAG_APPLET:
        case GUMBO_TAG_MARQUEE:
        case GUMBO_TAG_OBJECT:
            if (!inTableScope(tag))
                return;
            implicitlyClose(tag);
            clearFormattingToMarker();
            return;
        case GUMBO_TAG_BR:
            reconstruct();
            insertImplied(GUMBO_TAG_BR);
            pop();
            return;
        default:
            for (size_t i = stack.size(); i-- > 0;) {
                ++cost.steps;
                if (isHtml(stack[i], tag)) {
                    const int id = stack[i].id;
                    generateImpliedEndTags(tag);
                    while (!stack.empty() && pop().id != id)
                        ++cost.steps;
                    return;
                }
                if (isSpecial(stack[i]))
                    return;
            }
        }
    }

    void insertForeign(const Token& t, GumboNamespaceEnum ns)
    {
        Element e = make(t.tagName(), ns, t.tag);
        if (ns == GUMBO_NAMESPACE_MATHML && e.tag == GUMBO_TAG_ANNOTATION_XML) {
            bool found = false;
            const QByteArrayView encoding = attributeValue(*t.tag, "encoding", found);
            if (found && encoding.contains('&'))
                return stop();
            e.htmlAnnotation = found && (sameName(encoding, "text/html") || sameName(encoding, "application/xhtml+xml"));
        }
        push(e);
        if (t.tag->selfClosing)
            pop();
    }

    void inForeignContent(const Token& t)
    {
        if (t.kind != Token::StartTag && t.kind != Token::EndTag)
            return;
        if (t.kind == Token::StartTag) {
            bool breakout = flags.html[t.tagName()] & Breakout;
            if (t.tagName() == GUMBO_TAG_FONT) {
                bool found = false;
                for (const char* name : {"color", "face", "size"}) {
                    attributeValue(*t.tag, name, found);
                    breakout = breakout || found;
                }
            }
            if (breakout) {
                do {
                    ++cost.steps;
                    pop();
                } while (!stack.empty() && !isMathmlTextIntegrationPoint(current())
                         && !isHtmlIntegrationPoint(current()) && current().ns != GUMBO_NAMESPACE_HTML);
                reprocess = true;
                return;
            }
            insertForeign(t, current().ns);
            return;
        }
        size_t i = stack.size() - 1;
        const Element* node = &stack[i];
        while (i > 0) {
            ++cost.steps;
            if (node->named && t.tag->hasForeignName && sameName(node->name, t.tag->foreignName)) {
                const int id = node->id;
                while (!stack.empty() && pop().id != id)
                    ++cost.steps;
                return;
            }
            node = &stack[--i];
            if (node->ns == GUMBO_NAMESPACE_HTML)
                break;
        }
        inMode(t);
    }

    void inText(const Token& t)
    {
        if (t.isText())
            return;
        pop();
        mode = original;
        reprocess = t.kind == Token::Eof;
    }

    void clearStackTo(std::initializer_list<GumboTag> tags)
    {
        for (;;) {
            if (stack.empty())
                return;
            for (GumboTag tag : tags) {
                if (isHtml(current(), tag))
                    return;
            }
            ++cost.steps;
            pop();
        }
    }
    void clearStackToTableContext() { clearStackTo({GUMBO_TAG_HTML, GUMBO_TAG_TABLE, GUMBO_TAG_TEMPLATE}); }
    void clearStackToTableBodyContext()
    {
        clearStackTo({GUMBO_TAG_HTML, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD, GUMBO_TAG_TEMPLATE});
    }
    void clearStackToRowContext() { clearStackTo({GUMBO_TAG_HTML, GUMBO_TAG_TR, GUMBO_TAG_TEMPLATE}); }

    bool closeTable()
    {
        if (!inTableScope(GUMBO_TAG_TABLE))
            return false;
        while (!stack.empty() && !isHtml(pop(), GUMBO_TAG_TABLE))
            ++cost.steps;
        resetMode();
        return true;
    }

    void inTable(const Token& t)
    {
        if (t.kind == Token::Character || t.kind == Token::Whitespace) {
            original = mode;
            tableTextHasCharacters = false;
            mode = Mode::InTableText;
            reprocess = true;
            return;
        }
        if (t.kind == Token::Doctype || t.kind == Token::Comment)
            return;
        if (t.isStart(GUMBO_TAG_CAPTION)) {
            clearStackToTableContext();
            addMarker();
            insert(t);
            mode = Mode::InCaption;
            return;
        }
        if (t.isStart(GUMBO_TAG_COLGROUP)) {
            clearStackToTableContext();
            insert(t);
            mode = Mode::InColumnGroup;
            return;
        }
        if (t.isStart(GUMBO_TAG_COL)) {
            clearStackToTableContext();
            insertImplied(GUMBO_TAG_COLGROUP);
            mode = Mode::InColumnGroup;
            reprocess = true;
            return;
        }
        if (t.isStartIn({GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD, GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_TR})) {
            clearStackToTableContext();
            mode = Mode::InTableBody;
            if (t.isStartIn({GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_TR})) {
                insertImplied(GUMBO_TAG_TBODY);
                reprocess = true;
            } else {
                insert(t);
            }
            return;
        }
        if (t.isStart(GUMBO_TAG_TABLE)) {
            reprocess = closeTable();
            return;
        }
        if (t.isEnd(GUMBO_TAG_TABLE)) {
            closeTable();
            return;
        }
        if (t.isEndIn({GUMBO_TAG_BODY, GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_HTML,
                       GUMBO_TAG_TBODY, GUMBO_TAG_TD, GUMBO_TAG_TFOOT, GUMBO_TAG_TH, GUMBO_TAG_THEAD, GUMBO_TAG_TR}))
            return;
        if (t.isStartIn({GUMBO_TAG_STYLE, GUMBO_TAG_SCRIPT, GUMBO_TAG_TEMPLATE}) || t.isEnd(GUMBO_TAG_TEMPLATE))
            return inHead(t);
        if (t.isStart(GUMBO_TAG_INPUT)) {
            bool found = false;
            const QByteArrayView type = attributeValue(*t.tag, "type", found);
            if (found && type.contains('&'))
                return stop();
            if (found && sameName(type, "hidden")) {
                insert(t);
                pop();
                return;
            }
        }
        if (t.isStart(GUMBO_TAG_FORM)) {
            if (formElement >= 0 || hasOpen(GUMBO_TAG_TEMPLATE))
                return;
            formElement = insert(t).id;
            pop();
            return;
        }
        inBody(t);
    }

    void inTableText(const Token& t)
    {
        if (t.kind == Token::Nul)
            return;
        if (t.kind == Token::Character || t.kind == Token::Whitespace) {
            tableTextHasCharacters = tableTextHasCharacters || t.kind == Token::Character;
            return;
        }
        if (tableTextHasCharacters)
            reconstruct();
        mode = original;
        reprocess = true;
    }

    void inCaption(const Token& t)
    {
        if (t.isEnd(GUMBO_TAG_CAPTION)) {
            if (!inTableScope(GUMBO_TAG_CAPTION))
                return;
            generateImpliedEndTags();
            while (!stack.empty() && !isHtml(pop(), GUMBO_TAG_CAPTION))
                ++cost.steps;
            clearFormattingToMarker();
            mode = Mode::InTable;
            return;
        }
        if (t.isStartIn({GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_TBODY, GUMBO_TAG_TD,
                         GUMBO_TAG_TFOOT, GUMBO_TAG_TH, GUMBO_TAG_THEAD, GUMBO_TAG_TR})
            || t.isEnd(GUMBO_TAG_TABLE)) {
            if (!inTableScope(GUMBO_TAG_CAPTION))
                return;
            while (!stack.empty() && !isHtml(pop(), GUMBO_TAG_CAPTION))
                ++cost.steps;
            clearFormattingToMarker();
            mode = Mode::InTable;
            reprocess = true;
            return;
        }
        if (t.isEndIn({GUMBO_TAG_BODY, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_HTML, GUMBO_TAG_TBODY, GUMBO_TAG_TD,
                       GUMBO_TAG_TFOOT, GUMBO_TAG_TH, GUMBO_TAG_THEAD, GUMBO_TAG_TR}))
            return;
        inBody(t);
    }

    void inColumnGroup(const Token& t)
    {
        if (t.kind == Token::Whitespace || t.kind == Token::Doctype || t.kind == Token::Comment)
            return;
        if (t.isStart(GUMBO_TAG_HTML))
            return inBody(t);
        if (t.isStart(GUMBO_TAG_COL)) {
            insert(t);
            pop();
            return;
        }
        if (t.isEnd(GUMBO_TAG_COLGROUP)) {
            if (!currentIs(GUMBO_TAG_COLGROUP))
                return;
            pop();
            mode = Mode::InTable;
            return;
        }
        if (t.isEnd(GUMBO_TAG_COL))
            return;
        if (t.isStart(GUMBO_TAG_TEMPLATE) || t.isEnd(GUMBO_TAG_TEMPLATE))
            return inHead(t);
        if (t.kind == Token::Eof)
            return inBody(t);
        if (!currentIs(GUMBO_TAG_COLGROUP))
            return;
        pop();
        mode = Mode::InTable;
        reprocess = true;
    }

    void inTableBody(const Token& t)
    {
        if (t.isStart(GUMBO_TAG_TR)) {
            clearStackToTableBodyContext();
            insert(t);
            mode = Mode::InRow;
            return;
        }
        if (t.isStartIn({GUMBO_TAG_TD, GUMBO_TAG_TH})) {
            clearStackToTableBodyContext();
            insertImplied(GUMBO_TAG_TR);
            mode = Mode::InRow;
            reprocess = true;
            return;
        }
        if (t.isEndIn({GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD})) {
            if (!inTableScope(t.tagName()))
                return;
            clearStackToTableBodyContext();
            pop();
            mode = Mode::InTable;
            return;
        }
        if (t.isStartIn({GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD})
            || t.isEnd(GUMBO_TAG_TABLE)) {
            if (!(inTableScope(GUMBO_TAG_TBODY) || inTableScope(GUMBO_TAG_THEAD) || inTableScope(GUMBO_TAG_TFOOT)))
                return;
            clearStackToTableBodyContext();
            pop();
            mode = Mode::InTable;
            reprocess = true;
            return;
        }
        if (t.isEndIn({GUMBO_TAG_BODY, GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_TR, GUMBO_TAG_COLGROUP,
                       GUMBO_TAG_HTML, GUMBO_TAG_TD, GUMBO_TAG_TH}))
            return;
        inTable(t);
    }

    void inRow(const Token& t)
    {
        if (t.isStartIn({GUMBO_TAG_TH, GUMBO_TAG_TD})) {
            clearStackToRowContext();
            insert(t);
            mode = Mode::InCell;
            addMarker();
            return;
        }
        const bool endRow = t.isEnd(GUMBO_TAG_TR);
        const bool leaveRow = t.isStartIn({GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_TBODY,
                                           GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD, GUMBO_TAG_TR})
                           || t.isEnd(GUMBO_TAG_TABLE);
        const bool endSection = t.isEndIn({GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD});
        if (endRow || leaveRow || endSection) {
            if ((endSection && !inTableScope(t.tagName())) || !inTableScope(GUMBO_TAG_TR))
                return;
            clearStackToRowContext();
            pop();
            mode = Mode::InTableBody;
            reprocess = !endRow;
            return;
        }
        if (t.isEndIn({GUMBO_TAG_BODY, GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_HTML,
                       GUMBO_TAG_TD, GUMBO_TAG_TH}))
            return;
        inTable(t);
    }

    void closeCell(GumboTag cell)
    {
        generateImpliedEndTags();
        while (!stack.empty() && !isHtml(pop(), cell))
            ++cost.steps;
        clearFormattingToMarker();
        mode = Mode::InRow;
    }
    void closeCurrentCell() { closeCell(inTableScope(GUMBO_TAG_TD) ? GUMBO_TAG_TD : GUMBO_TAG_TH); }

    void inCell(const Token& t)
    {
        if (t.isEndIn({GUMBO_TAG_TD, GUMBO_TAG_TH})) {
            if (inTableScope(t.tagName()))
                closeCell(t.tagName());
            return;
        }
        if (t.isStartIn({GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_TBODY, GUMBO_TAG_TD,
                         GUMBO_TAG_TFOOT, GUMBO_TAG_TH, GUMBO_TAG_THEAD, GUMBO_TAG_TR})) {
            if (!inTableScope(GUMBO_TAG_TH) && !inTableScope(GUMBO_TAG_TD))
                return;
            reprocess = true;
            closeCurrentCell();
            return;
        }
        if (t.isEndIn({GUMBO_TAG_BODY, GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_HTML}))
            return;
        if (t.isEndIn({GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD, GUMBO_TAG_TR})) {
            if (!inTableScope(t.tagName()))
                return;
            reprocess = true;
            closeCurrentCell();
            return;
        }
        inBody(t);
    }

    void closeCurrentSelect()
    {
        while (!stack.empty() && !isHtml(pop(), GUMBO_TAG_SELECT))
            ++cost.steps;
        resetMode();
    }

    void inSelect(const Token& t)
    {
        if (t.isStart(GUMBO_TAG_HTML))
            return inBody(t);
        if (t.isStart(GUMBO_TAG_OPTION)) {
            if (currentIs(GUMBO_TAG_OPTION))
                pop();
            insert(t);
            return;
        }
        if (t.isStart(GUMBO_TAG_OPTGROUP)) {
            if (currentIs(GUMBO_TAG_OPTION))
                pop();
            if (currentIs(GUMBO_TAG_OPTGROUP))
                pop();
            insert(t);
            return;
        }
        if (t.isEnd(GUMBO_TAG_OPTGROUP)) {
            if (currentIs(GUMBO_TAG_OPTION) && stack.size() >= 2 && isHtml(stack[stack.size() - 2], GUMBO_TAG_OPTGROUP))
                pop();
            if (currentIs(GUMBO_TAG_OPTGROUP))
                pop();
            return;
        }
        if (t.isEnd(GUMBO_TAG_OPTION)) {
            if (currentIs(GUMBO_TAG_OPTION))
                pop();
            return;
        }
        if (t.isEnd(GUMBO_TAG_SELECT)) {
            if (inSelectScope(GUMBO_TAG_SELECT))
                closeCurrentSelect();
            return;
        }
        if (t.isStart(GUMBO_TAG_SELECT)) {
            if (inSelectScope(GUMBO_TAG_SELECT))
                closeCurrentSelect();
            return;
        }
        if (t.isStartIn({GUMBO_TAG_INPUT, GUMBO_TAG_KEYGEN, GUMBO_TAG_TEXTAREA})) {
            if (inSelectScope(GUMBO_TAG_SELECT)) {
                closeCurrentSelect();
                reprocess = true;
            }
            return;
        }
        if (t.isStartIn({GUMBO_TAG_SCRIPT, GUMBO_TAG_TEMPLATE}) || t.isEnd(GUMBO_TAG_TEMPLATE))
            return inHead(t);
        if (t.kind == Token::Eof)
            return inBody(t);
    }

    void inSelectInTable(const Token& t)
    {
        const std::initializer_list<GumboTag> table{GUMBO_TAG_CAPTION, GUMBO_TAG_TABLE, GUMBO_TAG_TBODY,
                                                    GUMBO_TAG_TFOOT,   GUMBO_TAG_THEAD, GUMBO_TAG_TR,
                                                    GUMBO_TAG_TD,      GUMBO_TAG_TH};
        if (t.isStartIn(table)) {
            closeCurrentSelect();
            reprocess = true;
            return;
        }
        if (t.isEndIn(table)) {
            if (inTableScope(t.tagName())) {
                closeCurrentSelect();
                reprocess = true;
            }
            return;
        }
        inSelect(t);
    }

    void switchTemplateMode(Mode to)
    {
        if (!templateModes.empty())
            templateModes.pop_back();
        templateModes.push_back(to);
        mode = to;
        reprocess = true;
    }

    void inTemplate(const Token& t)
    {
        if (t.isText() || t.kind == Token::Comment || t.kind == Token::Doctype)
            return inBody(t);
        if (t.isStartIn({GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_LINK, GUMBO_TAG_META,
                         GUMBO_TAG_NOFRAMES, GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE, GUMBO_TAG_TEMPLATE, GUMBO_TAG_TITLE})
            || t.isEnd(GUMBO_TAG_TEMPLATE))
            return inHead(t);
        if (t.isStartIn({GUMBO_TAG_CAPTION, GUMBO_TAG_COLGROUP, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD}))
            return switchTemplateMode(Mode::InTable);
        if (t.isStart(GUMBO_TAG_COL))
            return switchTemplateMode(Mode::InColumnGroup);
        if (t.isStart(GUMBO_TAG_TR))
            return switchTemplateMode(Mode::InTableBody);
        if (t.isStartIn({GUMBO_TAG_TD, GUMBO_TAG_TH}))
            return switchTemplateMode(Mode::InRow);
        if (t.kind == Token::StartTag)
            return switchTemplateMode(Mode::InBody);
        if (t.kind == Token::EndTag)
            return;
        if (!hasOpen(GUMBO_TAG_TEMPLATE))
            return;
        while (!stack.empty() && !isHtml(pop(), GUMBO_TAG_TEMPLATE))
            ++cost.steps;
        clearFormattingToMarker();
        if (!templateModes.empty())
            templateModes.pop_back();
        resetMode();
        reprocess = true;
    }

    void afterBody(const Token& t)
    {
        if (t.kind == Token::Whitespace || t.isStart(GUMBO_TAG_HTML))
            return inBody(t);
        if (t.kind == Token::Comment || t.kind == Token::Doctype || t.kind == Token::Eof)
            return;
        if (t.isEnd(GUMBO_TAG_HTML)) {
            mode = Mode::AfterAfterBody;
            return;
        }
        mode = Mode::InBody;
        reprocess = true;
    }

    void afterAfterBody(const Token& t)
    {
        if (t.kind == Token::Comment || t.kind == Token::Eof)
            return;
        if (t.kind == Token::Doctype || t.kind == Token::Whitespace || t.isStart(GUMBO_TAG_HTML))
            return inBody(t);
        mode = Mode::InBody;
        reprocess = true;
    }
};
}  // namespace

HtmlNesting::Cost HtmlNesting::of(QByteArrayView utf8) { return Pass(utf8).run(); }

bool HtmlNesting::leavesForeignContent(GumboTag tag) { return flags.html[tag] & Breakout; }
