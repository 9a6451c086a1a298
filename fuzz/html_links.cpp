// Any bytes as an HTML document: every place must be one the text has (a
// line it has, a column at most one past that line's end), no address may
// keep white space around it, and the same text read as a fragment from
// another place must give the same links, shifted. Read again tag by tag,
// as a page too deep for a tree is, the places hold too; and the pass that
// tells the two apart must count the elements gumbo makes. A page read by
// its tags must give what its tree gives.
#include "GumboElements.h"
#include "Require.h"
#include "engine/extract/HtmlEncoding.h"
#include "engine/extract/HtmlLinks.h"
#include "engine/extract/HtmlNesting.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {
bool isSpace(QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r'; }

// The characters on each line, CR LF, CR and LF each ending one.
std::vector<int> lineLengths(const QString& text)
{
    std::vector<int> lengths{0};
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            lengths.push_back(0);
        } else if (!text[i].isLowSurrogate()) {
            ++lengths.back();
        }
    }
    return lengths;
}

void requirePlacesIn(const DocumentLinks& found, const std::vector<int>& lengths)
{
    for (const FoundLink& link : found.links) {
        require(link.place.line >= 1 && link.place.column >= 1);
        require(size_t(link.place.line) <= lengths.size());
        require(link.place.column <= lengths[size_t(link.place.line) - 1] + 1);
        require(link.address.isEmpty() || (!isSpace(link.address.front()) && !isSpace(link.address.back())));
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const DocumentLinks found = HtmlLinks::read(bytes.toByteArray());
    const QByteArray utf8 = HtmlEncoding::toUtf8(bytes.toByteArray());
    require(utf8.isValidUtf8());
    // As an .xhtml file, whose XML declaration names the encoding.
    require(HtmlEncoding::toUtf8(bytes.toByteArray(), true).isValidUtf8());
    const std::vector<int> lengths = lineLengths(QString::fromUtf8(utf8));
    requirePlacesIn(found, lengths);

    const HtmlNesting::Cost cost = HtmlNesting::of(utf8);
    if (cost.affordable)
        require(cost.elements == gumboElements(utf8));
    const DocumentLinks tree = HtmlLinks::readThroughTree(utf8);
    require(tree.anchors == found.anchors && tree.base == found.base && tree.links.size() == found.links.size());
    for (size_t i = 0; i < found.links.size(); ++i) {
        const FoundLink& a = found.links[i];
        const FoundLink& b = tree.links[i];
        require(a.address == b.address && a.place == b.place && a.element == b.element && a.nofollow == b.nofollow);
    }
    // A frameset first is a page the pass gives up on at once: read tag by tag.
    const QByteArray tagByTag = "<frameset>" + utf8;
    requirePlacesIn(HtmlLinks::readUtf8(tagByTag), lineLengths(QString::fromUtf8(tagByTag)));

    constexpr TextPlace start{3, 7};
    const DocumentLinks fragment = HtmlLinks::readUtf8(utf8, start);
    require(fragment.links.size() == found.links.size() && fragment.anchors == found.anchors && fragment.base == found.base);
    for (size_t i = 0; i < found.links.size(); ++i) {
        const TextPlace place = found.links[i].place;
        const TextPlace shifted = place.line == 1 ? TextPlace{start.line, start.column + place.column - 1}
                                                  : TextPlace{start.line + place.line - 1, place.column};
        require(fragment.links[i].address == found.links[i].address && fragment.links[i].place == shifted);
    }
    // Gumbo asserted on nothing it was given: a tree the pass let it build,
    // or a tag alone.
    require(GumboParse::stops() == 0);
    return 0;
}
