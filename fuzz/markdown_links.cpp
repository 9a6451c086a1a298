// Any bytes as a Markdown document: every place must be one the text has (a
// line it has, a column at most one past that line's end) and stand on what
// it names: an autolink on its address, any other Markdown link on its
// address or the "[" or "!" that opens it. A blank line put before the text
// (after a byte order mark, unless another follows, which CommonMark drops
// at the start of a document alone) moves each link one line down and
// changes nothing else.
#include "Require.h"
#include "engine/extract/HtmlAttributeText.h"
#include "engine/extract/MarkdownLinks.h"

#include <QString>
#include <QStringDecoder>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {
// Each line's characters, CR LF, CR and LF each ending one.
std::vector<std::u32string> linesOf(const QString& text)
{
    std::vector<std::u32string> lines(1);
    const QList<uint> characters = text.toUcs4();
    for (qsizetype i = 0; i < characters.size(); ++i) {
        if (characters[i] == U'\r' || characters[i] == U'\n') {
            if (characters[i] == U'\r' && i + 1 < characters.size() && characters[i + 1] == U'\n')
                ++i;
            lines.emplace_back();
        } else {
            lines.back() += char32_t(characters[i]);
        }
    }
    return lines;
}

// Whether the character at a link's place can start it: the address's
// first (less the "mailto:" or "http://" a bare one is given), an escape or
// a character reference, or, but for an autolink, the link's opening.
bool startsThere(const FoundLink& link, char32_t there)
{
    if (link.address.isEmpty())
        return link.element != u"autolink";
    const auto firstOf = [](QStringView address) { return address.isEmpty() ? U'\0' : address.toUcs4().front(); };
    QStringView less = link.address;
    for (QStringView added : {u"mailto:", u"http://"}) {
        if (less.startsWith(added))
            less = less.sliced(added.size());
    }
    if (there == firstOf(link.address) || there == firstOf(less) || there == U'\\' || there == U'&')
        return true;
    return link.element != u"autolink" && (there == U'[' || there == U'!');
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const DocumentLinks found = MarkdownLinks::read(bytes);
    const QByteArray byteOrderMark = bytes.startsWith("\xef\xbb\xbf") ? QByteArray("\xef\xbb\xbf") : QByteArray();
    bytes = bytes.sliced(byteOrderMark.size());
    // Byte order marks before the text are none of it, one after its first
    // character is; a NUL is read as U+FFFD, as CommonMark has it.
    const bool moreMarks = bytes.startsWith("\xef\xbb\xbf");
    while (bytes.startsWith("\xef\xbb\xbf"))
        bytes = bytes.sliced(3);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const std::vector<std::u32string> lines =
        linesOf(QString(decoder.decode(bytes)).replace(QChar(u'\0'), QChar(QChar::ReplacementCharacter)));
    for (const FoundLink& link : found.links) {
        require(link.place.line >= 1 && link.place.column >= 1);
        require(size_t(link.place.line) <= lines.size());
        const std::u32string& line = lines[size_t(link.place.line) - 1];
        require(size_t(link.place.column) <= line.size() + 1);
        const bool markdown = link.element == u"link" || link.element == u"image" || link.element == u"autolink";
        if (markdown)
            require(startsThere(link, size_t(link.place.column) <= line.size() ? line[size_t(link.place.column) - 1] : U'\0'));
    }

    // Gumbo asserted on none of the HTML inside it (a stop is counted for
    // good, so the first input to cause one is the one that fails).
    require(GumboParse::stops() == 0);
    // A blank line before a second mark makes it text.
    if (moreMarks)
        return 0;
    const DocumentLinks moved = MarkdownLinks::read(byteOrderMark + '\n' + bytes.toByteArray());
    require(moved.links.size() == found.links.size() && moved.anchors == found.anchors);
    for (size_t i = 0; i < found.links.size(); ++i) {
        const FoundLink& link = found.links[i];
        require(moved.links[i].address == link.address && moved.links[i].element == link.element);
        require(moved.links[i].place == TextPlace{link.place.line + 1, link.place.column});
    }
    require(GumboParse::stops() == 0);
    return 0;
}
