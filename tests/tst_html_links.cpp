// The links an HTML document holds and where each stands: which elements
// and attributes hold one, the addresses as a browser reads them, the
// encodings, and places in characters from the file's first; the same read
// off the tags, through gumbo's tree, and tag by tag past nesting too deep
// for that tree; and the pass that tells them apart counting what gumbo
// builds.
#include "GumboElements.h"
#include "engine/extract/HtmlLinks.h"
#include "engine/extract/HtmlNesting.h"

#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

// What assert() calls, declared here too: a build with NDEBUG has <assert.h>
// declare nothing.
extern "C" [[noreturn]] void __assert_fail(const char* assertion, const char* file, unsigned int line,
                                         const char* function) noexcept;

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

// After a page, nesting deeper than a tree is built for: the page is then
// read tag by tag.
const QByteArray tooDeep = QByteArray("<div>").repeated(HtmlNesting::DepthLimit + 1);
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
        row("a later line of wide characters, lines ended by LF alone", "\xC3\xA9\n\xC3\xBC<a href=x>", "a href 2:10 x");
        row("a name after a repeated one without a value", "<img s s\nrc=x><a x X\r\n\thref=y><a h h/ref=z>",
            "a href 3:7 y");
        row("a U+FEFF first in a value, a control character after it", "<a href=\"\xEF\xBB\xBF\x01x\">",
            QString::fromUtf8("a href 1:10 \xEF\xBB\xBF\x01x"));
        row("two U+FEFF first in a value", "<a href=\"\xEF\xBB\xBF\xEF\xBB\xBF\xEF\xBF\xBD?\">",
            QString::fromUtf8("a href 1:10 \xEF\xBB\xBF\xEF\xBB\xBF\xEF\xBF\xBD?"));
        row("two U+FEFF first in a plain value", "<a href=\"\xEF\xBB\xBF\xEF\xBB\xBFx\">",
            QString::fromUtf8("a href 1:10 \xEF\xBB\xBF\xEF\xBB\xBFx"));
    }
    void linksInOrder()
    {
        QFETCH(QByteArray, html);
        QFETCH(QString, links);
        QCOMPARE(shown(HtmlLinks::read(html)), links);
        QCOMPARE(shown(HtmlLinks::readThroughTree(html)), links);
        QCOMPARE(shown(HtmlLinks::read(html + tooDeep)), links);
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
        // Only the first is a byte order mark; a second is a character of line 1.
        row("two UTF-8 marks", "\xEF\xBB\xBF\xEF\xBB\xBF<a href=\xC3\xA9>", "a href 1:10 é");
        row("two UTF-8 marks, invalid UTF-8 after", "\xEF\xBB\xBF\xEF\xBB\xBF<a href=\xC3\xA9\xFF>", "a href 1:10 é\uFFFD");
        row("two UTF-16 marks", utf16(QStringConverter::Utf16LE, QStringLiteral("\uFEFF<a href=ü>")), "a href 1:10 ü");
    }
    // An XHTML file's XML declaration names its encoding, after a byte
    // order mark and before a <meta>; an HTML file's names nothing, as
    // HTML's prescan has no such step.
    void xmlDeclarations_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("xhtml");
        QTest::addColumn<QString>("links");
        const auto row = [](const char* name, const QByteArray& bytes, const QString& links, bool xhtml = true) {
            QTest::newRow(name) << bytes << xhtml << links;
        };
        row("Latin-1", "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<a href=\"caf\xe9.html\">", "a href 2:10 café.html");
        row("single quotes, spaces, before a meta",
            "<?xml version='1.0'\n encoding = 'windows-1252' ?><meta charset=utf-8><a href=\x80>", "a href 2:58 €");
        row("a byte order mark first", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a href=\xC3\xA9>",
            "a href 1:52 é");
        row("no encoding, a meta's", "<?xml version=\"1.0\"?><meta charset=windows-1252><a href=\xE9>", "a href 1:57 é");
        row("not at the start", " <?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a href=\xE9>", "a href 1:53 \uFFFD");
        row("an encoding that is no label", "<?xml version=\"1.0\" encoding=\"x-none\"?><a href=\xC3\xA9>", "a href 1:48 é");
        row("encoding in the version's value", "<?xml version=\"encoding='iso-8859-1'\"?><a href=\xC3\xA9>", "a href 1:48 é");
        const QByteArray both = "<?xml version=\"1.0\" encoding=\"utf-8\"?><meta charset=windows-1252><a href=\xE9>";
        row("XHTML: the declaration's over a meta's", both, "a href 1:74 \uFFFD");
        row("HTML: the meta's over a declaration's", both, "a href 1:74 é", false);
        row("HTML: a declaration alone names nothing", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a href=\x80>",
            "a href 1:54 \uFFFD", false);
    }
    void xmlDeclarations()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, xhtml);
        QFETCH(QString, links);
        QCOMPARE(shown(HtmlLinks::read(bytes, xhtml)), links);
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
        const QByteArray html = "<template><base href=t></template><base target=_top><base href=' b1 '><base href=b2><div id=a></div><a name=n id=i></a><span id=''></span>"
                                "<svg><g id=s></g><a name=x></a></svg><table><td id=c></table>";
        for (const QByteArray& page : {html, html + tooDeep}) {
            const DocumentLinks found = HtmlLinks::read(page);
            QCOMPARE(found.anchors, QStringList({"a", "n", "i", "s", "c"}));
            QCOMPARE(found.base, QStringLiteral("b1"));
            QVERIFY(found.links.empty());
        }
    }

    // A fragment's first line goes on from where it starts; its others
    // keep their own columns.
    void fragmentFromItsPlace()
    {
        QCOMPARE(shown(HtmlLinks::readUtf8("x <a href=a>\n<a href=b>", {10, 5})),
                 QStringLiteral("a href 10:15 a | a href 11:9 b"));
    }

    // Each kind of element nested, or left open, by the hundred thousand:
    // gumbo's tree of them costs the square of that, which would take this
    // test past its time-out; the links after them, and on them, are read.
    void deepNesting_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<int>("links");
        const auto row = [](const char* name, const QByteArray& html, int links) {
            QTest::newRow(name) << html + "<a href=x>" << links + 1;
        };
        row("div", QByteArray("<div>").repeated(300000), 0);
        row("span", QByteArray("<span>").repeated(300000), 0);
        row("b", QByteArray("<b>").repeated(200000), 0);
        row("a", QByteArray("<a>").repeated(200000), 0);
        row("font, its attributes each other's", QByteArray("<font size=1><font size=2>").repeated(100000), 0);
        row("table", QByteArray("<table><tr><td>").repeated(100000), 0);
        row("unclosed p", QByteArray("<p>x").repeated(200000), 0);
        row("unclosed li", "<ul>" + QByteArray("<li>x").repeated(200000), 0);
        row("unclosed dd, option", QByteArray("<dd><option>").repeated(200000), 0);
        row("links on the nested tags", QByteArray("<div><a href=y>").repeated(100000), 100000);
        row("in SVG", "<svg>" + QByteArray("<g><a href=y>").repeated(100000) + "</svg>", 0);
        QByteArray cloned = "<p>";
        for (int i = 0; i < 300; ++i)
            cloned += "<b id=" + QByteArray::number(i) + ">";
        row("formatting cloned at each paragraph", cloned + QByteArray("<p>x").repeated(100000), 0);
        row("a cloned formatting element's long attribute",
            "<p><b title='" + QByteArray(100000, 't') + "'>" + QByteArray("<p>x").repeated(100000), 0);
    }
    void deepNesting()
    {
        QFETCH(QByteArray, html);
        QFETCH(int, links);
        const DocumentLinks found = HtmlLinks::read(html);
        QCOMPARE(found.links.size(), size_t(links));
        QCOMPARE(found.links.back().address, QStringLiteral("x"));
        QCOMPARE(found.links.back().place, (TextPlace{1, int(html.size()) - 1}));
    }

    // A page is read off its tags when its tree holds each of them once, in
    // the order they stand, with the attributes written on it; a tag whose
    // attributes gumbo decodes is read by gumbo. Either way, what its tree
    // would give.
    void readOffTheTags_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<bool>("inTagOrder");
        const auto row = [](const char* name, const QByteArray& html, bool inTagOrder = true) {
            QTest::newRow(name) << html << inTagOrder;
        };
        row("plain tags", "<link rel='a nofollow' href=l><p><a href=a id=x name=n>t</a><img src=b srcset='c 1x, d,e 2x'>");
        row("a character reference", "<a href='?a=1&amp;b=2' id=&lt;>");
        static constexpr char decoded[] = "<a href='a\0b'><a href='c\r\nd'><a href=e\x01><a href=f\xC2\x85><a href=g\xEF\xBF\xBF>";
        row("NUL, CR, control characters, noncharacters", QByteArray(decoded, sizeof decoded - 1));
        row("a repeated name, an '=' with nothing after it", "<a href=1 HREF=2><a id=x href=><a href id=y>");
        row("image is img", "<image src=i srcset=j>");
        row("a base in a template", "<template><base href=t></template><base href=u><a href=v>");
        row("SVG and MathML", "<svg><a href=s id=i /><foreignObject><a href=h></svg><math><mi id=m></math>");
        row("an end tag that makes an element", "<p></br id=b></p id=q><a href=z>");
        row("a formatting element cloned", "<p><a href=1>x<p>y", false);
        row("an element moved out of a table", "<table><tr><td><a href=1></td></tr><div><a href=2>", false);
        row("a second body's attributes", "<body id=a><body id=b class=c>", false);
        row("misnested formatting", "<b id=o><p>x</b>y", false);
        row("a frame in SVG, read by gumbo", "<svg><frame id=\"a&amp;b\"></frame></svg><math><frame id=c\x01>");
    }
    void readOffTheTags()
    {
        QFETCH(QByteArray, html);
        QFETCH(bool, inTagOrder);
        HtmlNesting::TreeTags tags;
        QVERIFY(HtmlNesting::of(html, &tags).affordable);
        QCOMPARE(tags.inTagOrder, inTagOrder);
        const DocumentLinks read = HtmlLinks::readUtf8(html);
        const DocumentLinks tree = HtmlLinks::readThroughTree(html);
        QCOMPARE(shown(read), shown(tree));
        QCOMPARE(read.anchors, tree.anchors);
        QCOMPARE(read.base, tree.base);
    }

    // The pass that foresees gumbo's cost counts the elements gumbo makes of
    // what it can foresee, and gives up on the rest.
    void treeCost_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<bool>("affordable");
        QTest::addColumn<bool>("gumboAsserts");
        const auto row = [](const char* name, const QByteArray& html, bool affordable = true, bool gumboAsserts = false) {
            QTest::newRow(name) << html << affordable << gumboAsserts;
        };
        row("misnested formatting", "<b><p>x</b>y<i><div>z</i></p>w");
        row("formatting across cells", "<table><td><b>x<td>y</b></table><i>z");
        row("the fourth identical formatting element, written otherwise",
            "<p><b c=1 d><b\tC='1' d d=2><b d c=&#49;><b d=\"\" c=1></p>x");
        row("an a closing an a", "<a href=1><div><a href=2>x</div>y");
        row("nobr in nobr", "<nobr><span><nobr>x");
        row("table parts implied", "<table><td>a<tr><th>b<caption>c<col><tbody><select><td>");
        row("text in a table", "<table> x <b>y</b>&#32;&nbsp;</table>");
        row("select", "<select><option><optgroup><option><div><input><select></select>");
        row("template", "<template><td><tr>x</template><template><col><p>y</template>");
        row("form in a template", "<form><template><form><p></form></template></form>");
        row("SVG and MathML", "<svg><g/><foreignObject><p>x</svg><math><mi><b>y</math><svg><p>z");
        row("annotation", "<math><annotation-xml encoding=TEXT/HTML><div>x</annotation-xml></math>");
        row("raw text", "<title><b></title><script><!--<script></script>x--></script><style><i></style><p>");
        row("comments and CDATA", "<!--><b>--><!-- --!><i><svg><![CDATA[<u>]]></svg><![CDATA[<s>]]>");
        row("foreign end tags as gumbo names them", "<svg><x></x ></svg><svg></svg x><g></><svg></svg><g>");
        row("tags cut short", "<div title='>'><p/><br/></p></br><a/b><x-y></x-z><span");
        row("head content", "<head><noscript><link><p></noscript><title>t</title></head><meta><body>");
        row("ruby", "<ruby><rb>a<rt>b<rtc>c<rp>d</ruby><rt><rt>");
        row("a line feed right after pre", "<h3><a></h3><pre>\n");
        row("CR LF right after listing", "<h3><a></h3><listing>\r\n");
        row("a line feed written as a reference", "<h3><a></h3><pre>&#10;");
        row("a doctype with ids, a p before a table", "<!DOCTYPE html PUBLIC '-//W3C//DTD HTML 4.01//EN'><p><table>", false);
        row("frameset", "<frameset><frame>", false);
        row("a select of SVG's closed as HTML's", "<table><svg><select><title><template></template><caption>", false, true);
        row("a cell of SVG's closed as HTML's, by a row's end", "<table><tr><svg><td><title><template></template></tr>", false, true);
        row("a cell of MathML's closed by a table's end", "<table><math><td><mi><template></template></table>", false, true);
        row("too deep", QByteArray("<div>").repeated(HtmlNesting::DepthLimit + 1), false);
        row("more elements than a tree is built of", QByteArray("<br>").repeated(HtmlNesting::MostElements), false);
    }
    void treeCost()
    {
        QFETCH(QByteArray, html);
        QFETCH(bool, affordable);
        QFETCH(bool, gumboAsserts);
        if (gumboAsserts) {
            // Where gumbo would abort the run: the parse ends instead.
            const GumboParse stopped(html);
            QVERIFY(!stopped.output());
            QVERIFY2(stopped.stop().contains(u"parser.c"), qPrintable(stopped.stop()));
            QVERIFY(GumboParse("<a href=x>").output());
        }
        const HtmlNesting::Cost cost = HtmlNesting::of(html);
        QCOMPARE(cost.affordable, affordable);
        if (affordable)
            QCOMPARE(cost.elements, gumboElements(html));
        // A short page costs a few steps: one where gumbo asserts is given up
        // on there, not walked again and again up to the step limit.
        if (html.size() < 1000)
            QVERIFY2(cost.steps < 10'000, qPrintable(QString::number(cost.steps)));
    }

    // Outside a parse a failed assertion is the C library's still: the
    // program ends on it, saying so.
    void assertionsOutsideAParseEndTheProgram()
    {
        int pipeEnds[2];
        QCOMPARE(pipe(pipeEnds), 0);
        const pid_t child = fork();
        if (child == 0) {
            dup2(pipeEnds[1], STDERR_FILENO);
            __assert_fail("outside a parse", "here.c", 1, "test");
        }
        close(pipeEnds[1]);
        QByteArray said(4096, '\0');
        const ssize_t got = read(pipeEnds[0], said.data(), size_t(said.size()));
        close(pipeEnds[0]);
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT);
        QVERIFY2(said.left(std::max<ssize_t>(got, 0)).contains("outside a parse"), said.constData());
    }

    // The same on tag soup drawn from the constructs above, and the links
    // read off its tags those of its tree.
    void treeCostOfTagSoup()
    {
        const QList<QByteArray> pieces = {"<div>",
                                          "</div>",
                                          "<p>",
                                          "</p>",
                                          "<b>",
                                          "</b>",
                                          "<i id=1>",
                                          "</i>",
                                          "<a>",
                                          "</a>",
                                          "<nobr>",
                                          "<table>",
                                          "</table>",
                                          "<tr>",
                                          "<td>",
                                          "</td>",
                                          "<th>",
                                          "<caption>",
                                          "<col>",
                                          "<tbody>",
                                          "<select>",
                                          "</select>",
                                          "<option>",
                                          "<optgroup>",
                                          "<li>",
                                          "<ul>",
                                          "</ul>",
                                          "<dd>",
                                          "<span>",
                                          "</span>",
                                          "<form>",
                                          "</form>",
                                          "<svg>",
                                          "</svg>",
                                          "<math>",
                                          "<mi>",
                                          "<foreignObject>",
                                          "<path/>",
                                          "<template>",
                                          "</template>",
                                          "<button>",
                                          "</button>",
                                          "<object>",
                                          "</object>",
                                          "<h1>",
                                          "</h2>",
                                          "<ruby>",
                                          "<rt>",
                                          "<input>",
                                          "<head>",
                                          "<body>",
                                          "</body>",
                                          "</html>",
                                          "<textarea>t</textarea>",
                                          "<script>s</script>",
                                          "<x-y>",
                                          "</x-z>",
                                          "x",
                                          " ",
                                          "&#32;",
                                          "\0",
                                          "<!-- c -->",
                                          "<frame>",
                                          "</br>",
                                          "<hr>",
                                          "<pre>",
                                          "<a href=x id=y>",
                                          "<img src='a&amp;b' srcset=c>",
                                          "<base href=d>",
                                          "<image src=i>"};
        QRandomGenerator random(7);
        for (int soup = 0; soup < 2000; ++soup) {
            QByteArray html;
            for (int piece = int(random.bounded(1, 60)); piece > 0; --piece)
                html += pieces[random.bounded(pieces.size())];
            const HtmlNesting::Cost cost = HtmlNesting::of(html);
            QVERIFY2(cost.affordable, html.constData());
            QVERIFY2(cost.elements == gumboElements(html), html.constData());
            const DocumentLinks read = HtmlLinks::readUtf8(html);
            const DocumentLinks tree = HtmlLinks::readThroughTree(html);
            QVERIFY2(shown(read) == shown(tree) && read.anchors == tree.anchors && read.base == tree.base,
                     html.constData());
        }
    }
};

QTEST_GUILESS_MAIN(HtmlLinksTest)
#include "tst_html_links.moc"
