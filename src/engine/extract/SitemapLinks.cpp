#include "engine/extract/SitemapLinks.h"

#include "engine/extract/DocumentFiles.h"

#include <QScopeGuard>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <utility>

#include <zlib.h>

namespace {
constexpr QStringView SitemapNamespace = u"http://www.sitemaps.org/schemas/sitemap/0.9";
// Qt's reader compares each attribute of a tag with every one before it, so
// a tag with a million would keep it busy for hours; a sitemap's tags have a
// few.
constexpr int MostAttributesInATag = 64;
// Sitemaps nest four deep, with their extensions; depth costs only memory.
constexpr int MostNesting = 64;
constexpr QByteArrayView GzipMagic("\x1f\x8b");

struct Refusal {
    QString message;
};

Refusal tooLargeInflated()
{
    return {QStringLiteral("more than %1 once inflated, the most a document may be").arg(DocumentFiles::mostDocumentSize())};
}

// Every gzip member, as gunzip reads them, anything else after the last one
// left; inflating stops one byte past the bound, so that a small file cannot
// fill the memory.
std::variant<QByteArray, Refusal> inflated(QByteArrayView compressed)
{
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return Refusal{QStringLiteral("zlib could not start inflating")};
    const auto ending = qScopeGuard([&stream] { inflateEnd(&stream); });
    // zlib's interface predates const, and counts in uInt: anything past 4
    // GiB, far beyond the bound, is taken as missing.
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(std::min<qsizetype>(compressed.size(), std::numeric_limits<uInt>::max()));
    // Room for text that compresses four to one at first, doubled as needed.
    const qsizetype room = std::clamp<qsizetype>(4 * compressed.size(), 4096, DocumentFiles::MostDocumentBytes + 1);
    QByteArray bytes(room, Qt::Uninitialized);
    qsizetype produced = 0;
    for (;;) {
        if (produced == bytes.size()) {
            if (produced > DocumentFiles::MostDocumentBytes)
                return tooLargeInflated();
            bytes.resize(std::min(2 * produced, DocumentFiles::MostDocumentBytes + 1));
        }
        stream.next_out = reinterpret_cast<Bytef*>(bytes.data() + produced);
        stream.avail_out = static_cast<uInt>(bytes.size() - produced);
        const int result = inflate(&stream, Z_NO_FLUSH);
        produced = bytes.size() - stream.avail_out;
        if (result == Z_STREAM_END) {
            const QByteArrayView rest(reinterpret_cast<const char*>(stream.next_in), stream.avail_in);
            if (!rest.startsWith(GzipMagic))
                break;
            inflateReset(&stream);
        } else if (result == Z_BUF_ERROR) {
            // There was room for more: the input ran out.
            return Refusal{QStringLiteral("the gzip data stops short: the file is cut off")};
        } else if (result != Z_OK) {
            return Refusal{QStringLiteral("the gzip data is damaged (%1)")
                               .arg(stream.msg ? QString::fromUtf8(stream.msg) : QString::number(result))};
        }
    }
    if (produced > DocumentFiles::MostDocumentBytes)
        return tooLargeInflated();
    bytes.truncate(produced);
    return bytes;
}

// Lines and columns of offsets into a text, asked for in increasing order.
class PlaceCounter {
public:
    explicit PlaceCounter(QStringView text) : m_text(text) {}

    TextPlace placeOf(qsizetype offset)
    {
        offset = std::clamp<qsizetype>(offset, 0, m_text.size());
        if (offset < m_offset)
            *this = PlaceCounter(m_text);
        for (; m_offset < offset; ++m_offset) {
            const QChar character = m_text[m_offset];
            const bool afterCarriageReturn = m_offset > 0 && m_text[m_offset - 1] == u'\r';
            const bool afterHighSurrogate = m_offset > 0 && m_text[m_offset - 1].isHighSurrogate();
            if (character == u'\r' || (character == u'\n' && !afterCarriageReturn)) {
                ++m_place.line;
                m_place.column = 1;
            } else if (character != u'\n' && !(character.isLowSurrogate() && afterHighSurrogate)) {
                ++m_place.column;
            }
        }
        return m_place;
    }

private:
    QStringView m_text;
    qsizetype m_offset = 0;
    TextPlace m_place;
};

Refusal notXml(PlaceCounter& places, qsizetype offset, const QString& why)
{
    const TextPlace place = places.placeOf(offset);
    return {QStringLiteral("not XML at line %1, column %2: %3").arg(place.line).arg(place.column).arg(why)};
}

// The encoding Qt's reader would take for the bytes: the one the byte order
// mark or the way '<' is written gives, else the one the XML declaration
// names, else UTF-8.
std::variant<QStringDecoder, Refusal> decoderFor(QByteArrayView bytes)
{
    constexpr auto Flags = QStringConverter::Flag::Stateless;
    if (const auto encoding = QStringConverter::encodingForData(bytes, u'<'))
        return QStringDecoder(*encoding, Flags);
    // The declaration comes first, in the first few bytes.
    QXmlStreamReader declaration(bytes.first(std::min<qsizetype>(bytes.size(), 1024)).toByteArray());
    declaration.readNext();
    if (declaration.hasError() && declaration.error() != QXmlStreamReader::PrematureEndOfDocumentError)
        return Refusal{QStringLiteral("not XML at line %1, column %2: %3")
                           .arg(declaration.lineNumber())
                           .arg(declaration.columnNumber() + 1)
                           .arg(declaration.errorString())};
    const QString named = declaration.documentEncoding().toString();
    if (named.isEmpty())
        return QStringDecoder(QStringConverter::Utf8, Flags);
    QStringDecoder decoder(named.toLatin1().constData(), Flags);
    if (!decoder.isValid())
        return Refusal{QStringLiteral("not XML: its encoding %1 is unknown").arg(named)};
    return decoder;
}

// Where decoding first met bytes it could not decode. A U+FFFD that UTF-8
// bytes spell out is a character of the text, not a fault.
qsizetype firstUndecoded(QStringView text, QByteArrayView bytes, bool utf8)
{
    constexpr QByteArrayView ByteOrderMark("\xEF\xBB\xBF"), ReplacementCharacter("\xEF\xBF\xBD");
    qsizetype byte = bytes.startsWith(ByteOrderMark) ? ByteOrderMark.size() : 0;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char16_t character = text[at].unicode();
        if (character == QChar::ReplacementCharacter
            && !(utf8 && byte < bytes.size() && bytes.sliced(byte).startsWith(ReplacementCharacter)))
            return at;
        byte += character < 0x80 ? 1 : character < 0x800 || QChar::isSurrogate(character) ? 2 : 3;
    }
    return text.size();
}

// Decoded here rather than by the reader, so that the reader's offsets
// index this text, where they become lines and columns.
std::variant<QString, Refusal> textOf(QByteArrayView bytes)
{
    auto decoder = decoderFor(bytes);
    if (const Refusal* refusal = std::get_if<Refusal>(&decoder))
        return *refusal;
    QStringDecoder& decoding = std::get<QStringDecoder>(decoder);
    QString text = decoding(bytes);
    if (!decoding.hasError())
        return text;
    const QString encoding = QString::fromLatin1(decoding.name());
    PlaceCounter places(text);
    return notXml(places, firstUndecoded(text, bytes, encoding == u"UTF-8"),
                  QStringLiteral("bytes that are not %1 text").arg(encoding));
}

struct Tag {
    // Just past its closing '>'; the text's end when none closes it.
    qsizetype end = 0;
    // Its '=' signs outside quoted values, one an attribute.
    int attributes = 0;
    // Whether a '[' stands outside them, as in a DOCTYPE with a subset.
    bool bracket = false;
};

// The tag opening at `at`, read to the '>' that closes it, quoted values
// kept whole.
Tag tagAt(QStringView text, qsizetype at)
{
    Tag tag{text.size()};
    for (QChar quote; ++at < text.size();) {
        const QChar character = text[at];
        if (!quote.isNull()) {
            if (character == quote)
                quote = QChar();
        } else if (character == u'"' || character == u'\'') {
            quote = character;
        } else if (character == u'>') {
            tag.end = at + 1;
            break;
        } else {
            tag.bracket |= character == u'[';
            tag.attributes += character == u'=';
        }
    }
    return tag;
}

// Markup that would cost Qt's reader far more than the document's size
// warrants, refused before the reader meets it: an internal DTD subset,
// whose entities the reader expands however often they are used (and its
// parameter entities inside the DTD itself), and a tag with too many
// attributes. No sitemap has either. Read tag by tag, with comments, CDATA
// and processing instructions skipped whole, which keeps step with the
// reader over any document it reads.
std::optional<Refusal> costlyMarkup(QStringView text, PlaceCounter& places)
{
    constexpr std::array<std::pair<QStringView, QStringView>, 3> Opaque{
        {{u"<!--", u"-->"}, {u"<![CDATA[", u"]]>"}, {u"<?", u"?>"}}};
    for (qsizetype at = 0; (at = text.indexOf(u'<', at)) >= 0;) {
        const QStringView rest = text.sliced(at);
        const auto opaque = std::find_if(Opaque.begin(), Opaque.end(),
                                         [rest](const auto& markup) { return rest.startsWith(markup.first); });
        if (opaque != Opaque.end()) {
            const qsizetype end = text.indexOf(opaque->second, at + opaque->first.size());
            if (end < 0)
                return std::nullopt;  // the reader says what is wrong
            at = end + opaque->second.size();
            continue;
        }
        const Tag tag = tagAt(text, at);
        if (tag.bracket && rest.startsWith(u"<!DOCTYPE"))
            return notXml(places, at,
                          QStringLiteral("a DTD that declares things of its own, which no sitemap needs: "
                                         "refused so that none of its entities is expanded"));
        if (tag.attributes > MostAttributesInATag)
            return notXml(places, at,
                          QStringLiteral("a tag with more than %1 attributes, which no sitemap needs").arg(MostAttributesInATag));
        at = tag.end;
    }
    return std::nullopt;
}

// How long the character reference at the start of the text is when it
// stands for white space; 0 for anything else.
qsizetype spaceReferenceLength(QStringView text)
{
    if (!text.startsWith(u"&#"))
        return 0;
    const qsizetype end = text.indexOf(u';');
    const bool hexadecimal = text.startsWith(u"&#x");
    const qsizetype digits = hexadecimal ? 3 : 2;
    if (end <= digits)
        return 0;
    bool valid = false;
    const uint character = text.sliced(digits, end - digits).toUInt(&valid, hexadecimal ? 16 : 10);
    return valid && QChar::isSpace(character) ? end + 1 : 0;
}

// Where, in a <loc>'s content starting at the offset, the first character
// stands that trimming its text keeps: past white space, also written as a
// character reference, comments, processing instructions, tags and the
// markup around CDATA sections.
qsizetype firstKeptCharacter(QStringView text, qsizetype at)
{
    constexpr QStringView CdataStart = u"<![CDATA[", CdataEnd = u"]]>";
    bool inCdata = false;
    while (at < text.size()) {
        const QStringView rest = text.sliced(at);
        qsizetype skipped = text[at].isSpace() ? 1 : 0;
        if (inCdata && rest.startsWith(CdataEnd)) {
            skipped = CdataEnd.size();
            inCdata = false;
        } else if (!inCdata && rest.startsWith(CdataStart)) {
            skipped = CdataStart.size();
            inCdata = true;
        } else if (!inCdata && (rest.startsWith(u"<!--") || rest.startsWith(u"<?"))) {
            const bool instruction = rest.startsWith(u"<?");
            const QStringView opening = instruction ? u"<?" : u"<!--", closing = instruction ? u"?>" : u"-->";
            const qsizetype end = rest.indexOf(closing, opening.size());
            skipped = end < 0 ? rest.size() : end + closing.size();
        } else if (!inCdata && rest.startsWith(u'<')) {
            skipped = tagAt(text, at).end - at;  // of an element inside, whose text is the loc's too
        } else if (!inCdata && !skipped) {
            skipped = spaceReferenceLength(rest);
        }
        if (!skipped)
            break;
        at += skipped;
    }
    return at;
}

// Whether the root element is a sitemap's; the element a <loc> under it is
// named by, "loc" or "sitemap loc", through `index`.
std::optional<Refusal> checkRoot(const QXmlStreamReader& reader, bool& index)
{
    const QStringView name = reader.name();
    if (name != u"urlset" && name != u"sitemapindex")
        return Refusal{QStringLiteral("not a sitemap: the root element is <%1>, not <urlset> or <sitemapindex>")
                           .arg(reader.qualifiedName())};
    // Namespace processing is off (see read()): the declaration is an attribute.
    const QString declaration = reader.prefix().isEmpty() ? QStringLiteral("xmlns")
                                                          : QStringLiteral("xmlns:%1").arg(reader.prefix());
    const QStringView space = reader.attributes().value(declaration);
    if (!space.isEmpty() && space != SitemapNamespace)
        return Refusal{QStringLiteral("not a sitemap: the root element <%1> is in the namespace %2, not %3")
                           .arg(reader.qualifiedName(), space, SitemapNamespace)};
    index = name == u"sitemapindex";
    return std::nullopt;
}
}  // namespace

std::variant<DocumentLinks, QString> SitemapLinks::read(QByteArrayView bytes)
{
    QByteArray inflatedBytes;
    if (bytes.startsWith(GzipMagic)) {
        auto inflating = inflated(bytes);
        if (const Refusal* refusal = std::get_if<Refusal>(&inflating))
            return refusal->message;
        inflatedBytes = std::move(std::get<QByteArray>(inflating));
        bytes = inflatedBytes;
    }
    auto decoding = textOf(bytes);
    if (const Refusal* refusal = std::get_if<Refusal>(&decoding))
        return refusal->message;
    const QString text = std::move(std::get<QString>(decoding));
    PlaceCounter places(text);
    if (const auto refusal = costlyMarkup(text, places))
        return refusal->message;

    // Without namespace processing the reader keeps no stack of namespaces
    // to search for every element and attribute: the sitemap's elements are
    // those written with the root element's prefix, which is how they are.
    QXmlStreamReader reader(text);
    reader.setNamespaceProcessing(false);
    DocumentLinks found;
    bool index = false;
    QString prefix;
    int depth = 0;
    bool inEntry = false;
    // The <loc> being read: where its content starts (-1 outside one), and
    // its text so far.
    qsizetype locContent = -1;
    QString address;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth > MostNesting)
                return notXml(places, reader.characterOffset(),
                              QStringLiteral("elements nested more than %1 deep, which no sitemap is").arg(MostNesting))
                    .message;
            if (depth == 1) {
                if (const auto refusal = checkRoot(reader, index))
                    return refusal->message;
                prefix = reader.prefix().toString();
            } else if (depth == 2) {
                inEntry = reader.name() == (index ? u"sitemap" : u"url") && reader.prefix() == prefix;
            } else if (depth == 3 && inEntry && reader.name() == u"loc" && reader.prefix() == prefix) {
                locContent = reader.characterOffset();
                address.clear();
            }
            break;
        case QXmlStreamReader::Characters:
            if (locContent >= 0)
                address += reader.text();
            break;
        case QXmlStreamReader::EntityReference:
            // Declared only in a DTD outside the document, which is not read;
            // the place is that of its '&'.
            return notXml(places, reader.characterOffset() - reader.name().size() - 2,
                          QStringLiteral("the entity &%1; is declared outside the document").arg(reader.name()))
                .message;
        case QXmlStreamReader::EndElement:
            if (depth-- == 3 && locContent >= 0) {
                address = address.trimmed();
                if (!address.isEmpty())
                    found.links.push_back({address, places.placeOf(firstKeptCharacter(text, locContent)),
                                           index ? QStringLiteral("sitemap loc") : QStringLiteral("loc")});
                locContent = -1;
            }
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        return notXml(places, reader.characterOffset(), reader.errorString()).message;
    return found;
}
