// The links an HTML document holds and where each stands: which elements
// and attributes hold one, the addresses as a browser reads them, the
// encodings, and places in characters from the file's first.
#include "engine/extract/HtmlLinks.h"

#include <QStringEncoder>
#include <QTest>

namespace {
// "a href 1:10 x" for each link, in order, with " nofollow" when it is.
QString shown(const DocumentLinks& found)
{
    QStringList links;
    for (const FoundLink& link : found.links)
        links.append(QStringLiteral("%1 %2:%3 %4%5")
                         .arg(link.element)
                         .arg(link.place.line)
                         .arg(link.place.column)
                         .arg(link.address, link.nofollow ? QStringLiteral(" nofollow") : QString()));
    return links.join(QStringLiteral(" | "));
}

QByteArray utf16(QStringConverter::Encoding encoding, const QString& text)
{
    return QStringEncoder(encoding, QStringConverter::Flag::WriteBom).encode(text);
}
}  // namespace

class HtmlLinksTest : public QObject {
    Q_OBJECT
private slots:
    void linksInOrder_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<QString>("links");
        const auto row = [](const char* name, const QByteArray& html, const QString& links) {
            QTest::newRow(name) << html << links;
        };
        row("a href", R"(<a href="x">)", "a href 1:10 x");
        row("area, link", "<area href=x><link rel=stylesheet href=y>", "area href 1:12 x | link href 1:40 y");
        row("media", "<video src=v poster=p><source src=s srcset=t><track src=k></video><audio src=a>",
            "video src 1:12 v | video poster 1:21 p | source src 1:35 s | source srcset 1:44 t | track src 1:57 k"
            " | audio src 1:78 a");
        row("embedded", "<iframe src=i></iframe><embed src=e><script src=s></script><object data=o></object>",
            "iframe src 1:13 i | embed src 1:35 e | script src 1:49 s | object data 1:73 o");
        row("attributes in source order", "<img srcset=b src=a>", "img srcset 1:13 b | img src 1:19 a");
        row("server hints are no links",
            "<link rel=Preconnect href=a><link rel='icon DNS-Prefetch' href=b><link rel=preconnected href=c>",
            "link href 1:94 c");
        row("nofollow",
            "<a rel='external NoFollow' href=a><area rel=nofollow href=b><link rel=nofollow href=c><img rel=nofollow src=d>",
            "a href 1:33 a nofollow | area href 1:59 b nofollow | link href 1:85 c nofollow | img src 1:109 d");
        row("empty values", "<a href=''><a href><img src='  '><img srcset=''>", "a href 1:10  | a href 1:15  | img src 1:32 ");
        row("white space trimmed", "<a href=' \t x y\n '>", "a href 1:13 x y");
        row("srcset candidates", "<img srcset='a,b.png 1x,c.png, d.png (x, y) 2w,data:x;base64,AA 3x'>",
            "img srcset 1:14 a,b.png | img srcset 1:25 c.png | img srcset 1:32 d.png | img srcset 1:48 data:x;base64,AA");
        row("srcset over lines", "<img srcset=\"a 1x,\r\n  b 2x\">", "img srcset 1:14 a | img srcset 2:3 b");
        row("references decoded", "<a href='?a=1&amp;b=2&copy=3&lt;'>", "a href 1:10 ?a=1&b=2&copy=3<");
        row("a reference before it", "<a href='&#32;&Tab;x'>", "a href 1:20 x");
        row("a reference starts it", "<a href=&amp;x>", "a href 1:9 &x");
        row("candidates after references", "<img srcset='&NotEqualTilde; 1x, ?a&copy=1 2x, b'>",
            "img srcset 1:14 ≂̸ | img srcset 1:34 ?a&copy=1 | img srcset 1:48 b");
        row("controls kept, NUL replaced", QByteArray("<a href='a\x01") + '\0' + "b'>", "a href 1:10 a\x01\uFFFDb");
        row("refresh", "<meta http-equiv=refresh content='5; url=a'>", "meta refresh 1:42 a");
        row("refresh, quoted", "<meta http-equiv=Refresh content=\"0;URL = 'b c' \">", "meta refresh 1:44 b c");
        row("refresh, comma, no url=", "<meta http-equiv=REFRESH content='5, d'>", "meta refresh 1:38 d");
        row("refresh of the page itself",
            "<meta http-equiv=refresh content=5><meta http-equiv=refresh content='x;url=e'>", "");
        row("template, noscript, comments",
            "<template><a href=t></a></template><noscript><a href=n></a></noscript><!-- <a href=c> -->",
            "a href 1:19 t | a href 1:54 n");
        row("SVG's a is not HTML's", "<svg><a href=s /></svg>", "");
        row("tab and wide characters", "\té日本😀<a href=x>", "a href 1:14 x");
        row("later line", "<p>\r\n<p>\n\n\r  <a href=x>", "a href 5:11 x");
    }
    void linksInOrder()
    {
        QFETCH(QByteArray, html);
        QFETCH(QString, links);
        QCOMPARE(shown(HtmlLinks::read(html)), links);
    }

    void encodings_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("links");
        const auto row = [](const char* name, const QByteArray& bytes, const QString& links) {
            QTest::newRow(name) << bytes << links;
        };
        row("UTF-8 byte order mark", "\xEF\xBB\xBF<a href=\xC3\xA9>", "a href 1:9 é");
        row("UTF-16LE", utf16(QStringConverter::Utf16LE, "é<a href=ü>"), "a href 1:10 ü");
        row("UTF-16BE", utf16(QStringConverter::Utf16BE, "<a href=日>"), "a href 1:9 日");
        row("meta charset", "<meta charset=windows-1252>\xE9<a href=\x80>", "a href 1:37 €");
        row("Latin-1 is windows-1252",
            "<meta http-equiv=content-type content='text/html; charset=ISO-8859-1'><a href=\x80>", "a href 1:79 €");
        row("Shift_JIS", "<meta charset=shift_jis><a href=\x93\xfa>", "a href 1:33 日");
        row("UTF-16 named in ASCII is UTF-8", "<meta charset=utf-16><a href=\xC3\xA9>", "a href 1:30 é");
        row("meta in a comment", "<!-- <meta charset=windows-1252> --><a href=\xE9>", "a href 1:45 \uFFFD");
        row("invalid UTF-8", "<a href='\xFF\xC3'>x<a href=y>", "a href 1:10 \uFFFD\uFFFD | a href 1:23 y");
    }
    void encodings()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, links);
        QCOMPARE(shown(HtmlLinks::read(bytes)), links);
    }

    // Every id and <a name>, in order; the first <base href>, which is no link.
    void anchorsAndBase()
    {
        const DocumentLinks found = HtmlLinks::read("<template><base href=t></template><base target=_top><base href=' b1 '><base href=b2><div id=a></div><a name=n id=i></a><span id=''></span>"
                                                    "<svg><g id=s></g></svg>");
        QCOMPARE(found.anchors, QStringList({"a", "n", "i", "s"}));
        QCOMPARE(found.base, QStringLiteral("b1"));
        QVERIFY(found.links.empty());
    }

    // A fragment's first line goes on from where it starts; its others
    // keep their own columns.
    void fragmentFromItsPlace()
    {
        QCOMPARE(shown(HtmlLinks::readUtf8("x <a href=a>\n<a href=b>", {10, 5})),
                 QStringLiteral("a href 10:15 a | a href 11:9 b"));
    }

    // Nesting deep enough to overflow the stack of a walk that recurses.
    void deepNesting()
    {
        const DocumentLinks found = HtmlLinks::read(QByteArray("<span>").repeated(300000) + "<a href=x>");
        QCOMPARE(found.links.size(), size_t(1));
        QCOMPARE(found.links[0].place.column, 1800009);
    }
};

QTEST_GUILESS_MAIN(HtmlLinksTest)
#include "tst_html_links.moc"
