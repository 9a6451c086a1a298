#include "engine/extract/LinkTarget.h"

#include "engine/address/UsableAddress.h"
#include "engine/extract/HtmlAttributeText.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <bitset>

using namespace Qt::StringLiterals;

namespace {
// What a browser would not fetch, and a checker has no business asking.
constexpr QStringView NeverAsked[] = {u"mailto", u"tel", u"javascript", u"data"};

// The scheme an address starts with (RFC 3986: a letter, then letters,
// digits, "+", "-" or "."), lower case; empty when it is relative.
QString schemeOf(const QString& address)
{
    const qsizetype colon = address.indexOf(u':');
    if (colon <= 0 || !address[0].isLetter() || address[0].unicode() > 0x7f)
        return {};
    for (qsizetype i = 1; i < colon; ++i) {
        const char16_t c = address[i].unicode();
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-'
              || c == u'.'))
            return {};
    }
    return address.left(colon).toLower();
}

// A hex digit's value, or -1.
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isWeb(const QString& scheme) { return scheme == u"http" || scheme == u"https"; }

// The schemes a browser's URL parser reads "\" as "/" in.
bool isSpecial(const QString& scheme)
{
    return isWeb(scheme) || scheme == u"file" || scheme == u"ftp" || scheme == u"ws" || scheme == u"wss";
}

bool isControlOrSpace(QChar c) { return c.unicode() <= 0x20; }

// An address in an HTML page as a browser's URL parser takes it: ASCII tab
// and newline dropped wherever they are, C0 controls and spaces around it
// trimmed, and "\" read as "/" before any query or fragment in an address
// of the web or a file, or in one relative to such a page.
QString asBrowserReads(QString address, bool relativeToSpecial)
{
    address.removeIf([](QChar c) { return c == u'\t' || c == u'\n' || c == u'\r'; });
    qsizetype start = 0;
    qsizetype end = address.size();
    while (start < end && isControlOrSpace(address[start]))
        ++start;
    while (end > start && isControlOrSpace(address[end - 1]))
        --end;
    address = address.mid(start, end - start);
    const QString scheme = schemeOf(address);
    if (scheme.isEmpty() ? relativeToSpecial : isSpecial(scheme)) {
        for (qsizetype i = 0; i < address.size() && address[i] != u'?' && address[i] != u'#'; ++i) {
            if (address[i] == u'\\')
                address[i] = u'/';
        }
    }
    return address;
}

// `reference` resolved against an absolute address, as a browser resolves a link.
QByteArray resolved(const QByteArray& base, const QString& reference)
{
    // curl resolves a fragment alone against the base's folder, not the base.
    if (reference.isEmpty() || reference.startsWith(u'#')) {
        const qsizetype hash = base.indexOf('#');
        return (hash < 0 ? base : base.left(hash)) + reference.toUtf8();
    }
    const ParsedAddress address(ParsedAddress(base), reference.toUtf8());
    return address.result() == CURLUE_OK ? address.part(CURLUPART_URL) : reference.toUtf8();
}

LinkTarget remote(QByteArray address)
{
    LinkTarget target;
    target.address = std::move(address);
    return target;
}

// QDir::cleanPath, but for a path that comes out starting with U+FEFF or
// U+FFFE: Qt reads the path it rebuilds as UTF-16 with a byte order mark,
// dropping the one, and the other with every character after it swapped.
QString cleanedPath(const QString& path)
{
    constexpr QChar Marks[] = {QChar(0xFEFF), QChar(0xFFFE)};
    if (!path.contains(Marks[0]) && !path.contains(Marks[1]))
        return QDir::cleanPath(path);
    // Each stands in meanwhile as a private-use character the path lacks,
    // those it holds found in one pass (a hostile path may hold thousands).
    constexpr char16_t FirstPrivate = 0xE000, PastPrivate = 0xF900;
    std::bitset<PastPrivate - FirstPrivate> held;
    for (const QChar c : path) {
        if (c.unicode() >= FirstPrivate && c.unicode() < PastPrivate)
            held.set(c.unicode() - FirstPrivate);
    }
    QChar standIns[2];
    char16_t candidate = FirstPrivate;
    for (QChar& standIn : standIns) {
        while (candidate < PastPrivate && held.test(candidate - FirstPrivate))
            ++candidate;
        if (candidate == PastPrivate)
            return QDir::cleanPath(path);  // every one is in it: no path of a real file
        standIn = QChar(candidate++);
    }
    QString cleaned = path;
    cleaned.replace(Marks[0], standIns[0]).replace(Marks[1], standIns[1]);
    cleaned = QDir::cleanPath(cleaned);
    return cleaned.replace(standIns[0], Marks[0]).replace(standIns[1], Marks[1]);
}

// A relative reference on disk: its path against the folder it is read
// from (or the root for "/x"), its fragment apart.
LinkTarget local(const QString& reference, const QString& folder, const QString& rootDir, const QString& self)
{
    LinkTarget target;
    target.kind = LinkTarget::Kind::Local;
    QString path = reference;
    if (const qsizetype hash = path.indexOf(u'#'); hash >= 0) {
        target.fragment = path.mid(hash + 1);
        path.truncate(hash);
    }
    if (const qsizetype query = path.indexOf(u'?'); query >= 0)
        path.truncate(query);
    // As a browser opens a file: URL, or a server a path: "100%.html" has
    // no escape in it, and names that file.
    path = LinkTarget::percentDecoded(path);
    if (path.isEmpty())
        target.path = self;
    else if (path.startsWith(u'/'))
        target.path = cleanedPath(rootDir + path);
    else
        target.path = cleanedPath(folder + u'/' + path);
    return target;
}

LinkTarget skipped(const QString& scheme, QString reason)
{
    LinkTarget target;
    target.kind = LinkTarget::Kind::Skipped;
    target.scheme = scheme;
    target.reason = std::move(reason);
    return target;
}

// A file: address as a browser opens it: "file:///x" and
// "file://localhost/x" are "/x", "file:x" (no slash) is relative to the
// page, and escapes decoded as in any local link. A file on another host
// is another machine's, not to be looked for here.
LinkTarget fileLink(const QString& written, const QString& folder, const QString& self)
{
    QString rest = written.mid(5);  // after "file:"
    if (rest.startsWith(u"//")) {
        qsizetype end = 2;
        while (end < rest.size() && rest[end] != u'/' && rest[end] != u'?' && rest[end] != u'#')
            ++end;
        const QString host = LinkTarget::percentDecoded(QStringView(rest).sliced(2, end - 2));
        if (!host.isEmpty() && host.compare(u"localhost", Qt::CaseInsensitive) != 0)
            return skipped(u"file"_s, u"file: on another host ("_s + host + u"), not looked for"_s);
        rest = rest.mid(end);
        if (!rest.startsWith(u'/'))
            rest.prepend(u'/');
    }
    // "/x" is the file system's, not under --root-dir.
    return local(rest, folder, QString(), self);
}
}  // namespace

QByteArray LinkTarget::printedAddress() const
{
    const QByteArray bytes = path.toUtf8();
    QByteArray printed;
    printed.reserve(bytes.size() + fragment.size() + 1);
    const qsizetype firstSlash = bytes.indexOf('/');
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const bool c1 = byte == 0xc2 && i + 1 < bytes.size() && static_cast<unsigned char>(bytes[i + 1]) < 0xa0;
        // U+FEFF, which shows as nothing, and first in a line reads as a
        // byte order mark.
        const bool mark = byte == 0xef && QByteArrayView(bytes).sliced(i).startsWith("\xEF\xBB\xBF");
        if (byte < 0x20 || byte == 0x7f || byte == '%' || byte == '#' || byte == '?' || byte == '\\'
            || (byte == ':' && (firstSlash < 0 || i < firstSlash)) || (byte == ' ' && (i == 0 || i == bytes.size() - 1))) {
            printed += '%';
            printed += QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        } else if (mark) {
            printed += "%EF%BB%BF";
            i += 2;
        } else if (c1) {
            printed += "%C2%";
            printed += QByteArray::number(static_cast<unsigned char>(bytes[++i]), 16).toUpper();
        } else {
            printed += bytes[i];
        }
    }
    // The fragment as written, its "%" kept (Qt would escape each):
    // decoding it would lose what is no valid escape ("%zz", or bytes
    // that are no UTF-8).
    if (!fragment.isEmpty())
        printed += '#' + QUrl::toPercentEncoding(fragment).replace("%25", "%");
    return printed;
}

QString LinkTarget::percentDecoded(QStringView text)
{
    if (!text.contains(u'%'))
        return text.toString();
    const QByteArray bytes = text.toUtf8();
    QByteArray decoded;
    decoded.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int high = i + 2 < bytes.size() && bytes[i] == '%' ? hexValue(bytes[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(bytes[i + 2]) : -1;
        if (low >= 0) {
            decoded += char(high * 16 + low);
            i += 2;
        } else {
            decoded += bytes[i];
        }
    }
    return textOfUtf8(decoded);
}

QStringList LinkTarget::fragmentForms(const QString& fragment)
{
    QString decoded = percentDecoded(fragment);
    if (decoded == fragment)
        return {fragment};
    return {fragment, std::move(decoded)};
}

LinkTarget LinkTarget::of(const QString& written, const Document& document, bool html)
{
    // A <base> is HTML's, whatever holds the page; it may name another
    // scheme the page's links are then relative to.
    if (!document.base.isEmpty()) {
        const QString base = asBrowserReads(document.base, true);
        if (base != document.base) {
            Document page = document;
            page.base = base;
            return of(written, page, html);
        }
    }
    if (html) {
        const QString baseScheme = schemeOf(document.base);
        return of(asBrowserReads(written, baseScheme.isEmpty() || isSpecial(baseScheme)), document, false);
    }
    const QString scheme = schemeOf(written);
    for (const QStringView never : NeverAsked) {
        if (scheme == never)
            return skipped(scheme, scheme + QStringLiteral(": not asked"));
    }
    if (!scheme.isEmpty() && scheme != u"file")
        return remote(written.toUtf8());

    // The document's own address, when it has one: --base, then a <base>
    // that is an address, or one relative to it.
    QByteArray address = document.address;
    const QString baseScheme = schemeOf(document.base);
    // A link or a <base> to another host with no scheme of its own, in a
    // file with no address: the web's own scheme.
    const auto otherHost = [](const QString& reference) { return reference.startsWith(u"//"); };
    if (isWeb(baseScheme))
        address = document.base.toUtf8();
    else if (!address.isEmpty() && !document.base.isEmpty())
        address = resolved(address, document.base);
    else if (otherHost(document.base))
        address = "https:" + document.base.toUtf8();
    if (scheme == u"file" && !address.isEmpty()) {
        // A page of a site has no folder on disk: "file:x" is "/x" there.
        return fileLink(written, u"/"_s, u"/"_s);
    }
    if (!address.isEmpty())
        return remote(resolved(address, written));
    if (otherHost(written))
        return remote("https:" + written.toUtf8());

    QString self = document.path;
    QString folder = QFileInfo(self).path();
    if (!document.base.isEmpty() && baseScheme.isEmpty()) {
        // A <base> that is a path moves where the links start from, and is
        // the page an empty link, a query or a fragment alone stands for.
        const LinkTarget base = local(document.base, folder, document.rootDir, self);
        folder = document.base.endsWith(u'/') ? base.path : QFileInfo(base.path).path();
        self = base.path;
    }
    if (scheme == u"file")
        return fileLink(written, folder, self);
    return local(written, folder, document.rootDir, self);
}
