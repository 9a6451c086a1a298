#include "engine/extract/nesting/NestingPass.h"

// What gumbo does to its stack of open elements and its list of active
// formatting elements: implied end tags, reconstructing formatting elements,
// the adoption agency and resetting the insertion mode.
namespace HtmlNesting::Model {
Element Pass::make(GumboTag tag, GumboNamespaceEnum ns, const HtmlToken* from)
{
    Element e;
    e.tag = tag;
    e.ns = ns;
    e.id = int(open.size());
    open.push_back(0);
    if (from) {
        e.name = from->foreignName;
        e.named = from->hasForeignName;
        if (ns == GUMBO_NAMESPACE_HTML && (flags.html[tag] & Formatting)) {
            e.written = tokenizer.textOf(*from);
            e.writtenAttributes = from->attributes;
            e.hasAttributes = from->hasAttributes;
        }
        e.bytes = from->end - from->begin;
    }
    if (tags) {
        if (fostering && !stack.empty()
            && (isHtml(current(), GUMBO_TAG_TABLE) || isHtml(current(), GUMBO_TAG_TBODY)
                || isHtml(current(), GUMBO_TAG_TFOOT) || isHtml(current(), GUMBO_TAG_THEAD)
                || isHtml(current(), GUMBO_TAG_TR)))
            tags->inTagOrder = false;
        // An end tag that makes an element (</br>, </p>) gives it none of its attributes.
        if (from && from->kind == HtmlToken::StartTag && from->hasAttributes) {
            const bool image = ns == GUMBO_NAMESPACE_HTML && tag == GUMBO_TAG_IMAGE;
            const qsizetype attributes = from->begin + (from->attributes.data() - tokenizer.textOf(*from).data());
            tags->elements.push_back({from->begin, from->end, attributes, image ? GUMBO_TAG_IMG : tag, ns,
                                      tag == GUMBO_TAG_BASE && templateOpen()});
        }
    }
    return e;
}

bool Pass::templateOpen() const
{
    return std::any_of(stack.begin(), stack.end(), [](const Element& e) { return isHtml(e, GUMBO_TAG_TEMPLATE); });
}

void Pass::removeFromStack(int id)
{
    const qsizetype at = stackIndexOf(id);
    if (at >= 0) {
        stack.erase(stack.begin() + at);
        open[size_t(id)] = 0;
    }
}

void Pass::generateImpliedEndTags(GumboTag except)
{
    while (!stack.empty() && hasFlag(current(), ImpliedEnd) && !isHtml(current(), except)) {
        ++cost.steps;
        pop();
    }
}

void Pass::generateAllImpliedEndTagsThoroughly()
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

void Pass::implicitlyClose(GumboTag tag)
{
    generateImpliedEndTags(tag);
    popUntil(tag);
}

void Pass::closeParagraphInButtonScope()
{
    if (inButtonScope(GUMBO_TAG_P))
        implicitlyClose(GUMBO_TAG_P);
}

void Pass::closeListItem(bool li)
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

void Pass::reconstruct(qsizetype characters)
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

// Hashed only when compared: most formatting elements (every <a>) are
// closed before another like them comes.
size_t Pass::attributesHash(Element& e)
{
    if (!e.hashed) {
        HtmlToken tag;
        tag.tag = e.tag;
        tag.attributes = e.writtenAttributes;
        tag.hasAttributes = e.hasAttributes;
        e.attributes = attributesOf(tag, e.written);
        e.hashed = true;
    }
    return e.attributes;
}

void Pass::addFormatting(const Element& added)
{
    Element e = added;
    int identical = 0;
    size_t earliest = formatting.size();
    for (size_t i = formatting.size(); i-- > 0;) {
        ++cost.steps;
        Element& f = formatting[i];
        if (f.id < 0)
            break;
        if (f.tag == e.tag && f.ns == e.ns && attributesHash(f) == attributesHash(e)) {
            ++identical;
            earliest = i;
        }
    }
    if (identical >= 3)
        formatting.erase(formatting.begin() + qsizetype(earliest));
    formatting.push_back(e);
}

void Pass::clearFormattingToMarker()
{
    while (!formatting.empty()) {
        ++cost.steps;
        const bool marker = formatting.back().id < 0;
        formatting.pop_back();
        if (marker)
            return;
    }
}

qsizetype Pass::lastAnchor()
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
void Pass::adoptionAgency(GumboTag subject)
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
            popUntilId(formattingElement.id);
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
void Pass::resetMode()
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
}  // namespace HtmlNesting::Model
