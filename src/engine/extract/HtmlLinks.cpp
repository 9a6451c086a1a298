#include "engine/extract/HtmlLinks.h"

#include "engine/extract/HtmlAttributeText.h"
#include "engine/extract/HtmlEncoding.h"
#include "engine/extract/HtmlNesting.h"
#include "engine/extract/HtmlTokens.h"

#include <QString>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

namespace {
// A stretch of an attribute's decoded value that is an address.
struct Span {
    qsizetype start = 0;
    qsizetype end = 0;
};

// The stretch without the ASCII white space around it.
Span trimmed(const QString& text, Span span)
{
    while (span.start < span.end && isHtmlSpace(text[span.start]))
        ++span.start;
    while (span.end > span.start && isHtmlSpace(text[span.end - 1]))
        --span.end;
    return span;
}

// The stretch of the text; the text itself, shared, when it is all of it
// (the most common address is the whole value).
QString partOf(const QString& text, Span span)
{
    if (span.start == 0 && span.end == text.size())
        return text;
    return text.sliced(span.start, span.end - span.start);
}

// Vectors a reader fills and lets go of with every page, kept between the
// pages a thread reads for their capacity: a page makes hundreds of
// elements and links, and growing to that anew each time cost a tenth of
// reading it. A large one is not held on to.
constexpr std::size_t MostBorrowedBytes = 1 << 20;

template <typename T>
std::vector<T>& keptForCapacity()
{
    thread_local std::vector<T> kept;
    return kept;
}

template <typename T>
std::vector<T> borrowed()
{
    std::vector<T> vector = std::exchange(keptForCapacity<T>(), {});
    vector.clear();
    return vector;
}

template <typename T>
bool isKeptForCapacity(const std::vector<T>& vector)
{
    return vector.capacity() * sizeof(T) <= MostBorrowedBytes;
}

template <typename T>
void giveBack(std::vector<T>&& vector)
{
    vector.clear();
    if (isKeptForCapacity(vector))
        keptForCapacity<T>() = std::move(vector);
}

// Each candidate's address in a srcset: "a.png 1x, b,c.png 2x" holds a.png
// and b,c.png, the comma inside an address being the address's own. The
// descriptors after an address end at a comma outside parentheses.
std::vector<Span> srcsetAddresses(const QString& srcset)
{
    std::vector<Span> addresses;
    const qsizetype end = srcset.size();
    qsizetype at = 0;
    for (;;) {
        while (at < end && (isHtmlSpace(srcset[at]) || srcset[at] == u','))
            ++at;
        if (at >= end)
            return addresses;
        Span address{at, at};
        while (at < end && !isHtmlSpace(srcset[at]))
            ++at;
        address.end = at;
        if (srcset[at - 1] == u',') {
            while (srcset[address.end - 1] == u',')
                --address.end;
        } else {
            bool inParentheses = false;
            for (; at < end && (inParentheses || srcset[at] != u','); ++at) {
                if (srcset[at] == u'(' || srcset[at] == u')')
                    inParentheses = srcset[at] == u'(';
            }
            ++at;
        }
        addresses.push_back(address);
    }
}

// The address in a refresh's content as a browser reads it: "5; url=x",
// "5, 'x'", "0;URL = \"x\"", "5 x". Nothing when the content names no
// address (a refresh of the page itself) or is not a refresh at all.
std::optional<Span> refreshAddress(const QString& content)
{
    const qsizetype end = content.size();
    qsizetype at = 0;
    const auto skipSpace = [&] {
        while (at < end && isHtmlSpace(content[at]))
            ++at;
    };
    const auto sees = [&](char16_t c) { return at < end && content[at].toLower() == c; };
    skipSpace();
    const qsizetype time = at;
    const auto atDigit = [&] { return at < end && content[at] >= u'0' && content[at] <= u'9'; };
    while (atDigit())
        ++at;
    if (at == time && !sees(u'.'))
        return std::nullopt;
    while (atDigit() || sees(u'.'))
        ++at;
    if (at < end) {
        if (!sees(u';') && !sees(u',') && !isHtmlSpace(content[at]))
            return std::nullopt;
        skipSpace();
        if (sees(u';') || sees(u','))
            ++at;
        skipSpace();
    }
    if (at >= end)
        return std::nullopt;
    const qsizetype remainder = at;
    if (sees(u'u')) {
        ++at;
        if (!sees(u'r'))
            return Span{remainder, end};
        ++at;
        if (!sees(u'l'))
            return Span{remainder, end};
        ++at;
        skipSpace();
        if (!sees(u'='))
            return Span{remainder, end};
        ++at;
        skipSpace();
    }
    if (sees(u'"') || sees(u'\'')) {
        const qsizetype close = content.indexOf(content[at], at + 1);
        return Span{at + 1, close < 0 ? end : close};
    }
    return Span{at, end};
}

enum class Holds { Address, Srcset };

struct LinkAttribute {
    GumboTag tag;
    const char* attribute;
    Holds holds;
};

constexpr LinkAttribute LinkAttributes[] = {
    {GUMBO_TAG_A, "href", Holds::Address},       {GUMBO_TAG_AREA, "href", Holds::Address},
    {GUMBO_TAG_LINK, "href", Holds::Address},    {GUMBO_TAG_IMG, "src", Holds::Address},
    {GUMBO_TAG_IMG, "srcset", Holds::Srcset},    {GUMBO_TAG_SOURCE, "src", Holds::Address},
    {GUMBO_TAG_SOURCE, "srcset", Holds::Srcset}, {GUMBO_TAG_VIDEO, "src", Holds::Address},
    {GUMBO_TAG_VIDEO, "poster", Holds::Address}, {GUMBO_TAG_AUDIO, "src", Holds::Address},
    {GUMBO_TAG_TRACK, "src", Holds::Address},    {GUMBO_TAG_IFRAME, "src", Holds::Address},
    {GUMBO_TAG_EMBED, "src", Holds::Address},    {GUMBO_TAG_SCRIPT, "src", Holds::Address},
    {GUMBO_TAG_OBJECT, "data", Holds::Address},
};

// One attribute of an element as the reader takes it: from gumbo's tree, or
// cut from a start tag that needs no decoding (a plain tag, below), whose
// values are the text as written.
struct Attribute {
    QByteArray name;                         // as a browser reads it, in lower case
    const GumboAttribute* parsed = nullptr;  // null for one cut from the tag
    QByteArrayView written;                  // cut: the value, without its quotes
    qsizetype at = 0;                        // cut: where the value starts, or the name without a value
};
using Attributes = std::vector<Attribute>;

const Attribute* attributeNamed(const Attributes& attributes, QByteArrayView name)
{
    for (const Attribute& attribute : attributes) {
        if (attribute.name == name)
            return &attribute;
    }
    return nullptr;
}

// As gumbo decoded it (a control character made U+FFFD).
QString decodedValueOf(const Attribute& attribute)
{
    return textOfUtf8(attribute.parsed ? QByteArrayView(attribute.parsed->value) : attribute.written);
}

// The words of a rel, in lower case.
QStringList relOf(const Attributes& attributes)
{
    const Attribute* rel = attributeNamed(attributes, "rel");
    if (!rel)
        return {};
    QStringList words;
    const QString value = decodedValueOf(*rel).toLower();
    for (qsizetype at = 0; at < value.size();) {
        const qsizetype word = at;
        while (at < value.size() && !isHtmlSpace(value[at]))
            ++at;
        if (at > word)
            words.append(value.sliced(word, at - word));
        ++at;
    }
    return words;
}

// A tag whose attributes gumbo takes as written: no character reference,
// NUL, CR, other control character or noncharacter, which gumbo decodes or
// replaces. Most tags are; the others are read by gumbo.
bool isPlainTag(QByteArrayView tag)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(tag.data());
    const qsizetype size = tag.size();
    for (qsizetype i = 0; i < size;) {
        const unsigned char c = bytes[i];
        if ((c >= 0x20 && c < 0x7F && c != '&') || c == '\t' || c == '\n' || c == '\f') {
            ++i;
            continue;
        }
        if (c < 0x80)
            return false;  // '&', NUL, CR, a control character, DEL
        // Of valid UTF-8: the code point, to tell C1 controls and noncharacters.
        const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        if (i + length > size)
            return false;
        char32_t point = c & (0x7F >> length);
        for (int k = 1; k < length; ++k)
            point = (point << 6) | (bytes[i + k] & 0x3F);
        if (point <= 0x9F || (point >= 0xFDD0 && point <= 0xFDEF) || (point & 0xFFFE) == 0xFFFE)
            return false;
        i += length;
    }
    return true;
}

// Where each offset of a text stands, asked in increasing order: lines end
// at CR LF, CR or LF, and a column is a code point, as gumbo counts them.
class Places {
public:
    explicit Places(QByteArrayView text) : text(text), carriageReturns(text.contains('\r')) {}

    TextPlace of(qsizetype offset)
    {
        if (carriageReturns)
            return ofAnyLineEnd(offset);
        if (offset <= at)
            return place;
        // Most texts end lines with LF alone: the lines found by memchr,
        // the last one's code points counted in a loop the compiler widens.
        const char* from = text.data() + at;
        const char* const to = text.data() + offset;
        while (const auto* lf = static_cast<const char*>(std::memchr(from, '\n', to - from))) {
            place = {place.line + 1, 1};
            from = lf + 1;
        }
        int codePoints = 0;
        for (; from < to; ++from)
            codePoints += (*from & 0xC0) != 0x80;
        place.column += codePoints;
        at = offset;
        return place;
    }

private:
    QByteArrayView text;
    bool carriageReturns;
    qsizetype at = 0;
    TextPlace place;

    TextPlace ofAnyLineEnd(qsizetype offset)
    {
        for (; at < offset; ++at) {
            const char c = text[at];
            if (c == '\n' || (c == '\r' && !(at + 1 < text.size() && text[at + 1] == '\n')))
                place = {place.line + 1, 1};
            else if (c != '\r' && (c & 0xC0) != 0x80)
                ++place.column;
        }
        return place;
    }
};

// A place within a fragment that starts at `start`, as a place in the file.
TextPlace shiftedFrom(TextPlace start, TextPlace place)
{
    if (place.line == 1)
        return {start.line, start.column + place.column - 1};
    return {start.line + place.line - 1, place.column};
}

bool isTablePart(GumboTag tag)
{
    return tag == GUMBO_TAG_CAPTION || tag == GUMBO_TAG_COL || tag == GUMBO_TAG_COLGROUP || tag == GUMBO_TAG_TBODY
        || tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TFOOT || tag == GUMBO_TAG_TH || tag == GUMBO_TAG_THEAD
        || tag == GUMBO_TAG_TR;
}

class Reader {
public:
    explicit Reader(TextPlace start) : start(start) {}

    DocumentLinks read(QByteArrayView utf8, bool throughTree = false)
    {
        HtmlNesting::TreeTags tags{borrowed<HtmlNesting::MadeElement>()};
        found.links = borrowed<FoundLink>();
        if (!HtmlNesting::of(utf8, &tags).affordable) {
            readTagByTag(utf8);
        } else if (tags.inTagOrder && !throughTree) {
            readTags(utf8, tags.elements);
        } else if (!readTree(utf8)) {
            readTagByTag(utf8);
        }
        giveBack(std::move(tags.elements));
        // In a vector of their own size: a document's links may be kept
        // for the whole run.
        if (!isKeptForCapacity(found.links)) {
            found.links.shrink_to_fit();
        } else if (found.links.capacity() != found.links.size()) {
            std::vector<FoundLink> links(std::make_move_iterator(found.links.begin()),
                                         std::make_move_iterator(found.links.end()));
            giveBack(std::move(found.links));
            found.links = std::move(links);
        }
        return std::move(found);
    }

private:
    TextPlace start;
    DocumentLinks found;
    bool baseTaken = false;
    CharacterReferences references;
    // Of a tag read on its own: inside SVG or MathML, where links are no
    // links of HTML's.
    bool foreign = false;
    // Of attributes cut from their tags: where each stands in the text.
    Places* places = nullptr;
    Attributes attributes;  // of the element being read, kept for its capacity

    // A page whose tree holds its tags as they stand (most pages): each
    // element's attributes read off its tag, as gumbo would have them.
    // A tag gumbo would decode is read by gumbo, on its own.
    void readTags(QByteArrayView utf8, const std::vector<HtmlNesting::MadeElement>& elements)
    {
        Places inText(utf8);
        places = &inText;
        for (const HtmlNesting::MadeElement& made : elements) {
            if (cutAttributes(utf8, made)) {
                take(made.tag, made.ns, made.inTemplate);
                continue;
            }
            readTagAlone(utf8.sliced(made.begin, made.end - made.begin), inText.of(made.begin), made.tag,
                         made.ns != GUMBO_NAMESPACE_HTML, made.inTemplate);
        }
        places = nullptr;
        attributes.clear();  // their names are the text's bytes
    }

    // The attributes of a plain tag, as gumbo's tokenizer cuts them; false
    // for a tag that is not plain, or repeats a name (gumbo keeps the
    // first, and its name buffer carries the repeat's into the next one's),
    // or has an '=' with no value after it.
    bool cutAttributes(QByteArrayView text, const HtmlNesting::MadeElement& made)
    {
        if (!isPlainTag(text.sliced(made.begin, made.end - made.begin)))
            return false;
        attributes.clear();
        bool cut = true;
        const QByteArrayView written = text.sliced(made.attributes, made.end - made.attributes);
        HtmlTokens::forEachAttribute(written, [&](QByteArrayView name, QByteArrayView value) {
            Attribute attribute;
            // The page's own bytes, unless they need lowering: the text
            // outlives the reading.
            const bool lower = std::none_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
            attribute.name = lower ? QByteArray::fromRawData(name.data(), name.size()) : name.toByteArray().toLower();
            if (attributeNamed(attributes, attribute.name)) {
                cut = false;
                return false;
            }
            if (value.isNull()) {
                qsizetype after = name.data() + name.size() - written.data();
                while (after < written.size() && HtmlTokens::isWhitespace(written[after]))
                    ++after;
                if (after < written.size() && written[after] == '=') {
                    cut = false;
                    return false;
                }
                attribute.at = name.data() - text.data();
            } else {
                attribute.written = value;
                attribute.at = value.data() - text.data();
            }
            attributes.push_back(std::move(attribute));
            return true;
        });
        return cut;
    }

    // A page whose tree would cost gumbo more than linear time (nesting
    // thousands deep, formatting elements cloned at every paragraph) is
    // read without a tree: each start tag on its own, by gumbo, so that
    // its attributes and their places are what gumbo makes of them, in the
    // order the page has them. What a tree would add (which elements of
    // SVG hold a tag, a template around a <base>) is followed as the tags
    // open and close; a browser would not nest such a page as written
    // either.
    void readTagByTag(QByteArrayView utf8)
    {
        HtmlTokenizer tokens(utf8);
        Places places(utf8);
        int foreignDepth = 0;
        int templateDepth = 0;
        for (HtmlToken tag = tokens.next(); tag.kind != HtmlToken::End; tag = tokens.next()) {
            if (tag.kind == HtmlToken::StartTag) {
                if (foreignDepth > 0 && HtmlNesting::leavesForeignContent(tag.tag))
                    foreignDepth = 0;
                const bool svgOrMath = tag.tag == GUMBO_TAG_SVG || tag.tag == GUMBO_TAG_MATH;
                if (tag.hasAttributes) {
                    readTagAlone(utf8.sliced(tag.begin, tag.end - tag.begin), places.of(tag.begin), tag.tag,
                                 foreignDepth > 0, templateDepth > 0);
                }
                if (svgOrMath && !tag.selfClosing)
                    ++foreignDepth;
                else if (foreignDepth == 0)
                    rawTextAfter(tokens, tag);
                if (tag.tag == GUMBO_TAG_TEMPLATE && foreignDepth == 0)
                    ++templateDepth;
            } else if (tag.kind == HtmlToken::EndTag) {
                if ((tag.tag == GUMBO_TAG_SVG || tag.tag == GUMBO_TAG_MATH) && foreignDepth > 0)
                    --foreignDepth;
                else if (tag.tag == GUMBO_TAG_TEMPLATE && templateDepth > 0)
                    --templateDepth;
            }
            tokens.foreign(foreignDepth > 0);
        }
    }

    static void rawTextAfter(HtmlTokenizer& tokens, const HtmlToken& tag)
    {
        switch (tag.tag) {
        case GUMBO_TAG_SCRIPT:
            return tokens.rawText(tag.tag, HtmlTokenizer::Raw::Script);
        case GUMBO_TAG_STYLE:
        case GUMBO_TAG_XMP:
        case GUMBO_TAG_IFRAME:
        case GUMBO_TAG_NOEMBED:
        case GUMBO_TAG_NOFRAMES:
            return tokens.rawText(tag.tag, HtmlTokenizer::Raw::RawText);
        case GUMBO_TAG_TITLE:
        case GUMBO_TAG_TEXTAREA:
            return tokens.rawText(tag.tag, HtmlTokenizer::Raw::RcData);
        case GUMBO_TAG_PLAINTEXT:
            return tokens.rawText(tag.tag, HtmlTokenizer::Raw::Plaintext);
        default:
            return;
        }
    }

    // Through gumbo's tree; false, with a note, when gumbo stopped on one
    // of its assertions (the page is then read tag by tag, its failed
    // parse let go first).
    bool readTree(QByteArrayView utf8)
    {
        const GumboParse parse(utf8);
        if (!parse.output()) {
            found.notes << QStringLiteral("gumbo stopped on its assertion %1; the page was read tag by tag")
                               .arg(parse.stop());
            return false;
        }
        walk(parse.output(), false);
        return true;
    }

    // One start tag standing at `at` in the text, read by gumbo alone.
    void readTagAlone(QByteArrayView tag, TextPlace at, GumboTag name, bool inForeign, bool inTemplate)
    {
        const TextPlace fragment = start;
        start = shiftedFrom(fragment, at);
        foreign = inForeign;
        readTag(tag, name, inTemplate);
        start = fragment;
        foreign = false;
    }

    // One start tag as a document of its own, inside what gumbo keeps it
    // in: a part of a table in a table, a <frame> in a frameset (the body
    // drops both).
    void readTag(QByteArrayView tag, GumboTag name, bool inTemplate)
    {
        const QByteArrayView around = isTablePart(name)        ? QByteArrayView("<table>")
                                    : name == GUMBO_TAG_FRAME ? QByteArrayView("<frameset>")
                                                              : QByteArrayView();
        const QByteArray wrapped = around.isEmpty() ? QByteArray() : around.toByteArray() + tag.toByteArray();
        start.column -= int(around.size());
        const GumboParse parse(around.isEmpty() ? tag : QByteArrayView(wrapped));
        if (parse.output()) {
            walk(parse.output(), inTemplate);
            return;
        }
        // No page known leads gumbo there with one tag; the fuzz targets
        // would say.
        found.notes << QStringLiteral("gumbo stopped on its assertion %1; the tag at %2:%3 was not read")
                           .arg(parse.stop(), QString::number(start.line),
                                QString::number(start.column + around.size()));
    }

    void walk(const GumboOutput* output, bool inTemplateAlready)
    {
        // In document order, and without recursing: nesting has no limit.
        // A template's content is no part of the document until a script
        // stamps it in: its links count, but not as the document's base.
        struct Pending {
            const GumboNode* node;
            bool inTemplate;
        };
        std::vector<Pending> pending{{output->document, inTemplateAlready}};
        while (!pending.empty()) {
            const auto [node, inTemplate] = pending.back();
            pending.pop_back();
            const GumboVector* children = nullptr;
            if (node->type == GUMBO_NODE_DOCUMENT) {
                children = &node->v.document.children;
            } else if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
                const GumboElement& element = node->v.element;
                attributes.clear();
                for (unsigned int i = 0; i < element.attributes.length; ++i) {
                    const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
                    attributes.push_back({nameOf(*attribute), attribute, {}, 0});
                }
                take(element.tag, element.tag_namespace, inTemplate);
                children = &node->v.element.children;
            }
            for (unsigned int i = children ? children->length : 0; i-- > 0;)
                pending.push_back({static_cast<const GumboNode*>(children->data[i]),
                                   inTemplate || node->type == GUMBO_NODE_TEMPLATE});
        }
    }

    // The element's links and anchors, of `attributes`.
    void take(GumboTag tag, GumboNamespaceEnum ns, bool inTemplate)
    {
        const bool html = ns == GUMBO_NAMESPACE_HTML && !foreign;
        const bool nofollow = html && (tag == GUMBO_TAG_A || tag == GUMBO_TAG_AREA || tag == GUMBO_TAG_LINK)
                           && relOf(attributes).contains(u"nofollow");
        for (const Attribute& attribute : attributes) {
            const QByteArray& name = attribute.name;
            if ((name == "id" || (html && tag == GUMBO_TAG_A && name == "name")) && !isEmptyValue(attribute))
                found.anchors.append(valueOf(attribute));
            if (!html)
                continue;
            for (const LinkAttribute& link : LinkAttributes) {
                if (link.tag == tag && name == link.attribute && !(link.tag == GUMBO_TAG_LINK && isServerHint()))
                    takeLinks(attribute, link, nofollow);
            }
        }
        if (!html)
            return;
        if (tag == GUMBO_TAG_BASE && !baseTaken && !inTemplate) {
            if (const Attribute* href = attributeNamed(attributes, "href")) {
                const QString value = valueOf(*href);
                const Span address = trimmed(value, {0, value.size()});
                found.base = partOf(value, address);
                baseTaken = true;
            }
        }
        if (tag == GUMBO_TAG_META) {
            const Attribute* equiv = attributeNamed(attributes, "http-equiv");
            const Attribute* content = attributeNamed(attributes, "content");
            if (equiv && content && decodedValueOf(*equiv).compare(u"refresh", Qt::CaseInsensitive) == 0) {
                const QString value = valueOf(*content);
                if (const auto address = refreshAddress(value))
                    addLinks(*content, value, {trimmed(value, *address)}, QStringLiteral("meta refresh"), false);
            }
        }
    }

    static bool isEmptyValue(const Attribute& attribute)
    {
        return attribute.parsed ? !*attribute.parsed->value : attribute.written.isEmpty();
    }

    // The value as a browser reads it, the characters gumbo replaced kept.
    QString valueOf(const Attribute& attribute)
    {
        if (!attribute.parsed)
            return textOfUtf8(attribute.written);
        const QString decoded = decodedValueOf(attribute);
        if (!decoded.contains(QChar::ReplacementCharacter))
            return decoded;
        return ValueWalker(writtenValueOf(*attribute.parsed), decoded, references).withCharactersKept();
    }

    // Where the value stands in the text.
    WrittenValue writtenOf(const Attribute& attribute)
    {
        if (attribute.parsed)
            return writtenValueOf(*attribute.parsed);
        return {attribute.written, places->of(attribute.at)};
    }

    // rel=preconnect and rel=dns-prefetch name a server to reach early, not
    // a resource.
    bool isServerHint() const
    {
        const QStringList rel = relOf(attributes);
        return rel.contains(u"preconnect") || rel.contains(u"dns-prefetch");
    }

    void takeLinks(const Attribute& attribute, const LinkAttribute& link, bool nofollow)
    {
        const QString value = valueOf(attribute);
        std::vector<Span> addresses;
        if (link.holds == Holds::Srcset)
            addresses = srcsetAddresses(value);
        else
            addresses.push_back(trimmed(value, {0, value.size()}));
        addLinks(attribute, value, addresses, elementName(link), nofollow);
    }

    // One string for all the links of a kind, not one each: a page may
    // hold millions.
    const QString& elementName(const LinkAttribute& link)
    {
        QString& name = elementNames[&link - LinkAttributes];
        if (name.isEmpty())
            name = QString::fromUtf8(gumbo_normalized_tagname(link.tag)) + u' ' + QString::fromUtf8(link.attribute);
        return name;
    }
    QString elementNames[std::size(LinkAttributes)];

    void addLinks(const Attribute& attribute, const QString& value, const std::vector<Span>& addresses,
                  const QString& element, bool nofollow)
    {
        ValueWalker walker(writtenOf(attribute), value, references);
        for (const Span& address : addresses) {
            found.links.push_back({partOf(value, address), shifted(walker.placeOf(address.start)), element, nofollow});
        }
    }

    // From a place in the parsed text to one in the file around it.
    TextPlace shifted(TextPlace place) const { return shiftedFrom(start, place); }
};
}  // namespace

namespace {
// Each link is HTML's, wherever the HTML stands.
DocumentLinks writtenInHtml(DocumentLinks found)
{
    for (FoundLink& link : found.links)
        link.html = true;
    return found;
}
}  // namespace

DocumentLinks HtmlLinks::read(const QByteArray& bytes, bool xhtml)
{
    return writtenInHtml(Reader({}).read(HtmlEncoding::toUtf8(bytes, xhtml)));
}

DocumentLinks HtmlLinks::readUtf8(QByteArrayView utf8, TextPlace start)
{
    if (utf8.isValidUtf8())
        return writtenInHtml(Reader(start).read(utf8));
    return writtenInHtml(Reader(start).read(textOfUtf8(utf8).toUtf8()));
}

DocumentLinks HtmlLinks::readThroughTree(QByteArrayView utf8) { return writtenInHtml(Reader({}).read(utf8, true)); }
