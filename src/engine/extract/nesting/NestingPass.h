#pragma once

#include "engine/extract/HtmlNesting.h"
#include "engine/extract/HtmlTokens.h"
#include "engine/extract/nesting/NestingElements.h"

#include <algorithm>
#include <vector>

// Internal to HtmlNesting: the pass over a page, its steps split over the
// files of this folder by what they do.
//
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
namespace HtmlNesting::Model {
class Pass {
public:
    explicit Pass(QByteArrayView text, HtmlNesting::TreeTags* tags = nullptr)
        : tokenizer(text), tags(tags), stepBudget(64 * text.size() + (qsizetype(1) << 23)),
          elementBudget(std::min(text.size() / 2 + 65536, HtmlNesting::MostElements)),
          cloneByteBudget(2 * text.size() + (qsizetype(1) << 20))
    {
    }

    HtmlNesting::Cost run();

private:
    HtmlTokenizer tokenizer;
    HtmlNesting::TreeTags* tags;
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
    // In a table, a token other than the table's own goes where it would in
    // the body; an element made then under a table's own element is moved
    // out in front of the table.
    bool fostering = false;
    // After <pre> and <listing>: a line feed as the very next token is no
    // text at all (nothing is reconstructed for it).
    bool ignoreNextLinefeed = false;

    void stop() { stopped = true; }

    // --- The stack and the list, as gumbo keeps them (OpenElements.cpp).

    Element make(GumboTag tag, GumboNamespaceEnum ns, const HtmlToken* from);
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
        if (tags)
            tags->inTagOrder = false;
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
    // Pops up to and including the nearest element `match` takes. gumbo's
    // walk for one that is not there runs off its stack, where it asserts:
    // the pass stops, and the page gets no tree.
    template <typename Match>
    bool popUntil(Match match)
    {
        while (!stack.empty()) {
            if (match(pop()))
                return true;
            ++cost.steps;
        }
        stop();
        return false;
    }
    bool popUntil(GumboTag tag)
    {
        return popUntil([tag](const Element& e) { return isHtml(e, tag); });
    }
    bool popUntilId(int id)
    {
        return popUntil([id](const Element& e) { return e.id == id; });
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
    void removeFromStack(int id);

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

    void generateImpliedEndTags(GumboTag except = GUMBO_TAG_LAST);
    void generateAllImpliedEndTagsThoroughly();
    void implicitlyClose(GumboTag tag);
    void closeParagraphInButtonScope();
    void closeListItem(bool li);
    void reconstruct(qsizetype characters = 1);
    void addFormatting(const Element& added);
    static size_t attributesHash(Element& e);
    bool templateOpen() const;
    void addMarker() { formatting.push_back(Element{}); }
    void clearFormattingToMarker();
    qsizetype lastAnchor();
    void adoptionAgency(GumboTag subject);
    void resetMode();

    // --- Tokens, raw text and foreign content (NestingPass.cpp).

    void rawText(const Token& t, HtmlTokenizer::Raw kind);
    void takeText(const HtmlToken& text);
    void take(const Token& t);
    void dispatch(const Token& t);
    void inMode(const Token& t);
    void insertForeign(const Token& t, GumboNamespaceEnum ns);
    void inForeignContent(const Token& t);
    void inText(const Token& t);

    // --- The insertion modes (DocumentModes.cpp, BodyMode.cpp, TableModes.cpp).

    static bool endTagOtherThan(const Token& t, std::initializer_list<GumboTag> tags)
    {
        return t.kind == Token::EndTag && !t.in(tags);
    }
    void initial(const Token& t);
    void beforeHtml(const Token& t);
    void beforeHead(const Token& t);
    void inHead(const Token& t);
    void inHeadNoscript(const Token& t);
    void afterHead(const Token& t);
    void switchTemplateMode(Mode to);
    void inTemplate(const Token& t);
    void afterBody(const Token& t);
    void afterAfterBody(const Token& t);

    void inBody(const Token& t);
    void inBodyStart(const Token& t);
    void inBodyEnd(const Token& t);

    void clearStackTo(std::initializer_list<GumboTag> tags);
    void clearStackToTableContext();
    void clearStackToTableBodyContext();
    void clearStackToRowContext();
    bool closeTable();
    void inTable(const Token& t);
    void inTableText(const Token& t);
    void inCaption(const Token& t);
    void inColumnGroup(const Token& t);
    void inTableBody(const Token& t);
    void inRow(const Token& t);
    void closeCell(GumboTag cell);
    void closeCurrentCell();
    void inCell(const Token& t);
    void closeCurrentSelect();
    void inSelect(const Token& t);
    void inSelectInTable(const Token& t);
};
}  // namespace HtmlNesting::Model
