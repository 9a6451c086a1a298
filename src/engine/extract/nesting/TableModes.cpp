#include "engine/extract/nesting/NestingPass.h"

// The insertion modes of tables (caption, column group, body, row, cell)
// and of a select.
namespace HtmlNesting::Model {
void Pass::clearStackTo(std::initializer_list<GumboTag> tags)
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

void Pass::clearStackToTableContext() { clearStackTo({GUMBO_TAG_HTML, GUMBO_TAG_TABLE, GUMBO_TAG_TEMPLATE}); }

void Pass::clearStackToTableBodyContext()
{
    clearStackTo({GUMBO_TAG_HTML, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD, GUMBO_TAG_TEMPLATE});
}

void Pass::clearStackToRowContext() { clearStackTo({GUMBO_TAG_HTML, GUMBO_TAG_TR, GUMBO_TAG_TEMPLATE}); }

bool Pass::closeTable()
{
    if (!inTableScope(GUMBO_TAG_TABLE))
        return false;
    popUntil(GUMBO_TAG_TABLE);
    resetMode();
    return true;
}

void Pass::inTable(const Token& t)
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
        if (found && HtmlTokens::sameName(type, "hidden")) {
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
    fostering = true;
    inBody(t);
    fostering = false;
}

void Pass::inTableText(const Token& t)
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

void Pass::inCaption(const Token& t)
{
    if (t.isEnd(GUMBO_TAG_CAPTION)) {
        if (!inTableScope(GUMBO_TAG_CAPTION))
            return;
        generateImpliedEndTags();
        popUntil(GUMBO_TAG_CAPTION);
        clearFormattingToMarker();
        mode = Mode::InTable;
        return;
    }
    if (t.isStartIn({GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_TBODY, GUMBO_TAG_TD,
                     GUMBO_TAG_TFOOT, GUMBO_TAG_TH, GUMBO_TAG_THEAD, GUMBO_TAG_TR})
        || t.isEnd(GUMBO_TAG_TABLE)) {
        if (!inTableScope(GUMBO_TAG_CAPTION))
            return;
        popUntil(GUMBO_TAG_CAPTION);
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

void Pass::inColumnGroup(const Token& t)
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

void Pass::inTableBody(const Token& t)
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
    if (t.isEndIn({GUMBO_TAG_BODY, GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_TR, GUMBO_TAG_COLGROUP, GUMBO_TAG_HTML,
                   GUMBO_TAG_TD, GUMBO_TAG_TH}))
        return;
    inTable(t);
}

void Pass::inRow(const Token& t)
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
    if (t.isEndIn({GUMBO_TAG_BODY, GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_HTML, GUMBO_TAG_TD,
                   GUMBO_TAG_TH}))
        return;
    inTable(t);
}

void Pass::closeCell(GumboTag cell)
{
    generateImpliedEndTags();
    // As with a select: a cell of SVG's can set the mode, with no HTML cell
    // on the stack.
    if (!popUntil(cell))
        return;
    clearFormattingToMarker();
    mode = Mode::InRow;
}

void Pass::closeCurrentCell()
{
    if (inTableScope(GUMBO_TAG_TD))
        return closeCell(GUMBO_TAG_TD);
    if (!inTableScope(GUMBO_TAG_TH))
        return stop();
    closeCell(GUMBO_TAG_TH);
}

void Pass::inCell(const Token& t)
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

void Pass::closeCurrentSelect()
{
    // A select of SVG's sets the mode too (the reset goes by names alone),
    // with no HTML one on the stack.
    if (!popUntil(GUMBO_TAG_SELECT))
        return;
    resetMode();
}

void Pass::inSelect(const Token& t)
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

void Pass::inSelectInTable(const Token& t)
{
    const std::initializer_list<GumboTag> table{GUMBO_TAG_CAPTION, GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT,
                                                GUMBO_TAG_THEAD,   GUMBO_TAG_TR,    GUMBO_TAG_TD,    GUMBO_TAG_TH};
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
}  // namespace HtmlNesting::Model
