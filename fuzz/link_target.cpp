// Any text as a link in a document, with or without a <base> and a
// published address: where it leads is decided without a crash, and, in an
// HTML page, read as a browser reads it: an ASCII tab or newline put
// anywhere changes nothing, and neither does "\" for "/" in a relative
// address before its query. Percent-decoding gives back what
// percent-encoding was given, and leaves text with no "%" as it is. A
// file on disk, printed, reads back as the same file (and fragment, but for
// one that holds a "%").
//
// The first byte chooses: bit 0 an HTML page, bit 1 a published address,
// bit 2 a <base> (the text up to the first NUL); the rest is the link.
#include "Require.h"
#include "engine/extract/LinkTarget.h"

#include <QUrl>

#include <cstdint>
#include <cstdlib>

namespace {
bool same(const LinkTarget& a, const LinkTarget& b)
{
    return a.kind == b.kind && a.address == b.address && a.path == b.path && a.fragment == b.fragment
        && a.scheme == b.scheme && a.reason == b.reason;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t choice = data[0];
    QString text = QString::fromUtf8(reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size - 1));

    const bool html = (choice & 1) != 0;
    LinkTarget::Document document{QStringLiteral("docs/guide/a.html"), QStringLiteral("docs"), {}, {}};
    if (choice & 2)
        document.address = "https://example.org/guide/a.html";
    if (choice & 4) {
        const qsizetype end = text.indexOf(QChar(u'\0'));
        document.base = text.left(end);
        text = end < 0 ? QString() : text.mid(end + 1);
    }
    const LinkTarget target = LinkTarget::of(text, document, html);
    if (target.kind == LinkTarget::Kind::Local) {
        // Read back as a link of a document in the current folder.
        const LinkTarget back = LinkTarget::of(QString::fromUtf8(target.printedAddress()),
                                               {QStringLiteral("x"), {}, {}, {}});
        require(back.kind == LinkTarget::Kind::Local && back.path == target.path);
        // A fragment is printed as written, a "%" kept: one that holds a "%"
        // beside what is escaped reads back in another form.
        require(back.fragment == target.fragment || target.fragment.contains(u'%')
                || LinkTarget::fragmentForms(back.fragment).contains(target.fragment));
    }

    if (!text.contains(u'%'))
        require(LinkTarget::percentDecoded(text) == text);
    require(LinkTarget::percentDecoded(QString::fromLatin1(QUrl::toPercentEncoding(text))) == text);

    if (!html)
        return 0;
    QString tabbed = text;
    tabbed.insert(tabbed.size() / 2, u'\t');
    tabbed.insert(0, u'\n');
    tabbed.append(u"\r\n");
    require(same(LinkTarget::of(tabbed, document, true), target));
    // Relative to the page (a <base> of another scheme would change that),
    // with no scheme of its own.
    if (document.base.isEmpty() && !text.contains(u':')) {
        QString backslashed = text;
        for (qsizetype i = 0; i < backslashed.size() && backslashed[i] != u'?' && backslashed[i] != u'#'; ++i) {
            if (backslashed[i] == u'/')
                backslashed[i] = u'\\';
        }
        require(same(LinkTarget::of(backslashed, document, true), target));
    }
    return 0;
}
