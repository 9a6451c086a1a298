#include "engine/extract/nesting/NestingElements.h"

#include "engine/extract/HtmlAttributeText.h"

#include <QHash>
#include <QVarLengthArray>

#include <algorithm>
#include <vector>

namespace HtmlNesting::Model {
Flags::Flags()
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
    for (GumboTag tag : {GUMBO_TAG_DD, GUMBO_TAG_DT, GUMBO_TAG_LI, GUMBO_TAG_OPTION, GUMBO_TAG_OPTGROUP, GUMBO_TAG_P,
                         GUMBO_TAG_RP, GUMBO_TAG_RB, GUMBO_TAG_RT, GUMBO_TAG_RTC})
        html[tag] |= ImpliedEnd;
    for (GumboTag tag :
         {GUMBO_TAG_A, GUMBO_TAG_B, GUMBO_TAG_BIG, GUMBO_TAG_CODE, GUMBO_TAG_EM, GUMBO_TAG_FONT, GUMBO_TAG_I,
          GUMBO_TAG_NOBR, GUMBO_TAG_S, GUMBO_TAG_SMALL, GUMBO_TAG_STRIKE, GUMBO_TAG_STRONG, GUMBO_TAG_TT, GUMBO_TAG_U})
        html[tag] |= Formatting;
    for (GumboTag tag :
         {GUMBO_TAG_ADDRESS,    GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE,  GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_CENTER,
          GUMBO_TAG_DETAILS,    GUMBO_TAG_DIR,     GUMBO_TAG_DIV,    GUMBO_TAG_DL,         GUMBO_TAG_FIELDSET,
          GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE,  GUMBO_TAG_FOOTER, GUMBO_TAG_HEADER,     GUMBO_TAG_HGROUP,
          GUMBO_TAG_MENU,       GUMBO_TAG_MAIN,    GUMBO_TAG_NAV,    GUMBO_TAG_OL,         GUMBO_TAG_P,
          GUMBO_TAG_SECTION,    GUMBO_TAG_SUMMARY, GUMBO_TAG_UL})
        html[tag] |= ClosesParagraph;
    for (GumboTag tag :
         {GUMBO_TAG_B,       GUMBO_TAG_BIG,  GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_BODY,  GUMBO_TAG_BR,   GUMBO_TAG_CENTER,
          GUMBO_TAG_CODE,    GUMBO_TAG_DD,   GUMBO_TAG_DIV,        GUMBO_TAG_DL,    GUMBO_TAG_DT,   GUMBO_TAG_EM,
          GUMBO_TAG_EMBED,   GUMBO_TAG_H1,   GUMBO_TAG_H2,         GUMBO_TAG_H3,    GUMBO_TAG_H4,   GUMBO_TAG_H5,
          GUMBO_TAG_H6,      GUMBO_TAG_HEAD, GUMBO_TAG_HR,         GUMBO_TAG_I,     GUMBO_TAG_IMG,  GUMBO_TAG_LI,
          GUMBO_TAG_LISTING, GUMBO_TAG_MENU, GUMBO_TAG_META,       GUMBO_TAG_NOBR,  GUMBO_TAG_OL,   GUMBO_TAG_P,
          GUMBO_TAG_PRE,     GUMBO_TAG_RUBY, GUMBO_TAG_S,          GUMBO_TAG_SMALL, GUMBO_TAG_SPAN, GUMBO_TAG_STRONG,
          GUMBO_TAG_STRIKE,  GUMBO_TAG_SUB,  GUMBO_TAG_SUP,        GUMBO_TAG_TABLE, GUMBO_TAG_TT,   GUMBO_TAG_U,
          GUMBO_TAG_UL,      GUMBO_TAG_VAR})
        html[tag] |= Breakout;
}
const Flags flags;

// The first value of an attribute, if the tag has it; nullopt-like through
// `found`.
QByteArrayView attributeValue(const HtmlToken& tag, QByteArrayView name, bool& found)
{
    QByteArrayView result;
    found = false;
    HtmlTokens::forEachAttribute(tag.attributes, [&](QByteArrayView n, QByteArrayView v) {
        if (!HtmlTokens::sameName(n, name))
            return true;
        found = true;
        result = v;
        return false;
    });
    return result;
}

namespace {
// One attribute as gumbo compares it: its name in lower case and its value.
size_t attributeHash(QByteArrayView name, QByteArrayView value, bool lowerName)
{
    QVarLengthArray<char, 256> text(name.size() + 1 + value.size());
    for (qsizetype i = 0; i < name.size(); ++i)
        text[i] = lowerName ? HtmlTokens::asciiLower(name[i]) : name[i];
    text[name.size()] = '=';
    std::copy(value.begin(), value.end(), text.begin() + name.size() + 1);
    return qHash(QByteArrayView(text.data(), text.size()));
}
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
        if (!parse.output())
            return 0;
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
        if (std::none_of(names.begin(), names.end(), [&](QByteArrayView seen) { return HtmlTokens::sameName(seen, name); })) {
            names.push_back(name);
            hash += attributeHash(name, value, true);
        }
        return true;
    });
    return hash;
}
}  // namespace HtmlNesting::Model
