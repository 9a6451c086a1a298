// A sitemap's bytes to its links, or to why it is none. Each link is kept
// trimmed and non-empty, and its place, in a UTF-8 document, holds the
// address's first character or the '&' of the reference that writes it. The
// same bytes gzip-compressed read the same.
#include "Require.h"
#include "engine/extract/SitemapLinks.h"

#include <QStringConverter>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include <zlib.h>

namespace {
QByteArray gzipped(QByteArrayView bytes)
{
    z_stream stream{};
    require(deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK);
    QByteArray compressed(deflateBound(&stream, bytes.size()), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = bytes.size();
    stream.next_out = reinterpret_cast<Bytef*>(compressed.data());
    stream.avail_out = compressed.size();
    require(deflate(&stream, Z_FINISH) == Z_STREAM_END);
    compressed.truncate(stream.total_out);
    deflateEnd(&stream);
    return compressed;
}

// The code point at a line and column, counted as an editor counts them.
char32_t characterAt(QStringView text, TextPlace place)
{
    int line = 1;
    int column = 1;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char32_t character = text.at(at).isHighSurrogate() && at + 1 < text.size()
                                     ? QChar::surrogateToUcs4(text[at], text[at + 1])
                                     : text[at].unicode();
        if (line == place.line && column == place.column)
            return character;
        if (character == u'\r' || character == u'\n') {
            at += character == u'\r' && at + 1 < text.size() && text[at + 1] == u'\n';
            ++line;
            column = 1;
        } else {
            at += character > 0xFFFF;
            ++column;
        }
    }
    return 0;
}

bool sameResult(const std::variant<DocumentLinks, QString>& one, const std::variant<DocumentLinks, QString>& other)
{
    if (one.index() != other.index())
        return false;
    if (const QString* refusal = std::get_if<QString>(&one))
        return *refusal == std::get<QString>(other);
    const auto& links = std::get<DocumentLinks>(one).links;
    const auto& otherLinks = std::get<DocumentLinks>(other).links;
    return std::equal(links.begin(), links.end(), otherLinks.begin(), otherLinks.end(), [](const auto& a, const auto& b) {
        return a.address == b.address && a.place == b.place && a.element == b.element;
    });
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto result = SitemapLinks::read(bytes);
    if (const DocumentLinks* found = std::get_if<DocumentLinks>(&result)) {
        // Read as UTF-8 unless a byte order mark, '<' written in UTF-16 or 32,
        // or a declaration says otherwise.
        const auto detected = QStringConverter::encodingForData(bytes, u'<');
        const bool utf8 = bytes.isValidUtf8() && !detected
                       && !bytes.first(std::min<qsizetype>(bytes.size(), 1024)).contains("encoding");
        const QString text = QString::fromUtf8(bytes);
        for (const FoundLink& link : found->links) {
            require(!link.address.isEmpty() && link.address == link.address.trimmed());
            require(link.element == u"loc" || link.element == u"sitemap loc");
            if (utf8) {
                const char32_t first = link.address.at(0).isHighSurrogate()
                                         ? QChar::surrogateToUcs4(link.address[0], link.address[1])
                                         : link.address[0].unicode();
                const char32_t written = characterAt(text, link.place);
                require(written == first || written == u'&');
            }
        }
    } else {
        require(!std::get<QString>(result).isEmpty());
    }
    if (!bytes.startsWith("\x1f\x8b"))
        require(sameResult(result, SitemapLinks::read(gzipped(bytes))));
    return 0;
}
