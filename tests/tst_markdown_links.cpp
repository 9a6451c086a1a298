// Links as a Markdown document holds them, where each stands, and the
// anchors its headings and HTML give.
#include "engine/extract/HeadingAnchors.h"
#include "engine/extract/MarkdownLinks.h"

#include <QFile>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace {
// Each link as "line:column element address".
QStringList described(const DocumentLinks& found)
{
    QStringList links;
    for (const FoundLink& link : found.links)
        links.append(QStringLiteral("%1:%2 %3 %4").arg(link.place.line).arg(link.place.column).arg(link.element, link.address));
    return links;
}

#if defined(__SANITIZE_ADDRESS__)
#define TESSALY_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSALY_ADDRESS_SANITIZER 1
#endif
#endif

// While it lives, the process may take at most `bytes` more address space
// than it has, so that a parse that would take gigabytes fails at once. The
// address sanitizer's shadow memory is no room to count: under it, no limit.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(rlim_t bytes)
    {
#ifndef TESSALY_ADDRESS_SANITIZER
        QFile status(QStringLiteral("/proc/self/statm"));
        if (!status.open(QIODevice::ReadOnly) || getrlimit(RLIMIT_AS, &m_before) != 0)
            return;
        const rlim_t pages = status.readAll().split(' ').value(0).toULongLong();
        rlimit limited = m_before;
        limited.rlim_cur = std::min(m_before.rlim_max, pages * rlim_t(getpagesize()) + bytes);
        m_set = setrlimit(RLIMIT_AS, &limited) == 0;
#else
        Q_UNUSED(bytes);
#endif
    }
    ~AddressSpaceLimit()
    {
        if (m_set)
            setrlimit(RLIMIT_AS, &m_before);
    }

private:
    rlimit m_before{};
    bool m_set = false;
};

// A table of `columns` with a link in its header and `rows` more lines
// under it, the last with a link too.
QByteArray tableOf(int columns, int rows)
{
    QByteArray text = "|[a](x)|" + QByteArray("b|").repeated(columns - 1) + '\n' + QByteArray("|-").repeated(columns) + "|\n";
    return text + QByteArray("c\n").repeated(rows) + "[t](y)\n";
}
}

class MarkdownLinksTest : public QObject {
    Q_OBJECT
private slots:
    // The place is of the address's first character, a reference link's of
    // the "[" where it is used; columns in characters, a tab counting one.
    void linksAndWhereTheyStand_data()
    {
        QTest::addColumn<QByteArray>("markdown");
        QTest::addColumn<QStringList>("links");
        const auto row = [](const char* name, const char* markdown, QStringList links) {
            QTest::newRow(name) << QByteArray(markdown) << links;
        };
        row("inline", "a [t](http://x) b", {"1:7 link http://x"});
        row("angle brackets, spaces, title", "[t](  < u r l > \"title\")", {"1:9 link u r l"});
        row("escaped line ending in angle brackets", "[a](<x\\\ny>) [b](z)", {"1:6 link x\\\ny", "2:9 link z"});
        row("form feed before the address", "[t](\f\vx)", {"1:7 link x"});
        row("image with a title", "![alt](im.png 'x')", {"1:8 image im.png"});
        row("escapes and references decoded, %XX kept", "[t](a\\_b&amp;c%20d&#x41;)", {"1:5 link a_b&c%20dA"});
        row("parentheses in the address", "[t](a(b)c)", {"1:5 link a(b)c"});
        row("autolinks in brackets", "<http://x.y/z> <me@x.org>",
            {"1:2 autolink http://x.y/z", "1:17 autolink mailto:me@x.org"});
        row("bare autolinks", "see www.ex.com/p and http://b.org, a@b.org",
            {"1:5 autolink http://www.ex.com/p", "1:22 autolink http://b.org", "1:36 autolink mailto:a@b.org"});
        row("full, collapsed and shortcut references, defined after use, any case",
            "[full][R] [coll][] [short]\n\n[r]: /1\n[coll]: /2\n[SHORT]: /3",
            {"1:1 link /1", "1:11 link /2", "1:20 link /3"});
        row("a reference image", "![i][r]\n\n[r]: /i.png", {"1:1 image /i.png"});
        row("undefined reference, unused definition", "[none] x\n\n[u]: http://unused", {});
        row("code spans and blocks", "`[a](b)` and `` <http://c> ``\n\n```\n[c](d)\n```\n\n    [e](f)\n", {});
        row("tab and wide characters before", "é\t日本 [t](x)", {"1:10 link x"});
        row("after a soft break", "a\nb [t](x)", {"2:7 link x"});
        row("after a hard break", "a\\\n  [t](x) b  \n[u](y)", {"2:7 link x", "3:5 link y"});
        row("block quote and its lazy line", "> a\n> b [t](x)\nlazy [u](y)", {"2:9 link x", "3:10 link y"});
        row("nested block quotes", ">> a\n> > [t](x)", {"2:9 link x"});
        row("indented \">\" closing inline HTML in a block quote", "> a <i\n    >\t> [t](x)", {"2:13 link x"});
        row("indented \">\" on a lazy line", "> a\n    > b [t](x) <i\n    > [u](y)", {"2:13 link x", "3:11 link y"});
        row("list item, deeper continuation", "- a\n     b [t](x)", {"2:12 link x"});
        row("autolink in a list item", "- see <http://x>", {"1:8 autolink http://x"});
        row("table, escaped pipe", "| a | b |\n|---|---|\n| \\| [t](x) | [u](y) |", {"3:10 link x", "3:19 link y"});
        row("form feed before a cell", "| a | b |\n|---|---|\n| x |\f\f[t](x) |", {"3:12 link x"});
        row("table row indented unlike the first", "| a |\n|---|\n   | [t](x) |", {"3:10 link x"});
        row("backslash break, then a tab the quote takes part of", ">> a\\\n>\tb [q](q)", {"2:9 link q"});
        row("a tab to a tab stop before a quote's \">\"", ">> a\n>\t >b [q](q)", {"2:11 link q"});
        row("a tab to a quote's \">\" more than three columns in, outside list items",
            ">> - - <i\n>[t](u)\n>\t   >[t](q)", {"2:6 link u", "3:11 link q"});
        row("a tab to a quote's \">\", then a list item's lazy line", ">>>>1. [t](u)\n>\t   >*-[t](v)\n  [t](q)",
            {"1:12 link u", "2:13 link v", "3:7 link q"});
        row("escaped pipe in a paragraph a table ends", "a \\\\| [t](x)\nb | c\n--|--", {"1:11 link x"});
        row("escaped pipe in a bare address a table ends", "x http://a.b/\\|c [t](y)\nd | e\n--|--",
            {"1:3 autolink http://a.b/|c", "1:22 link y"});
        row("table taking a paragraph's last line", "z\n\na [t](x)\nb | [u](y)\n-|-", {"3:7 link x", "4:9 link y"});
        row("dashes in the paragraph a table ends", "a [t](x)\n|-|-|-|\nb | [u](y)\n--|--\nd | e",
            {"1:7 link x", "3:9 link y"});
        row("table in a block quote", "> | [a](x) |\n> |---|\n> | <http://y> |", {"1:9 link x", "3:6 autolink http://y"});
        row("address and title on later lines", "[a\nb](\n  http://x \"t\nu\") [c](y)", {"3:3 link http://x", "4:9 link y"});
        row("paragraph begun by definitions", "[r]: /1\n  \"title\"\n  [r] x", {"3:3 link /1"});
        row("heading begun by a definition", "[r]: /1\n[r] x\n===", {"2:1 link /1"});
        row("no underline after a definition", "[r]: /1\n=\n[r] x\n---", {"3:1 link /1"});
        row("no underline on a lazy line", "> a\n=\n> [t](x)\n> =", {"3:7 link x"});
        row("no underline on a list item's lazy line", "- a\n=\n  [t](x)\n  ===", {"3:7 link x"});
        row("no underline on a lazy line of a list item in a block quote", "> - a\n> =\n>   [t](x)\n>   ===",
            {"3:9 link x"});
        row("an underline indented to the list item's text", "- a\n  =\n[t](x)", {"3:5 link x"});
        row("no underline with a vertical tab, nor indented a tab", "a\n=\v\n\t=\n[t](x)\n-", {"4:5 link x"});
        row("setext heading's text ends at its underline", "[r](x \"a\n===\nb\")\n\n[r]: /1", {"1:1 link /1"});
        row("a setext heading whose text starts with #, in a list item", "- #=\n[](x)\n\t=", {"2:4 link x"});
        row("link around an image", "[![b](i.png)](h)", {"1:15 link h", "1:7 image i.png"});
        row("no link in alternative text", "![a [b](c)](d)", {"1:13 image d"});
        row("emphasis and strikethrough", "~~[a](b)~~ **[c](d)** _[e](f)_", {"1:7 link b", "1:18 link d", "1:28 link f"});
        row("after references in text", "&copy; \\[ [t](x)", {"1:15 link x"});
        row("ATX heading", "## [t](x) ##", {"1:8 link x"});
        row("CRLF and CR line endings", "a\r\n[t](x)\r[u](y)", {"2:5 link x", "3:5 link y"});
        row("byte-order mark, invalid UTF-8", "\xef\xbb\xbf\xff [t](x)", {"1:7 link x"});
        row("byte-order marks before the text, one in it", "\xef\xbb\xbf\xef\xbb\xbf[t](\xef\xbb\xbfx)",
            {"1:5 link \ufeffx"});
        row("empty addresses", "[a]() [b](<>)", {"1:5 link ", "1:12 link "});
        row("HTML block", "<div>\n  <a href=\"x\">\n</div>", {"2:12 a href x"});
        row("inline HTML", "a <img\n  src=\"i\"> b", {"2:8 img src i"});
        row("inline HTML, a name after a repeated one", "<img\ns s\nrc=x> <a h h\nhref=y>", {"4:6 a href y"});
        row("HTML block in a block quote", "> <p>\n>   <a href=\"x\">", {"2:14 a href x"});
    }
    void linksAndWhereTheyStand()
    {
        QFETCH(QByteArray, markdown);
        QFETCH(QStringList, links);
        QCOMPARE(described(MarkdownLinks::read(markdown)), links);
    }

    // A table whose short rows cmark-gfm's table extension would fill out
    // to gigabytes of cells is read for its links as text.
    void wideTables_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::newRow("5,000 columns") << 5000 << 7500;
        QTest::newRow("1,000 columns, 5,000 rows") << 1000 << 5000;
        QTest::newRow("200 columns, 10 rows, a table") << 200 << 10;
    }
    void wideTables()
    {
        QFETCH(int, columns);
        QFETCH(int, rows);
        const AddressSpaceLimit limit(rlim_t(1) << 30);
        const QStringList links = {"1:6 link x", QStringLiteral("%1:5 link y").arg(rows + 3)};
        QCOMPARE(described(MarkdownLinks::read(tableOf(columns, rows))), links);
    }

    // Markup that would cost cmark-gfm gigabytes is refused at once, and
    // says why; as much as is let through is read.
    void costlyMarkup_data()
    {
        QTest::addColumn<QByteArray>("markdown");
        QTest::addColumn<QString>("refusal");
        const QByteArray link = "[t](x)\n";
        QTest::newRow("lists nested on a line") << QByteArray("- ").repeated(200000) + link
                                                << "line 1 opens 200000 lists and block quotes, more than the 100 a "
                                                   "document may nest on a line: not read, as the Markdown reader "
                                                   "would take memory for each";
        QTest::newRow("block quotes and ordered items")
            << "a\n" + QByteArray(">1) ").repeated(50) + ">" + link << QStringLiteral("line 2 opens 101");
        // Against a bound of 10,000 nodes: the count is the same at any size.
        QTest::newRow("nested on many lines")
            << (QByteArray("- ").repeated(100) + link).repeated(100)
            << "by line 97, more than the 10000 blocks, lists and inline marks the Markdown reader takes";
        QTest::newRow("short paragraphs") << QByteArray("a\n\n").repeated(5001) << "by line 10001, more than";
        QTest::newRow("inline marks") << link.repeated(2501) << "by line 2501, more than";
        // A thematic break is one rule, whatever its marks, in a quote too.
        QTest::newRow("a long thematic break") << QByteArray("- ").repeated(150) + "\n" + link << QString();
        QTest::newRow("one in a block quote") << "> " + QByteArray("* ").repeated(150) + "\n\n" + link << QString();
        QTest::newRow("100 on a line") << QByteArray("- > 1. ").repeated(33) + "* " + link << QString();
        QTest::newRow("no markers without a blank after them")
            << QByteArray("-a +b *c 1.d 2)e ").repeated(30) + QByteArray("1234567890. ").repeated(101) + link << QString();
    }
    void costlyMarkup()
    {
        QFETCH(QByteArray, markdown);
        QFETCH(QString, refusal);
        const AddressSpaceLimit limit(rlim_t(1) << 29);
        if (refusal.startsWith(u"by line")) {
            QVERIFY2(MarkdownLinks::whyTooCostly(markdown, 10000).value_or(QString()).startsWith(refusal),
                     qPrintable(MarkdownLinks::whyTooCostly(markdown, 10000).value_or(QString())));
            return;
        }
        const auto read = MarkdownLinks::readBounded(markdown);
        if (refusal.isEmpty()) {
            QVERIFY(std::holds_alternative<DocumentLinks>(read));
            const int line = int(markdown.count('\n'));
            const int column = int(markdown.size() - markdown.lastIndexOf('\n', markdown.size() - 2)) - 3;
            QCOMPARE(described(std::get<DocumentLinks>(read)),
                     QStringList(QStringLiteral("%1:%2 link x").arg(line).arg(column)));
        } else {
            QVERIFY(std::holds_alternative<QString>(read));
            QVERIFY2(std::get<QString>(read).startsWith(refusal), qPrintable(std::get<QString>(read)));
            QVERIFY(MarkdownLinks::read(markdown).links.empty());
        }
    }

    void anchors_data()
    {
        QTest::addColumn<QByteArray>("markdown");
        QTest::addColumn<QStringList>("anchors");
        const auto row = [](const char* name, const char* markdown, QStringList anchors) {
            QTest::newRow(name) << QByteArray(markdown) << anchors;
        };
        row("ATX and setext repeated", "# Hello, World!\n## Hello, World!\nHello World\n---\n",
            {"hello-world", "hello-world-1", "hello-world-2"});
        row("markup left out", "# The `--dump` *option*", {"the---dump-option"});
        row("a link's text, no image's", "# [Docs](x) and ![img](y) pic", {"docs-and--pic"});
        row("in a block quote", "> ## Inside", {"inside"});
        row("HTML ids and names", "<h2 id=\"x\">X</h2>\n\na <a name=\"y\"></a>", {"x", "y"});
    }
    void anchors()
    {
        QFETCH(QByteArray, markdown);
        QFETCH(QStringList, anchors);
        QCOMPARE(MarkdownLinks::read(markdown).anchors, anchors);
    }

    // One document's headings in turn, and the anchor each is given.
    void headingAnchors_data()
    {
        QTest::addColumn<QStringList>("headings");
        QTest::addColumn<QStringList>("anchors");
        const auto row = [](const char* name, QStringList headings, QStringList anchors) {
            QTest::newRow(name) << headings << anchors;
        };
        row("punctuation", {"Hello, World! (v2.0)?"}, {"hello-world-v20"});
        row("hyphens and underscores kept", {"snake_case - and -- x"}, {"snake_case---and----x"});
        row("emoji", {"🎉 Party time"}, {"-party-time"});
        row("accents", {"Café MÜLLER"}, {"café-müller"});
        row("combining accent", {"Cafe\u0301"}, {"cafe\u0301"});
        row("CJK", {"日本語の見出し"}, {"日本語の見出し"});
        row("tab and no-break space dropped", {"a\tb\u00a0c"}, {"abc"});
        row("repeats", {"a", "a", "a"}, {"a", "a-1", "a-2"});
        row("a heading like an earlier repeat", {"a", "a", "a-1", "a"}, {"a", "a-1", "a-1-1", "a-2"});
        row("an earlier heading like a repeat", {"a-1", "a", "a"}, {"a-1", "a", "a-2"});
    }
    void headingAnchors()
    {
        QFETCH(QStringList, headings);
        QFETCH(QStringList, anchors);
        HeadingAnchors::Document document;
        QStringList given;
        for (const QString& heading : headings)
            given.append(document.anchorFor(heading));
        QCOMPARE(given, anchors);
    }
};

QTEST_GUILESS_MAIN(MarkdownLinksTest)
#include "tst_markdown_links.moc"
