#include "engine/extract/HtmlLinks.h"

#include "engine/extract/HtmlEncoding.h"

#include <QHash>
#include <QString>

#include <gumbo.h>

#include <cstdlib>
#include <cstring>
#include <optional>

namespace {
// Every block gumbo takes, on a list freed in one sweep when the parse is
// done: gumbo_destroy_output recurses once per level of nesting and
// overflows the stack on some 300,000 nested elements.
class ParseMemory {
public:
    ParseMemory() = default;
    ParseMemory(const ParseMemory&) = delete;
    ParseMemory& operator=(const ParseMemory&) = delete;
    ~ParseMemory()
    {
        while (head.next != &head) {
            Block* block = head.next;
            head.next = block->next;
            std::free(block);
        }
    }

    GumboOutput* parse(QByteArrayView utf8)
    {
        GumboOptions options = kGumboDefaultOptions;
        options.allocator = &allocate;
        options.deallocator = &deallocate;
        options.userdata = this;
        options.tab_stop = 1;    // a tab is one character, as an editor's column counts it
        options.max_errors = 0;  // nobody reads them
        return gumbo_parse_with_options(&options, utf8.data(), size_t(utf8.size()));
    }

private:
    struct alignas(std::max_align_t) Block {
        Block* previous;
        Block* next;
    };
    Block head{&head, &head};

    static void* allocate(void* userdata, size_t size)
    {
        auto* memory = static_cast<ParseMemory*>(userdata);
        auto* block = static_cast<Block*>(std::malloc(sizeof(Block) + size));
        if (!block)
            std::abort();  // as operator new would, and gumbo checks nothing
        block->previous = &memory->head;
        block->next = memory->head.next;
        memory->head.next->previous = block;
        memory->head.next = block;
        return block + 1;
    }
    static void deallocate(void*, void* pointer)
    {
        if (!pointer)
            return;
        Block* block = static_cast<Block*>(pointer) - 1;
        block->previous->next = block->next;
        block->next->previous = block->previous;
        std::free(block);
    }
};

bool isSpace(QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r'; }
bool isAsciiAlphanumeric(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
bool isDigit(char c, bool hexadecimal)
{
    return (c >= '0' && c <= '9') || (hexadecimal && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

// A character reference as written in an attribute value and how many
// characters it gives there.
struct Reference {
    qsizetype written = 0;
    int characters = 0;
};

// Character references in attribute values, as gumbo reads them. Whether a
// name is one of HTML's 2,231 and how many characters it stands for is
// gumbo's table to know, so each name met is asked of gumbo once.
class References {
public:
    // The reference that starts at `at` (an '&'), if it is one.
    std::optional<Reference> at(QByteArrayView written, qsizetype at)
    {
        qsizetype end = at + 1;
        if (end < written.size() && written[end] == '#') {
            const bool hexadecimal = end + 1 < written.size() && (written[end + 1] == 'x' || written[end + 1] == 'X');
            end += hexadecimal ? 2 : 1;
            const qsizetype digits = end;
            while (end < written.size() && isDigit(written[end], hexadecimal))
                ++end;
            if (end == digits)
                return std::nullopt;
            if (end < written.size() && written[end] == ';')
                ++end;
            return Reference{end - at, 1};  // a code point, U+FFFD for one out of range
        }
        while (end < written.size() && isAsciiAlphanumeric(written[end]))
            ++end;
        if (end == at + 1)
            return std::nullopt;
        if (end < written.size() && written[end] == ';')
            ++end;
        // An '=' after a name without ';' keeps it as written (href="?a=1&copy=2").
        const bool equalsAfter = written[end - 1] != ';' && end < written.size() && written[end] == '=';
        const QByteArray name = written.sliced(at, end - at).toByteArray() + (equalsAfter ? "=" : "");
        auto known = charactersOf.constFind(name);
        if (known == charactersOf.cend())
            known = charactersOf.insert(name, decodedLength(name) - (equalsAfter ? 1 : 0));
        return Reference{end - at, *known};
    }

private:
    QHash<QByteArray, int> charactersOf;

    // The code points gumbo gives for the text as an attribute's value.
    static int decodedLength(const QByteArray& text)
    {
        const QByteArray html = "<a x=\"" + text + "\">";
        ParseMemory memory;
        const GumboOutput* output = memory.parse(html);
        const GumboAttribute* attribute = nullptr;
        const GumboVector& inHtml = output->root->v.element.children;  // <head>, <body>
        if (inHtml.length == 2) {
            const GumboVector& inBody = static_cast<const GumboNode*>(inHtml.data[1])->v.element.children;
            if (inBody.length == 1)
                attribute = gumbo_get_attribute(&static_cast<const GumboNode*>(inBody.data[0])->v.element.attributes, "x");
        }
        if (!attribute)
            return int(text.size());
        int length = 0;
        for (const char* c = attribute->value; *c; ++c)
            length += (*c & 0xC0) != 0x80;
        return length;
    }
};

// Walks an attribute's value as written beside the value gumbo decoded, to
// tell where a character of the decoded value stands in the source. Gumbo
// changes a value only thus: a character reference becomes what it stands
// for, CR LF and CR become LF, and a NUL, a control character or a
// noncharacter becomes U+FFFD; every other character stays one character.
class ValueWalker {
public:
    ValueWalker(QByteArrayView written, TextPlace first, const QString& decoded, References& references)
        : written(written), place(first), decoded(decoded), references(references)
    {
    }

    // Of the decoded value's character at `index`: ask in increasing order.
    TextPlace placeOf(qsizetype index)
    {
        while (decodedAt < index && writtenAt < written.size())
            step();
        return place;
    }

    // The decoded value with the controls and noncharacters gumbo made
    // U+FFFD as they were written, for HTML keeps them (and a browser asks
    // for "%01", not "%EF%BF%BD"); a NUL stays U+FFFD, as in HTML. Of a
    // walker not yet asked.
    QString withCharactersKept()
    {
        QString kept;
        while (writtenAt < written.size()) {
            const qsizetype from = decodedAt;
            const qsizetype character = writtenAt;
            if (step() && decoded.sliced(from, decodedAt - from) == QChar::ReplacementCharacter && written[character] != '\0')
                kept += QString::fromUtf8(written.sliced(character, writtenAt - character));
            else
                kept += decoded.sliced(from, decodedAt - from);
        }
        return kept + decoded.sliced(decodedAt);
    }

private:
    QByteArrayView written;
    qsizetype writtenAt = 0;
    TextPlace place;
    const QString& decoded;
    qsizetype decodedAt = 0;
    References& references;

    // One character as written, or one reference: true for a character
    // that stands for itself.
    bool step()
    {
        const char c = written[writtenAt];
        if (c == '&') {
            if (const auto reference = references.at(written, writtenAt)) {
                writtenAt += reference->written;
                place.column += int(reference->written);
                skipDecoded(reference->characters);
                return false;
            }
        }
        const bool lineEnd = c == '\r' || c == '\n';
        if (lineEnd) {
            writtenAt += c == '\r' && writtenAt + 1 < written.size() && written[writtenAt + 1] == '\n' ? 2 : 1;
            place = {place.line + 1, 1};
        } else {
            do
                ++writtenAt;
            while (writtenAt < written.size() && (written[writtenAt] & 0xC0) == 0x80);
            ++place.column;
        }
        skipDecoded(1);
        return !lineEnd;
    }

    void skipDecoded(int characters)
    {
        for (; characters > 0 && decodedAt < decoded.size(); --characters)
            decodedAt += decoded[decodedAt].isHighSurrogate() && decodedAt + 1 < decoded.size()
                              && decoded[decodedAt + 1].isLowSurrogate()
                           ? 2
                           : 1;
    }
};

// A stretch of an attribute's decoded value that is an address.
struct Span {
    qsizetype start = 0;
    qsizetype end = 0;
};

// The stretch without the ASCII white space around it.
Span trimmed(const QString& text, Span span)
{
    while (span.start < span.end && isSpace(text[span.start]))
        ++span.start;
    while (span.end > span.start && isSpace(text[span.end - 1]))
        --span.end;
    return span;
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
        while (at < end && (isSpace(srcset[at]) || srcset[at] == u','))
            ++at;
        if (at >= end)
            return addresses;
        Span address{at, at};
        while (at < end && !isSpace(srcset[at]))
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
        while (at < end && isSpace(content[at]))
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
        if (!sees(u';') && !sees(u',') && !isSpace(content[at]))
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

const GumboAttribute* attributeNamed(const GumboElement& element, const char* name)
{
    return gumbo_get_attribute(&element.attributes, name);
}

QString decodedValueOf(const GumboAttribute* attribute) { return QString::fromUtf8(attribute->value); }

// An attribute's value as the source holds it, without its quotes, and
// where it starts. Gumbo's value_start and the start of its original_value
// are of no use: the one is of the opening quote, and the other leaves out
// a character reference that starts a value without quotes (x=&amp;y holds
// "y"), so the value is found after the name, its white space and '='. A
// value-less attribute (whose original_value gumbo gives as its name)
// stands at its name.
struct WrittenValue {
    QByteArrayView text;
    TextPlace first;
};

WrittenValue writtenValueOf(const GumboAttribute& attribute)
{
    const GumboStringPiece& name = attribute.original_name;
    WrittenValue value{{}, {int(attribute.name_start.line), int(attribute.name_start.column)}};
    if (attribute.original_value.data == name.data)
        return value;
    const char* at = name.data + name.length;
    const char* end = attribute.original_value.data + attribute.original_value.length;
    for (const char* c = name.data; c < at; ++c)
        value.first.column += (*c & 0xC0) != 0x80;
    const auto skipSpace = [&] {
        for (; at < end && isSpace(QLatin1Char(*at)); ++at) {
            if (*at == '\r' && at + 1 < end && at[1] == '\n')
                ++at;
            value.first = *at == '\n' || *at == '\r' ? TextPlace{value.first.line + 1, 1}
                                                     : TextPlace{value.first.line, value.first.column + 1};
        }
    };
    skipSpace();
    if (at < end && *at == '=') {
        ++at;
        ++value.first.column;
    }
    skipSpace();
    value.text = QByteArrayView(at, end - at);
    if (!value.text.isEmpty() && (value.text[0] == '"' || value.text[0] == '\'')) {
        const bool closed = value.text.size() >= 2 && value.text.back() == value.text[0];
        value.text = value.text.sliced(1, value.text.size() - (closed ? 2 : 1));
        ++value.first.column;
    }
    return value;
}

// The words of a rel, in lower case.
QStringList relOf(const GumboElement& element)
{
    const GumboAttribute* rel = attributeNamed(element, "rel");
    if (!rel)
        return {};
    QStringList words;
    const QString value = decodedValueOf(rel).toLower();
    for (qsizetype at = 0; at < value.size();) {
        const qsizetype word = at;
        while (at < value.size() && !isSpace(value[at]))
            ++at;
        if (at > word)
            words.append(value.sliced(word, at - word));
        ++at;
    }
    return words;
}

class Reader {
public:
    explicit Reader(TextPlace start) : start(start) {}

    DocumentLinks read(QByteArrayView utf8)
    {
        ParseMemory memory;
        const GumboOutput* output = memory.parse(utf8);
        // In document order, and without recursing: nesting has no limit.
        // A template's content is no part of the document until a script
        // stamps it in: its links count, but not as the document's base.
        struct Pending {
            const GumboNode* node;
            bool inTemplate;
        };
        std::vector<Pending> pending{{output->document, false}};
        while (!pending.empty()) {
            const auto [node, inTemplate] = pending.back();
            pending.pop_back();
            const GumboVector* children = nullptr;
            if (node->type == GUMBO_NODE_DOCUMENT) {
                children = &node->v.document.children;
            } else if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
                take(node->v.element, inTemplate);
                children = &node->v.element.children;
            }
            for (unsigned int i = children ? children->length : 0; i-- > 0;)
                pending.push_back({static_cast<const GumboNode*>(children->data[i]),
                                   inTemplate || node->type == GUMBO_NODE_TEMPLATE});
        }
        return std::move(found);
    }

private:
    TextPlace start;
    DocumentLinks found;
    bool baseTaken = false;
    References references;

    void take(const GumboElement& element, bool inTemplate)
    {
        const bool html = element.tag_namespace == GUMBO_NAMESPACE_HTML;
        const bool nofollow = html
                           && (element.tag == GUMBO_TAG_A || element.tag == GUMBO_TAG_AREA || element.tag == GUMBO_TAG_LINK)
                           && relOf(element).contains(u"nofollow");
        for (unsigned int i = 0; i < element.attributes.length; ++i) {
            const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
            if ((std::strcmp(attribute->name, "id") == 0
                 || (html && element.tag == GUMBO_TAG_A && std::strcmp(attribute->name, "name") == 0))
                && *attribute->value)
                found.anchors.append(valueOf(*attribute));
            if (!html)
                continue;
            for (const LinkAttribute& link : LinkAttributes) {
                if (link.tag == element.tag && std::strcmp(link.attribute, attribute->name) == 0
                    && !(link.tag == GUMBO_TAG_LINK && isServerHint(element)))
                    takeLinks(element, *attribute, link.holds, nofollow);
            }
        }
        if (!html)
            return;
        if (element.tag == GUMBO_TAG_BASE && !baseTaken && !inTemplate) {
            if (const GumboAttribute* href = attributeNamed(element, "href")) {
                const QString value = valueOf(*href);
                const Span address = trimmed(value, {0, value.size()});
                found.base = value.sliced(address.start, address.end - address.start);
                baseTaken = true;
            }
        }
        if (element.tag == GUMBO_TAG_META) {
            const GumboAttribute* equiv = attributeNamed(element, "http-equiv");
            const GumboAttribute* content = attributeNamed(element, "content");
            if (equiv && content && decodedValueOf(equiv).compare(u"refresh", Qt::CaseInsensitive) == 0) {
                const QString value = valueOf(*content);
                if (const auto address = refreshAddress(value))
                    addLinks(*content, value, {trimmed(value, *address)}, QStringLiteral("meta refresh"), false);
            }
        }
    }

    // The value as a browser reads it, the characters gumbo replaced kept.
    QString valueOf(const GumboAttribute& attribute)
    {
        const QString decoded = decodedValueOf(&attribute);
        if (!decoded.contains(QChar::ReplacementCharacter))
            return decoded;
        const WrittenValue written = writtenValueOf(attribute);
        return ValueWalker(written.text, written.first, decoded, references).withCharactersKept();
    }

    // rel=preconnect and rel=dns-prefetch name a server to reach early, not
    // a resource.
    static bool isServerHint(const GumboElement& element)
    {
        const QStringList rel = relOf(element);
        return rel.contains(u"preconnect") || rel.contains(u"dns-prefetch");
    }

    void takeLinks(const GumboElement& element, const GumboAttribute& attribute, Holds holds, bool nofollow)
    {
        const QString value = valueOf(attribute);
        std::vector<Span> addresses;
        if (holds == Holds::Srcset)
            addresses = srcsetAddresses(value);
        else
            addresses.push_back(trimmed(value, {0, value.size()}));
        const QString name = QString::fromUtf8(gumbo_normalized_tagname(element.tag)) + u' '
                           + QString::fromUtf8(attribute.name);
        addLinks(attribute, value, addresses, name, nofollow);
    }

    void addLinks(const GumboAttribute& attribute, const QString& value, const std::vector<Span>& addresses,
                  const QString& element, bool nofollow)
    {
        const WrittenValue written = writtenValueOf(attribute);
        ValueWalker walker(written.text, written.first, value, references);
        for (const Span& address : addresses) {
            found.links.push_back({value.sliced(address.start, address.end - address.start),
                                   shifted(walker.placeOf(address.start)), element, nofollow});
        }
    }

    // From a place in the parsed text to one in the file around it.
    TextPlace shifted(TextPlace place) const
    {
        if (place.line == 1)
            return {start.line, start.column + place.column - 1};
        return {start.line + place.line - 1, place.column};
    }
};
}  // namespace

DocumentLinks HtmlLinks::read(QByteArrayView bytes) { return Reader({}).read(HtmlEncoding::toUtf8(bytes)); }

DocumentLinks HtmlLinks::readUtf8(QByteArrayView utf8, TextPlace start)
{
    if (utf8.isValidUtf8())
        return Reader(start).read(utf8);
    return Reader(start).read(QString::fromUtf8(utf8).toUtf8());
}
