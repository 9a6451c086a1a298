#pragma once

#include "engine/extract/HtmlAttributeText.h"

#include <QByteArrayView>

#include <gumbo.h>

#include <vector>

// The elements gumbo makes of the text, clones and implied ones included:
// what HtmlNesting's pass counts. Walked, not recursed, and made in an arena
// dropped whole: gumbo 0.10.1's own freeing recurses as deep as the page
// nests, and leaks a few strings of some pages. -1 when gumbo stopped on
// one of its assertions, which no count of the pass's can match.
inline qsizetype gumboElements(QByteArrayView utf8)
{
    const GumboParse parse(utf8);
    if (!parse.output())
        return -1;
    qsizetype elements = 0;
    std::vector<const GumboNode*> pending{parse.output()->document};
    while (!pending.empty()) {
        const GumboNode* node = pending.back();
        pending.pop_back();
        const GumboVector* children = &node->v.document.children;
        if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
            ++elements;
            children = &node->v.element.children;
        } else if (node->type != GUMBO_NODE_DOCUMENT) {
            continue;
        }
        for (unsigned int i = 0; i < children->length; ++i)
            pending.push_back(static_cast<const GumboNode*>(children->data[i]));
    }
    return elements;
}
