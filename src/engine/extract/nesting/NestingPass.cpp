#include "engine/extract/nesting/NestingPass.h"

#include <algorithm>

// The pass over a page's tokens: text a run of one kind at a time, each token
// to the insertion mode or to foreign content, as gumbo dispatches it.
namespace HtmlNesting::Model {
HtmlNesting::Cost Pass::run()
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

void Pass::rawText(const Token& t, HtmlTokenizer::Raw kind)
{
    insert(t);
    tokenizer.rawText(t.tagName(), kind);
    original = mode;
    mode = Mode::Text;
}

// Text as gumbo's tokens, a run of one kind at a time: white space,
// other characters, NUL. A character reference counts as what it
// stands for, except in raw text, where nothing of the text counts.
void Pass::takeText(const HtmlToken& text)
{
    const QByteArrayView bytes = tokenizer.textOf(text);
    const bool references = mode != Mode::Text && !plaintext;
    // In the body, white space and other characters do the same to the
    // stack: one run of both, cut only at NULs (a page's prose would be a
    // run a word).
    const bool body = mode == Mode::InBody && !stack.empty() && current().ns == GUMBO_NAMESPACE_HTML;
    qsizetype at = 0;
    if (ignoreNextLinefeed && !bytes.isEmpty()) {
        // CR LF and CR are a line feed to gumbo's input stream.
        if (bytes.startsWith("\r\n"))
            at = 2;
        else if (bytes[0] == '\n' || bytes[0] == '\r')
            at = 1;
        else if (bytes[0] == '&' && references && HtmlTokens::referenceAt(bytes, 0).linefeed)
            at = HtmlTokens::referenceAt(bytes, 0).length;
        ignoreNextLinefeed = false;
    }
    if (body) {
        // Nothing here tells white space from other characters, and a NUL
        // is dropped: the text is one run of its characters.
        qsizetype characters = 0;
        for (qsizetype p = at; p < bytes.size(); ++p) {
            if (bytes[p] == '&' && references)
                p += HtmlTokens::referenceAt(bytes, p).length - 1;
            else if (bytes[p] == '\0')
                continue;
            ++characters;
        }
        if (characters > 0) {
            Token t{Token::Character};
            t.characters = characters;
            take(t);
        }
        return;
    }
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

void Pass::take(const Token& t)
{
    ignoreNextLinefeed = false;
    // Each time a token is taken again counts: modes that hand it back and
    // forth without end would otherwise never reach the limit.
    do {
        reprocess = false;
        dispatch(t);
    } while (reprocess && !stopped && ++cost.steps <= stepBudget);
    if (cost.steps > stepBudget)
        stop();
}

void Pass::dispatch(const Token& t)
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

void Pass::inMode(const Token& t)
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

void Pass::insertForeign(const Token& t, GumboNamespaceEnum ns)
{
    Element e = make(t.tagName(), ns, t.tag);
    if (ns == GUMBO_NAMESPACE_MATHML && e.tag == GUMBO_TAG_ANNOTATION_XML) {
        bool found = false;
        const QByteArrayView encoding = attributeValue(*t.tag, "encoding", found);
        if (found && encoding.contains('&'))
            return stop();
        e.htmlAnnotation = found && (HtmlTokens::sameName(encoding, "text/html") || HtmlTokens::sameName(encoding, "application/xhtml+xml"));
    }
    push(e);
    if (t.tag->selfClosing)
        pop();
}

void Pass::inForeignContent(const Token& t)
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
            } while (!stack.empty() && !isMathmlTextIntegrationPoint(current()) && !isHtmlIntegrationPoint(current())
                     && current().ns != GUMBO_NAMESPACE_HTML);
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
        if (node->named && t.tag->hasForeignName && HtmlTokens::sameName(node->name, t.tag->foreignName)) {
            const int id = node->id;
            popUntilId(id);
            return;
        }
        node = &stack[--i];
        if (node->ns == GUMBO_NAMESPACE_HTML)
            break;
    }
    inMode(t);
}

void Pass::inText(const Token& t)
{
    if (t.isText())
        return;
    pop();
    mode = original;
    reprocess = t.kind == Token::Eof;
}
}  // namespace HtmlNesting::Model
