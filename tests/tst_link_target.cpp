// Where a link found in a document leads, by the document's place: the rule
// that decides what is asked, what is looked for on disk and what is left.
#include "engine/extract/LinkTarget.h"

#include <QDir>
#include <QTest>

using Kind = LinkTarget::Kind;

class LinkTargetTest : public QObject {
    Q_OBJECT
private slots:
    // Each row: the link as written, the document's <base> and published
    // address (--base), and where it leads: "ask ADDRESS", "disk PATH#FRAGMENT"
    // or "skip REASON". The document is docs/guide/a.html, the root docs.
    void leadsTo_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QByteArray>("published");
        QTest::addColumn<QString>("leadsTo");
        QTest::addColumn<bool>("html");
        const auto row = [](const char* name, const char* written, const char* base, const char* published,
                            const char* leadsTo, bool html = false) {
            QTest::newRow(name) << QString::fromUtf8(written) << QString::fromUtf8(base) << QByteArray(published)
                                << QString::fromUtf8(leadsTo) << html;
        };
        // In an HTML page, as a browser's URL parser reads it.
        const auto htmlRow = [&](const char* name, const char* written, const char* base, const char* published,
                                 const char* leadsTo) { row(name, written, base, published, leadsTo, true); };
        row("web address", "https://example.org/x", "", "", "ask https://example.org/x");
        row("scheme in capitals", "HTTP://example.org/", "", "", "ask HTTP://example.org/");
        row("another host, no scheme", "//example.org/x", "", "", "ask https://example.org/x");
        row("mailto", "mailto:a@example.org", "", "", "skip mailto: not asked");
        row("tel in capitals", "TEL:+123", "", "", "skip tel: not asked");
        row("javascript", "javascript:void(0)", "", "", "skip javascript: not asked");
        row("data", "data:image/png;base64,AAAA", "", "", "skip data: not asked");
        row("a colon later in a path", "b:c/d.html", "", "", "ask b:c/d.html");
        row("relative file", "b.html", "", "", "disk docs/guide/b.html#");
        row("up a folder", "../index.md", "", "", "disk docs/index.md#");
        row("root-relative", "/img/x.png", "", "", "disk docs/img/x.png#");
        row("query and fragment", "b.html?x=1#part", "", "", "disk docs/guide/b.html#part");
        row("fragment alone", "#part", "", "", "disk docs/guide/a.html#part");
        row("empty: the page itself", "", "", "", "disk docs/guide/a.html#");
        // The fragment stays as written: a browser looks for it so first.
        row("percent-encoded path and fragment", "my%20page.md#caf%C3%A9", "", "", "disk docs/guide/my page.md#caf%C3%A9");
        row("a % that is no escape", "100%.html", "", "", "disk docs/guide/100%.html#");
        // Qt's cleanPath takes a path it rebuilds that starts with either for
        // UTF-16 with a byte order mark.
        row("a name first in the path starting with U+FEFF", "%EF%BB%BFb.html", "../../", "", "disk \uFEFFb.html#");
        row("a name first in the path starting with U+FFFE", "%EF%BF%BEab", "../../", "", "disk \uFFFEab#");
        row("... and holding a private-use character", "%EF%BB%BF%EE%80%80b", "../../", "", "disk \uFEFF\uE000b#");
        row("a % before no hex digits", "a%zz.html#a%zz", "", "", "disk docs/guide/a%zz.html#a%zz");
        row("an escaped %", "100%25.html", "", "", "disk docs/guide/100%.html#");
        row("a fragment with an escape", "#x%41", "", "", "disk docs/guide/a.html#x%41");
        row("file address, the fragment as written", "file:///tmp/x.html#caf%E9", "", "", "disk /tmp/x.html#caf%E9");
        row("file address", "file:///tmp/x.html#top", "", "", "disk /tmp/x.html#top");
        // As a browser opens a file: URL, escapes read as in any local link.
        row("file address on localhost", "file://LocalHost/tmp/x.html?q=1#top", "", "", "disk /tmp/x.html#top");
        row("file address, a % that is no escape", "file:///tmp/100%.html", "", "", "disk /tmp/100%.html#");
        row("file address, an escaped #", "file:///tmp/a%23b.html#c", "", "", "disk /tmp/a#b.html#c");
        row("file address, the host's root", "file://localhost", "", "", "disk /#");
        row("file address on another host", "file://server/share/x.html", "", "",
            "skip file: on another host (server), not looked for");
        row("file: and a path from the root", "file:/tmp/x.html", "", "", "disk /tmp/x.html#");
        row("file: and no slash: relative to the page", "file:x.html#a", "", "", "disk docs/guide/x.html#a");
        row("file: and no slash, up a folder", "file:../y.md", "", "", "disk docs/y.md#");
        row("file: alone: the page itself", "file:#top", "", "", "disk docs/guide/a.html#top");
        row("file: and no slash, a <base> path", "file:x.html", "../other/", "", "disk docs/other/x.html#");
        row("file: and no slash, published: from the root", "file:x.html", "", "https://example.org/guide/a.html",
            "disk /x.html#");
        row("<base> a path", "b.html", "../other/", "", "disk docs/other/b.html#");
        row("<base> an address", "b.html", "https://example.org/site/", "", "ask https://example.org/site/b.html");
        row("<base> another host, no scheme", "b.html#x", "//cdn.example.org/p/", "",
            "ask https://cdn.example.org/p/b.html#x");
        row("<base> another host, no scheme, published", "b.html", "//cdn.example.org/p/",
            "http://example.org/guide/a.html", "ask http://cdn.example.org/p/b.html");
        row("<base> another host, no scheme, a fragment alone", "#x", "//cdn.example.org/p/q.html", "",
            "ask https://cdn.example.org/p/q.html#x");
        row("<base> a path, empty: the base itself", "", "/sub/", "", "disk docs/sub#");
        row("<base> a path, a fragment alone: in the base", "#part", "/sub/", "", "disk docs/sub#part");
        row("<base> a file, a fragment alone: in that file", "#part", "../x.html", "", "disk docs/x.html#part");
        row("<base> a file, a query alone", "?q=1", "../x.html", "", "disk docs/x.html#");
        row("published, a <base> path, a fragment alone", "#part", "/v2/", "https://example.org/guide/a.html",
            "ask https://example.org/v2/#part");
        row("published, a <base> path, empty", "", "/v2/", "https://example.org/guide/a.html",
            "ask https://example.org/v2/");
        row("published: relative", "b.html", "", "https://example.org/guide/a.html", "ask https://example.org/guide/b.html");
        row("published: root-relative", "/img/x.png", "", "https://example.org/guide/a.html",
            "ask https://example.org/img/x.png");
        row("published: fragment alone", "#part", "", "https://example.org/guide/a.html",
            "ask https://example.org/guide/a.html#part");
        row("published: a query alone", "?page=2", "", "https://example.org/guide/a.html",
            "ask https://example.org/guide/a.html?page=2");
        row("published: empty, the page itself", "", "", "https://example.org/guide/a.html",
            "ask https://example.org/guide/a.html");
        row("published, and a <base> path", "b.html", "/v2/", "https://example.org/guide/a.html",
            "ask https://example.org/v2/b.html");
        row("published: a space in the path", "my page.html", "", "https://example.org/guide/a.html",
            "ask https://example.org/guide/my%20page.html");
        htmlRow("HTML: a backslash in a relative path", "sub\\page.html", "", "", "disk docs/guide/sub/page.html#");
        row("Markdown keeps a backslash", "sub\\page.html", "", "", "disk docs/guide/sub\\page.html#");
        htmlRow("HTML: a backslash in the query or fragment stays", "a\\b.html?q\\r#s\\t", "", "",
                "disk docs/guide/a/b.html#s\\t");
        htmlRow("HTML: backslashes in a web address", "https:\\\\example.org\\x", "", "", "ask https://example.org/x");
        htmlRow("HTML: two backslashes, another host", "\\\\example.org\\x", "", "", "ask https://example.org/x");
        htmlRow("HTML: a scheme of no web keeps its backslash", "b:c\\d", "", "", "ask b:c\\d");
        htmlRow("HTML: a backslash in a <base>", "b.html", "..\\other\\", "", "disk docs/other/b.html#");
        htmlRow("HTML: a backslash, published", "sub\\b.html", "", "https://example.org/guide/a.html",
                "ask https://example.org/guide/sub/b.html");
        htmlRow("HTML: a newline inside", "pa\nge.html#x\r\ny", "", "", "disk docs/guide/page.html#xy");
        htmlRow("HTML: a tab inside a scheme", "java\tscript:x", "", "", "skip javascript: not asked");
        htmlRow("HTML: controls and spaces around", "\x01 b.html \x1f", "", "", "disk docs/guide/b.html#");
        htmlRow("HTML: a space inside stays", "my page.html", "", "", "disk docs/guide/my page.html#");
        htmlRow("HTML: backslashes in a file address", "file:\\\\localhost\\tmp\\x.html", "", "", "disk /tmp/x.html#");
        row("Markdown: a <base> is HTML's, read as a browser reads it", "b.html", "..\\other\\", "",
            "disk docs/other/b.html#");
    }
    void leadsTo()
    {
        QFETCH(QString, written);
        QFETCH(QString, base);
        QFETCH(QByteArray, published);
        QFETCH(QString, leadsTo);
        QFETCH(bool, html);
        const LinkTarget target =
            LinkTarget::of(written, {QStringLiteral("docs/guide/a.html"), QStringLiteral("docs"), published, base}, html);
        switch (target.kind) {
        case Kind::Remote:
            QCOMPARE(QStringLiteral("ask ") + QString::fromUtf8(target.address), leadsTo);
            break;
        case Kind::Local:
            QCOMPARE(QStringLiteral("disk ") + target.path + u'#' + target.fragment, leadsTo);
            break;
        case Kind::Skipped:
            QCOMPARE(QStringLiteral("skip ") + target.reason, leadsTo);
            break;
        }
    }

    // A file on disk as the report and the result files print it, and read
    // back as a link of a document in the current folder: the same file, and
    // the fragment among the names it is looked for by.
    void printedAddress_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fragment");
        QTest::addColumn<QByteArray>("printed");
        const auto row = [](const char* name, const char* path, const char* fragment, const char* printed) {
            QTest::newRow(name) << QString::fromUtf8(path) << QString::fromUtf8(fragment) << QByteArray(printed);
        };
        row("plain", "docs/a.html", "", "docs/a.html");
        row("a # in the name", "docs/a#b.html", "", "docs/a%23b.html");
        row("a # in the name, and a fragment", "docs/a#b.html", "c", "docs/a%23b.html#c");
        row("a % in the name", "docs/100%.html", "", "docs/100%25.html");
        row("a % and hex digits in the name", "docs/a%41.html", "", "docs/a%2541.html");
        row("a ? in the name", "docs/why?.html", "", "docs/why%3F.html");
        row("a line break and a tab", "docs/a\nb\t.html", "", "docs/a%0Ab%09.html");
        row("a DEL and a C1 control", "docs/a\x7f\u0085.html", "", "docs/a%7F%C2%85.html");
        row("a U+FEFF, seen as nothing", "docs/\uFEFFa.html", "", "docs/%EF%BB%BFa.html");
        row("a backslash", "docs/a\\b.html", "", "docs/a%5Cb.html");
        row("a colon that would be a scheme", "c:x.html", "", "c%3Ax.html");
        row("a colon after a slash", "docs/c:x.html", "", "docs/c:x.html");
        row("spaces at the ends", " docs/a b.html ", "", "%20docs/a b.html%20");
        row("other letters as they are", "/tmp/café.md", "", "/tmp/café.md");
        row("a fragment as written", "docs/a.html", "caf%E9", "docs/a.html#caf%E9");
        row("a fragment's letters escaped", "docs/a.html", "café x", "docs/a.html#caf%C3%A9%20x");
    }
    void printedAddress()
    {
        QFETCH(QString, path);
        QFETCH(QString, fragment);
        QFETCH(QByteArray, printed);
        LinkTarget target;
        target.kind = Kind::Local;
        target.path = path;
        target.fragment = fragment;
        QCOMPARE(target.printedAddress(), printed);
        for (const bool html : {false, true}) {
            const LinkTarget back = LinkTarget::of(QString::fromUtf8(printed), {QStringLiteral("x"), {}, {}, {}}, html);
            QCOMPARE(back.kind, Kind::Local);
            QCOMPARE(back.path, QDir::cleanPath(path));
            QVERIFY2(LinkTarget::fragmentForms(back.fragment).contains(fragment), qPrintable(back.fragment));
        }
    }

    // Only a "%" and two hex digits is an escape; the bytes are read as
    // UTF-8, what is no UTF-8 a replacement character, as a browser reads a
    // fragment.
    void percentDecoded_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("decoded");
        QTest::newRow("none") << "café"
                              << "café";
        QTest::newRow("an escape") << "x%41"
                                   << "xA";
        QTest::newRow("lower-case hex") << "%c3%a9"
                                        << "é";
        QTest::newRow("no hex digits after") << "a%zz"
                                             << "a%zz";
        QTest::newRow("one hex digit after") << "a%4g"
                                             << "a%4g";
        QTest::newRow("at the end") << "100%"
                                    << "100%";
        QTest::newRow("one digit at the end") << "x%4"
                                              << "x%4";
        QTest::newRow("a % escaped before an escape") << "%%41"
                                                      << "%A";
        QTest::newRow("bytes that are no UTF-8") << "caf%E9"
                                                 << "caf\uFFFD";
        QTest::newRow("an escaped %, not decoded twice") << "%2541"
                                                         << "%41";
        QTest::newRow("a U+FEFF at the start, a character of the name") << "%EF%BB%BF%EF%BB%BFa.html"
                                                                         << QStringLiteral("\uFEFF\uFEFFa.html");
    }
    void percentDecoded()
    {
        QFETCH(QString, text);
        QFETCH(QString, decoded);
        QCOMPARE(LinkTarget::percentDecoded(text), decoded);
    }
};

QTEST_APPLESS_MAIN(LinkTargetTest)
#include "tst_link_target.moc"
