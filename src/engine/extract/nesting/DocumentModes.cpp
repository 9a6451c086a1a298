#include "engine/extract/nesting/NestingPass.h"

// The insertion modes before the body (the head and what is around it), in
// a template and after the body.
namespace HtmlNesting::Model {
void Pass::initial(const Token& t)
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

void Pass::beforeHtml(const Token& t)
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

void Pass::beforeHead(const Token& t)
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

void Pass::inHead(const Token& t)
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
        popUntil(GUMBO_TAG_TEMPLATE);
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

void Pass::inHeadNoscript(const Token& t)
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

void Pass::afterHead(const Token& t)
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

void Pass::switchTemplateMode(Mode to)
{
    if (!templateModes.empty())
        templateModes.pop_back();
    templateModes.push_back(to);
    mode = to;
    reprocess = true;
}

void Pass::inTemplate(const Token& t)
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
    popUntil(GUMBO_TAG_TEMPLATE);
    clearFormattingToMarker();
    if (!templateModes.empty())
        templateModes.pop_back();
    resetMode();
    reprocess = true;
}

void Pass::afterBody(const Token& t)
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

void Pass::afterAfterBody(const Token& t)
{
    if (t.kind == Token::Comment || t.kind == Token::Eof)
        return;
    if (t.kind == Token::Doctype || t.kind == Token::Whitespace || t.isStart(GUMBO_TAG_HTML))
        return inBody(t);
    mode = Mode::InBody;
    reprocess = true;
}
}  // namespace HtmlNesting::Model
