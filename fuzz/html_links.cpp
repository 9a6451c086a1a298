// Any bytes as an HTML document: every place must be one the text has (a
// line it has, a column at most one past that line's end), no address may
// keep white space around it, and the same text read as a fragment from
// another place must give the same links, shifted.
#include "engine/extract/HtmlEncoding.h"
#include "engine/extract/HtmlLinks.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {
void require(bool holds)
{
    if (!holds)
        std::abort();
}

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
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const DocumentLinks found = HtmlLinks::read(bytes);
    const QByteArray utf8 = HtmlEncoding::toUtf8(bytes);
    require(utf8.isValidUtf8());
    const std::vector<int> lengths = lineLengths(QString::fromUtf8(utf8));
    for (const FoundLink& link : found.links) {
        require(link.place.line >= 1 && link.place.column >= 1);
        require(size_t(link.place.line) <= lengths.size());
        require(link.place.column <= lengths[size_t(link.place.line) - 1] + 1);
        require(link.address.isEmpty() || (!isSpace(link.address.front()) && !isSpace(link.address.back())));
    }

    constexpr TextPlace start{3, 7};
    const DocumentLinks fragment = HtmlLinks::readUtf8(utf8, start);
    require(fragment.links.size() == found.links.size() && fragment.anchors == found.anchors && fragment.base == found.base);
    for (size_t i = 0; i < found.links.size(); ++i) {
        const TextPlace place = found.links[i].place;
        const TextPlace shifted = place.line == 1 ? TextPlace{start.line, start.column + place.column - 1}
                                                  : TextPlace{start.line + place.line - 1, place.column};
        require(fragment.links[i].address == found.links[i].address && fragment.links[i].place == shifted);
    }
    return 0;
}
