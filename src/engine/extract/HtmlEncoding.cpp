#include "engine/extract/HtmlEncoding.h"

#include "engine/extract/HtmlAttributeText.h"

#include <QString>
#include <QByteArrayList>
#include <QStringDecoder>

#include <optional>

namespace {
// How far a browser looks for a <meta> naming the encoding.
constexpr qsizetype PrescanLength = 1024;

bool isSpace(char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char lowered(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool startsWithCaseless(QByteArrayView bytes, qsizetype at, QByteArrayView word)
{
    return bytes.size() - at >= word.size() && bytes.sliced(at, word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

struct Attribute {
    QByteArray name;
    QByteArray value;
};

// One attribute of a tag as the prescan reads it, names and values in lower
// case; nothing at the tag's '>' or at the end of the bytes.
std::optional<Attribute> nextAttribute(QByteArrayView bytes, qsizetype& at)
{
    const qsizetype end = bytes.size();
    while (at < end && (isSpace(bytes[at]) || bytes[at] == '/'))
        ++at;
    if (at >= end || bytes[at] == '>')
        return std::nullopt;
    Attribute attribute;
    for (;; ++at) {
        if (at >= end)
            return std::nullopt;
        const char c = bytes[at];
        if (c == '=' && !attribute.name.isEmpty())
            break;
        if (isSpace(c)) {
            while (at < end && isSpace(bytes[at]))
                ++at;
            if (at >= end || bytes[at] != '=')
                return attribute;
            break;
        }
        if (c == '/' || c == '>')
            return attribute;
        attribute.name += lowered(c);
    }
    ++at;  // the '='
    while (at < end && isSpace(bytes[at]))
        ++at;
    if (at >= end)
        return std::nullopt;
    if (bytes[at] == '"' || bytes[at] == '\'') {
        const char quote = bytes[at];
        for (++at; at < end; ++at) {
            if (bytes[at] == quote) {
                ++at;
                return attribute;
            }
            attribute.value += lowered(bytes[at]);
        }
        return std::nullopt;
    }
    if (bytes[at] == '>')
        return attribute;
    for (; at < end && !isSpace(bytes[at]) && bytes[at] != '>'; ++at)
        attribute.value += lowered(bytes[at]);
    return at < end ? std::optional(attribute) : std::nullopt;
}

// The encoding a content="text/html; charset=..." names, if any.
QByteArray charsetInContent(QByteArrayView content)
{
    qsizetype at = 0;
    for (;;) {
        const qsizetype found = content.indexOf("charset", at);
        if (found < 0)
            return {};
        at = found + 7;
        while (at < content.size() && isSpace(content[at]))
            ++at;
        if (at < content.size() && content[at] == '=')
            break;
    }
    ++at;
    while (at < content.size() && isSpace(content[at]))
        ++at;
    if (at >= content.size())
        return {};
    if (content[at] == '"' || content[at] == '\'') {
        const qsizetype close = content.indexOf(content[at], at + 1);
        return close < 0 ? QByteArray() : content.sliced(at + 1, close - at - 1).toByteArray();
    }
    qsizetype end = at;
    while (end < content.size() && !isSpace(content[end]) && content[end] != ';')
        ++end;
    return content.sliced(at, end - at).toByteArray();
}

// The encoding a label names, as a browser reads labels: Latin-1 and ASCII
// are windows-1252 (where 0x80 is €, not a control), and UTF-16 named in a
// document the prescan could read byte by byte is UTF-8. A label naming an
// encoding that does not keep ASCII as it is (UTF-32, UTF-7, EBCDIC) cannot
// be what the prescan read it in, and is passed over.
std::optional<QByteArray> encodingNamed(QByteArrayView label)
{
    const QByteArray name = label.trimmed().toByteArray().toLower();
    if (name.isEmpty())
        return std::nullopt;
    if (name.startsWith("utf-16") || name == "unicodefffe" || name == "unicodefeff" || name == "ucs-2"
        || name == "iso-10646-ucs-2" || name == "csunicode" || name == "unicode")
        return QByteArray("UTF-8");
    static const QByteArrayList westernLabels{"ascii",    "us-ascii",   "ansi_x3.4-1968",  "iso-8859-1",    "iso8859-1",
                                              "iso88591", "iso_8859-1", "iso_8859-1:1987", "latin1",        "l1",
                                              "cp819",    "ibm819",     "iso-ir-100",      "csisolatin1",   "cp1252",
                                              "x-cp1252", "us",         "iso646-us",       "x-user-defined"};
    if (westernLabels.contains(name))
        return QByteArray("windows-1252");
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        return std::nullopt;
    QByteArray ascii;
    for (char c = ' '; c < 0x7f; ++c)
        ascii += c;
    ascii += "\t\n\r";
    if (decoder.decode(ascii) != QString::fromLatin1(ascii))
        return std::nullopt;
    return name;
}

// The encoding a <meta> names: its attributes from just after "<meta".
std::optional<QByteArray> encodingOfMeta(QByteArrayView bytes, qsizetype& at)
{
    QByteArrayList seen;
    bool contentTypePragma = false;
    std::optional<bool> needsPragma;
    std::optional<QByteArray> encoding;
    while (const auto attribute = nextAttribute(bytes, at)) {
        if (seen.contains(attribute->name))
            continue;
        seen.append(attribute->name);
        if (attribute->name == "http-equiv") {
            contentTypePragma = contentTypePragma || attribute->value == "content-type";
        } else if (attribute->name == "content" && !encoding) {
            const QByteArray label = charsetInContent(attribute->value);
            if (!label.isEmpty()) {
                encoding = encodingNamed(label);
                needsPragma = true;
            }
        } else if (attribute->name == "charset") {
            encoding = encodingNamed(attribute->value);
            needsPragma = false;
        }
    }
    if (!needsPragma || (*needsPragma && !contentTypePragma))
        return std::nullopt;
    return encoding;
}

// HTML's prescan of the first bytes: comments and other tags are stepped
// over whole, so a "<meta charset" inside one names nothing.
std::optional<QByteArray> prescannedEncoding(QByteArrayView bytes)
{
    bytes = bytes.first(std::min(bytes.size(), PrescanLength));
    qsizetype at = 0;
    while (at < bytes.size()) {
        if (bytes.sliced(at).startsWith("<!--")) {
            const qsizetype close = bytes.indexOf("-->", at + 2);
            if (close < 0)
                return std::nullopt;
            at = close + 3;
        } else if (startsWithCaseless(bytes, at, "<meta") && at + 5 < bytes.size()
                   && (isSpace(bytes[at + 5]) || bytes[at + 5] == '/')) {
            at += 5;
            if (auto encoding = encodingOfMeta(bytes, at))
                return encoding;
        } else if (bytes[at] == '<' && at + 1 < bytes.size()
                   && (isLetter(bytes[at + 1])
                       || (bytes[at + 1] == '/' && at + 2 < bytes.size() && isLetter(bytes[at + 2])))) {
            while (at < bytes.size() && !isSpace(bytes[at]) && bytes[at] != '>')
                ++at;
            while (nextAttribute(bytes, at)) {
            }
            ++at;
        } else if (bytes.sliced(at).startsWith("<!") || bytes.sliced(at).startsWith("</")
                   || bytes.sliced(at).startsWith("<?")) {
            const qsizetype close = bytes.indexOf('>', at + 2);
            if (close < 0)
                return std::nullopt;
            at = close + 1;
        } else {
            ++at;
        }
    }
    return std::nullopt;
}

// The encoding an XML declaration at the very start names, as in an XHTML
// file: <?xml version="1.0" encoding="iso-8859-1"?>. Its pseudo-attributes
// are written in lower case and quoted, and it ends at the first "?>".
std::optional<QByteArray> xmlDeclaredEncoding(QByteArrayView bytes)
{
    if (!bytes.startsWith("<?xml") || bytes.size() < 6 || !isSpace(bytes[5]))
        return std::nullopt;
    const qsizetype close = bytes.first(std::min(bytes.size(), PrescanLength)).indexOf("?>");
    if (close < 0)
        return std::nullopt;
    const QByteArrayView declaration = bytes.sliced(5, close - 5);
    qsizetype at = 0;
    const auto skipSpace = [&] {
        while (at < declaration.size() && isSpace(declaration[at]))
            ++at;
    };
    for (;;) {
        skipSpace();
        const qsizetype name = at;
        while (at < declaration.size() && !isSpace(declaration[at]) && declaration[at] != '=')
            ++at;
        const QByteArrayView attribute = declaration.sliced(name, at - name);
        skipSpace();
        if (attribute.isEmpty() || at >= declaration.size() || declaration[at] != '=')
            return std::nullopt;
        ++at;
        skipSpace();
        if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\''))
            return std::nullopt;
        const qsizetype end = declaration.indexOf(declaration[at], at + 1);
        if (end < 0)
            return std::nullopt;
        if (attribute == "encoding")
            return encodingNamed(declaration.sliced(at + 1, end - at - 1));
        at = end + 1;
    }
}
}  // namespace

QByteArray HtmlEncoding::toUtf8(const QByteArray& page, bool xhtml)
{
    QByteArrayView bytes = page;
    QByteArray encoding = "UTF-8";
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = bytes.sliced(3);
    } else if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        encoding = bytes[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE";
        bytes = bytes.sliced(2);
    } else if (const auto declared = xhtml ? xmlDeclaredEncoding(bytes) : std::nullopt) {
        encoding = *declared;
    } else if (const auto named = prescannedEncoding(bytes)) {
        encoding = *named;
    }
    // However it is named ("utf-8", "UTF8"): valid UTF-8 is taken as it is.
    if (QStringConverter::encodingForName(encoding.constData()) == QStringConverter::Utf8) {
        if (bytes.isValidUtf8())
            return bytes.size() == page.size() ? page : bytes.toByteArray();
        return textOfUtf8(bytes).toUtf8();
    }
    // The mark is off already: a U+FEFF first in what is left is a character.
    QStringDecoder decoder(encoding.constData(), QStringConverter::Flag::ConvertInitialBom);
    return QString(decoder.decode(bytes)).toUtf8();
}
