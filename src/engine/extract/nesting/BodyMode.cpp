#include "engine/extract/nesting/NestingPass.h"

// The insertion mode "in body": the start and end tags of most of a page.
namespace HtmlNesting::Model {
void Pass::inBody(const Token& t)
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

void Pass::inBodyStart(const Token& t)
{
    const GumboTag tag = t.tagName();
    if (tag == GUMBO_TAG_HTML || tag == GUMBO_TAG_BODY) {
        // Gumbo gives the open one the attributes it lacks.
        if (tags && t.tag->hasAttributes)
            tags->inTagOrder = false;
        return;
    }
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
        ignoreNextLinefeed = true;
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

void Pass::inBodyEnd(const Token& t)
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
            popUntil(GUMBO_TAG_FORM);
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
        popUntil(isHeading);
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
                popUntilId(id);
                return;
            }
            if (isSpecial(stack[i]))
                return;
        }
    }
}
}  // namespace HtmlNesting::Model
