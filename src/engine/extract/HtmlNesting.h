#pragma once

#include <QByteArrayView>

#include <gumbo.h>

#include <vector>

// Whether gumbo 0.10.1 can build a document's tree in about linear time,
// told by a pass that does what its tree builder does to its stack of open
// elements and its list of active formatting elements, without building
// anything. Gumbo's own walks of that stack make nesting cost its square:
// 40,000 nested <div> take seconds and 300,000 minutes, and some formatting
// elements once closed are cloned again at every paragraph, attributes and
// all. So the pass counts the steps of gumbo's walks, the elements it would
// make and the deepest it would nest, and stops at the first limit reached.
namespace HtmlNesting {
struct Cost {
    bool affordable = true;
    // As far as the pass went.
    qsizetype elements = 0;  // every element made, clones included
    int deepest = 0;         // the most open elements at once
    qsizetype steps = 0;     // of gumbo's walks over its stack and lists
};

// Deeper than browsers go (they stop nesting at 512), so that a page a
// browser shows keeps its tree.
constexpr int DepthLimit = 4096;

// The most elements gumbo is let build a tree of: each costs it some
// hundreds of bytes, so that a page at the most a document may be, of
// nothing but tags, would take gigabytes. More than twice the largest
// pages people write (a whole API reference on one page has 180,000); a
// page past it is read tag by tag, which holds one tag at a time.
constexpr qsizetype MostElements = 500'000;

// A start tag with attributes that made an element of the tree.
struct MadeElement {
    qsizetype begin = 0;  // of the tag in the text
    qsizetype end = 0;
    qsizetype attributes = 0;  // where what follows its name starts
    GumboTag tag = GUMBO_TAG_UNKNOWN;  // as gumbo names the element (an <image> is an img)
    GumboNamespaceEnum ns = GUMBO_NAMESPACE_HTML;
    bool inTemplate = false;  // told of a <base> only, the one element it matters to
};

// What the tree holds of the tags with attributes. Most pages' trees hold
// each such tag once, as an element of its own, in the order the page has
// them: then the tags alone say what the tree would. A formatting element
// cloned, an element moved out of a table (foster parenting), or a second
// <html> or <body> giving the first its attributes makes the tree more than
// its tags, and `inTagOrder` false.
struct TreeTags {
    std::vector<MadeElement> elements;
    bool inTagOrder = true;
};

// Of valid UTF-8; `tags`, when given, gets what the tree holds of the tags
// (of an affordable page only: the pass stops at the first limit).
Cost of(QByteArrayView utf8, TreeTags* tags = nullptr);

// Whether a start tag inside SVG or MathML closes it, its tag read as HTML
// (a <font> does too with a color, face or size, which this does not see).
bool leavesForeignContent(GumboTag tag);
}
