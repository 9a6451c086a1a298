// tessaly-check over a small docs tree, in this process against the loopback
// server (and once as the user runs it): which links are asked, which looked
// for on disk, which left, and where the report says each stands.

#include "CheckRuns.h"
#include "Gzipped.h"
#include "LoopbackServer.h"
#include "TestFiles.h"
#include "engine/extract/DocumentFiles.h"
#include "engine/extract/HtmlLinks.h"
#include "engine/extract/MarkdownLinks.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

Q_DECLARE_METATYPE(Documents::Settings)

namespace {
// "line:column" of the first `needle` in a file's text, columns in characters.
QString placeOf(const QString& text, const QString& needle)
{
    const qsizetype at = text.indexOf(needle);
    const qsizetype lineStart = text.lastIndexOf(u'\n', at) + 1;
    return QStringLiteral("%1:%2").arg(text.left(at).count(u'\n') + 1).arg(text.mid(lineStart, at - lineStart).toUcs4().size() + 1);
}
// A run in this process that reads these bytes as its standard input.
Finished runOnStandardInput(const QStringList& arguments, const QByteArray& input)
{
    TestFolder dir;
    const int file = ::open(QFile::encodeName(dir.file(QStringLiteral("input"), input)).constData(), O_RDONLY);
    const int saved = ::dup(STDIN_FILENO);
    ::dup2(file, STDIN_FILENO);
    ::close(file);
    const Finished finished = runInProcess(arguments);
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
    return finished;
}
}  // namespace

class CliDocumentsTest : public QObject {
    Q_OBJECT
    LoopbackServer m_server;
    TestFolder m_dir;
    QString m_docs;
    QString m_index;  // the Markdown page's text
    QString m_page;   // the HTML page's text

    // A tree whose first page links to most of the others' fragments before
    // their turns, by each way a link finds a file: a symbolic link, a
    // folder's index, a root-relative path, a Markdown file refused as too
    // costly to read.
    static void writeLinkedTree(TestFolder& dir)
    {
        dir.file(QStringLiteral("a.html"),
                 "<a href=\"b.html#s\">1</a><a href=\"sub/#x\">2</a><a href=\"c.md#heading\">3</a>\n"
                 "<a href=\"deep.md#x\">4</a> <a href=\"/b.html#s\">5</a> <a href=\"b.html#missing\">6</a>\n"
                 "<a href=\"alias.html#s\">7</a><a href=\"#self\">8</a><a href=\"https://example.org/x\">9</a>\n"
                 "<a href=\"x.html#caf\xC3\xA9\">10</a>\n");
        dir.file(QStringLiteral("b.html"), "<p id=\"s\"><a href=\"a.html#top\">up</a>\n<a href=\"c.md\">c</a>"
                                           "<a href=\"mailto:x@example.org\">m</a><a href=\"c.md#nowhere\">n</a>\n");
        QFile::remove(dir.filePath(QStringLiteral("alias.html")));  // when written again
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("b.html")), dir.filePath(QStringLiteral("alias.html"))));
        dir.file(QStringLiteral("c.md"), "# Heading\n\n[b](b.html#s) [sub](sub/index.html#x)\n");
        dir.file(QStringLiteral("deep.md"), QByteArray("> ").repeated(MarkdownLinks::MostContainersOnALine + 1) + "x\n");
        dir.file(QStringLiteral("sub/index.html"), "<p id=\"x\"><a href=\"../c.md#heading\">c</a>");
        // An XHTML page read early by an HTML name, which leaves its XML
        // declaration unread: not what its own turn reads.
        dir.file(QStringLiteral("page.xhtml"), "<?xml version=\"1.0\" encoding=\"windows-1252\"?><p id=\"caf\xE9\"><a href=\"caf\xE9.html\">y</a>");
        dir.file(QStringLiteral("caf\xC3\xA9.html"), "");
        QFile::remove(dir.filePath(QStringLiteral("x.html")));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("page.xhtml")), dir.filePath(QStringLiteral("x.html"))));
    }
    // What keeping the first target a.html names takes: a budget with room
    // for it alone.
    static qint64 firstTargetSize(const TestFolder& dir)
    {
        return Documents::keptSize(HtmlLinks::read(readBytes(dir.filePath(QStringLiteral("b.html")))));
    }
    // Each link of the inputs as the run hands it on, each message, and the
    // summary; `afterFirst` runs after the first input's turn.
    static QStringList readInTurn(const QStringList& names, const Documents::Settings& settings,
                                  const std::function<void()>& afterFirst = {})
    {
        QStringList warnings;
        auto walked = Documents::inputsOf(names, settings, warnings);
        if (!std::holds_alternative<std::vector<Documents::Input>>(walked))
            return {std::get<QString>(walked)};
        auto& inputs = std::get<std::vector<Documents::Input>>(walked);
        Documents documents(settings);
        documents.expect(inputs);
        QStringList read;
        for (const Documents::Input& input : inputs) {
            const auto problem = documents.forEachLink(input, [&](const Documents::Item& item) {
                read << item.source.where() + u' ' + QString::fromUtf8(item.address) + u' '
                            + (item.decided
                                   ? AnswerClasses::nameOf(item.decided->answerClass).toString() + u' ' + item.decided->reason
                                   : QStringLiteral("asked"));
                return true;
            });
            if (problem)
                read << *problem;
            if (afterFirst && &input == &inputs.front())
                afterFirst();
        }
        return read << documents.summary();
    }

private slots:
    void initTestCase()
    {
        for (const char* proxy : ProxyVariables)
            qunsetenv(proxy);
        m_server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        m_server.route("/site/page.html", LoopbackServer::answer("HTTP/1.1 200 OK"));
        const QString ok = m_server.url("/ok");
        m_index = QStringLiteral("# Guide\n\nSee [the page](page.html) and [gone](missing.md).\n"
                                 "Remote [ok](%1) and [dead](%2).\n"
                                 "\tAgain, café [ok](%1#frag) · [mail](mailto:a@example.org)\n\n"
                                 "[there](page.html#there) [nowhere](page.html#nowhere) [self](#guide) [folder](sub/)\n")
                      .arg(ok, m_server.url("/dead"));
        m_page = QStringLiteral("<html><body><h1 id=\"there\">x</h1>\n  <a href=\"index.md#guide\">back</a>"
                                "<img src=\"%1\"></body></html>\n")
                     .arg(ok);
        m_docs = m_dir.filePath(QStringLiteral("docs"));
        m_dir.file(QStringLiteral("docs/index.md"), m_index.toUtf8());
        m_dir.file(QStringLiteral("docs/page.html"), m_page.toUtf8());
        m_dir.file(QStringLiteral("docs/sub/README.md"), QStringLiteral("[up](../index.md)\n").toUtf8());
        m_dir.file(QStringLiteral("plain/notes.txt"), "not read from a folder\n");
        m_dir.file(QStringLiteral("follow/page.html"),
                   QStringLiteral("<a rel=\"nofollow\" href=\"%1\">x</a>\n<a href=\"%1\">y</a>\n").arg(ok).toUtf8());
        m_server.route("/listed", LoopbackServer::answer("HTTP/1.1 200 OK"));
        m_dir.file(QStringLiteral("lists/urls.txt"), m_server.url("/listed").toUtf8() + '\n');
        const auto sitemap = [](const QString& address) {
            return QStringLiteral("<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n"
                                  "<url><loc>%1</loc></url></urlset>\n")
                .arg(address)
                .toUtf8();
        };
        m_dir.file(QStringLiteral("maps/sitemap.xml"), sitemap(ok));
        m_dir.file(QStringLiteral("maps/sitemap-b.xml.gz"), gzipped(sitemap(m_server.url("/site/page.html"))));
        m_dir.file(QStringLiteral("docs/.hidden/x.md"), QStringLiteral("[x](%1)\n").arg(m_server.url("/hidden")).toUtf8());
    }

    // Every link of the tree once in its place: the verdict, where it led and
    // where it stands; each address asked once however many places hold it.
    void reportOfATree()
    {
        const int before = m_server.requests().size();
        const Finished finished = runInProcess({m_docs});
        QCOMPARE(finished.exitCode, 1);
        const QString index = m_docs + QStringLiteral("/index.md:");
        const QString page = m_docs + QStringLiteral("/page.html:");
        const QString ok = m_server.url("/ok");
        const QStringList expected = {
            "valid\tfile\t" + m_docs + "/page.html\tok\t0\t" + index + placeOf(m_index, "page.html"),
            "invalid\tno such file or folder\t" + m_docs + "/missing.md\tnot-found\t0\t" + index
                + placeOf(m_index, "missing.md"),
            "valid\tHTTP/1.1 200 OK\t" + ok + "\tok\t1\t" + index + placeOf(m_index, ok),
            "invalid\tHTTP/1.1 404 Not Found\t" + m_server.url("/dead") + "\tnot-found\t1\t" + index
                + placeOf(m_index, "http://127.0.0.1:" + QString::number(m_server.port()) + "/dead"),
            "valid\tHTTP/1.1 200 OK\t" + ok + "#frag\tok\t1\t" + index + placeOf(m_index, ok + "#frag"),
            "skipped\tmailto: not asked\tmailto:a@example.org\tskipped\t0\t" + index + placeOf(m_index, "mailto:"),
            "valid\tfile\t" + m_docs + "/page.html#there\tok\t0\t" + index + placeOf(m_index, "page.html#there"),
            "invalid\tno #nowhere in the file\t" + m_docs + "/page.html#nowhere\tno-fragment\t0\t" + index
                + placeOf(m_index, "page.html#nowhere"),
            "valid\tfile\t" + m_docs + "/index.md#guide\tok\t0\t" + index + placeOf(m_index, "#guide"),
            "valid\tfile\t" + m_docs + "/sub\tok\t0\t" + index + placeOf(m_index, "sub/"),
            "valid\tfile\t" + m_docs + "/index.md#guide\tok\t0\t" + page + placeOf(m_page, "index.md#guide"),
            "valid\tHTTP/1.1 200 OK\t" + ok + "\tok\t1\t" + page + placeOf(m_page, ok),
            "valid\tfile\t" + m_docs + "/index.md\tok\t0\t" + m_docs + "/sub/README.md:1:6",
        };
        QCOMPARE(QString::fromUtf8(finished.out).split(u'\n', Qt::SkipEmptyParts), expected);
        QCOMPARE(m_server.requestedPaths().mid(before), (QList<QByteArray>{"/ok", "/dead"}));
        QVERIFY2(finished.err.contains("3 files read (1 html, 2 markdown), 13 links: 4 to ask, 8 on disk, 1 skipped"),
                 finished.err.constData());
    }

    // The same places in JSON lines, with the address as written beside it.
    void jsonSource()
    {
        const Finished finished = runInProcess({"--format", "jsonl", m_docs + "/sub"});
        const QJsonObject line = QJsonDocument::fromJson(finished.out).object();
        QCOMPARE(line.value("written").toString(), QStringLiteral("../index.md"));
        QCOMPARE(line.value("source").toObject(),
                 (QJsonObject{{"file", m_docs + "/sub/README.md"}, {"line", 1}, {"column", 6}, {"element", "link"}}));
    }

    // rel=nofollow is shown where a reader of links looks for it: in --dump
    // and in the JSON report's source; the text report's fields stay as they
    // are. `key`: the JSON object that holds "nofollow" ("." the line's
    // own), empty for text, where it is the dump's last field; `shown`: for
    // each link, 1 when it shows.
    void nofollowShown_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("shown");
        QTest::newRow("--dump") << QStringList{"--dump"} << QString() << "10";
        QTest::newRow("--dump --format jsonl") << QStringList{"--dump", "--format", "jsonl"} << "."
                                               << "10";
        QTest::newRow("jsonl report") << QStringList{"--format", "jsonl"} << "source"
                                      << "10";
        QTest::newRow("text report") << QStringList{} << QString() << "00";
    }
    void nofollowShown()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, key);
        QFETCH(QString, shown);
        const Finished finished = runInProcess(arguments << m_dir.filePath(QStringLiteral("follow/page.html")));
        const QList<QByteArray> lines = finished.out.trimmed().split('\n');
        QCOMPARE(lines.size(), shown.size());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const bool expected = shown[i] == u'1';
            if (key.isEmpty()) {
                QVERIFY2(lines[i].endsWith("\tnofollow") == expected, lines[i].constData());
                continue;
            }
            QJsonObject object = QJsonDocument::fromJson(lines[i]).object();
            if (key != u".")
                object = object.value(key).toObject();
            else  // the dump's own fields beside it
                QCOMPARE(object.value("resolved").toString(), m_server.url("/ok"));
            QVERIFY2(object.contains("nofollow") == expected && object.value("nofollow").toBool() == expected,
                     lines[i].constData());
        }
    }

    // Options that change what is read or where links lead: each row's
    // arguments (DOCS for the tree, or docs relative to its folder), the paths the server was asked, and a
    // piece of the report or the messages.
    void whatIsReadAndAsked_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QList<QByteArray>>("asked");
        QTest::addColumn<QByteArray>("reported");
        QTest::newRow("--dump asks nothing")
            << QStringList{"--dump", "DOCS/index.md"} << QList<QByteArray>{} << QByteArray("\tlink\tmissing.md\t");
        QTest::newRow("--base asks relative links on the site")
            << QStringList{"--base", m_server.url("/site/"), "DOCS/page.html", "--root-dir", "DOCS"}
            << QList<QByteArray>{"/site/index.md", "/ok"} << QByteArray("/site/index.md#guide\tnot-found");
        QTest::newRow("--base with a relative folder")
            << QStringList{"--base", m_server.url("/site/"), "--root-dir", "docs", "docs/page.html"}
            << QList<QByteArray>{"/site/index.md", "/ok"} << QByteArray("/site/index.md#guide\tnot-found");
        QTest::newRow("--exclude-path leaves a folder out")
            << QStringList{"--exclude-path", "DOCS/sub/", "--exclude-path", "DOCS/index.md", "DOCS"}
            << QList<QByteArray>{"/ok"} << QByteArray("page.html:");
        QTest::newRow("a mistyped --exclude-path says so")
            << QStringList{"--exclude-path", "DOCS/sbu", "DOCS/sub"} << QList<QByteArray>{}
            << QByteArray("--exclude-path names nothing there: " + m_docs.toUtf8() + "/sbu");
        QTest::newRow("a compressed sitemap")
            << QStringList{"DOCS/../maps/sitemap-b.xml.gz"} << QList<QByteArray>{"/site/page.html"}
            << QByteArray("sitemap-b.xml.gz:2:11\n");
        QTest::newRow("a folder of sitemaps") << QStringList{"DOCS/../maps"} << QList<QByteArray>{"/site/page.html", "/ok"}
                                              << QByteArray("2 files read (2 sitemap), 2 links: 2 to ask");
        QTest::newRow("a list and a document in one run")
            << QStringList{"DOCS/../lists/urls.txt", "DOCS/page.html"} << QList<QByteArray>{"/listed", "/ok"}
            << QByteArray("/listed\tok\t1\nvalid\tfile\t");
        QTest::newRow("a folder without documents says so") << QStringList{"DOCS/../plain"} << QList<QByteArray>{}
                                                            << QByteArray("plain: no HTML, Markdown or sitemap file");
        QTest::newRow("--input-format reads an odd name")
            << QStringList{"--input-format", "markdown", "DOCS/sub/notes.txt"} << QList<QByteArray>{"/ok"}
            << QByteArray("notes.txt:1:6");
    }
    void whatIsReadAndAsked()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QList<QByteArray>, asked);
        QFETCH(QByteArray, reported);
        m_dir.file(QStringLiteral("docs/sub/notes.txt"), QStringLiteral("[ok](%1)\n").arg(m_server.url("/ok")).toUtf8());
        arguments.replaceInStrings(QStringLiteral("DOCS"), m_docs);
        const int before = m_server.requests().size();
        // Relative names ("docs/...") are the test folder's.
        const QString here = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        const Finished finished = runInProcess(arguments);
        QDir::setCurrent(here);
        QVERIFY2((finished.out + finished.err).contains(reported), finished.out.constData());
        QCOMPARE(m_server.requestedPaths().mid(before), asked);
        QFile::remove(m_dir.filePath(QStringLiteral("docs/sub/notes.txt")));
    }

    // A document that cannot be read, named or found in a folder, is a
    // message naming it; the others are still read and checked, and the run
    // ends with status 2.
    void unreadDocuments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("missing, named") << QStringList{"DOCS/nothing.md", "DOCS/sub"}
                                        << QByteArray("cannot read DOCS/nothing.md: No such file");
        QTest::newRow("too large, named")
            << QStringList{"BIG/big.md", "DOCS/sub"} << QByteArray("cannot read BIG/big.md: larger than 64 MiB");
        QTest::newRow("too large, in a folder")
            << QStringList{"BIG", "DOCS/sub"} << QByteArray("cannot read BIG/big.md: larger than 64 MiB");
        QTest::newRow("too deep, named") << QStringList{"BIG/deep.md", "DOCS/sub"}
                                         << QByteArray("BIG/deep.md: line 1 opens 101 lists and block quotes");
        QTest::newRow("missing, --dump") << QStringList{"--dump", "DOCS/nothing.md", "DOCS/sub"}
                                         << QByteArray("cannot read DOCS/nothing.md");
    }
    void unreadDocuments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, message);
        const QString big = m_dir.filePath(QStringLiteral("big"));
        QFile oversized(m_dir.file(QStringLiteral("big/big.md"), {}));
        QVERIFY(oversized.resize(DocumentFiles::MostDocumentBytes + 1));
        m_dir.file(QStringLiteral("big/deep.md"), QByteArray("> ").repeated(MarkdownLinks::MostContainersOnALine + 1) + "x\n");
        arguments.replaceInStrings(QStringLiteral("DOCS"), m_docs).replaceInStrings(QStringLiteral("BIG"), big);
        message.replace("DOCS", m_docs.toUtf8()).replace("BIG", big.toUtf8());
        const Finished finished = runInProcess(arguments);
        QFile::remove(oversized.fileName());
        QFile::remove(big + QStringLiteral("/deep.md"));
        QCOMPARE(finished.exitCode, 2);
        QVERIFY2(finished.err.contains(message), finished.err.constData());
        QVERIFY2(finished.out.contains((m_docs + QStringLiteral("/sub/README.md:1:6")).toUtf8()), finished.out.constData());
    }

    // Options that cannot be used, and documents that would be overwritten,
    // stop the run before anything is asked, with status 2 and a message.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("unknown kind") << QStringList{"--input-format", "pdf", "DOCS"} << QByteArray("--input-format is");
        QTest::newRow("base not an address") << QStringList{"--base", "docs/", "DOCS"} << QByteArray("--base takes");
        QTest::newRow("base with a query") << QStringList{"--base", "https://example.org/docs?x=1", "DOCS"}
                                           << QByteArray("--base takes the folder's address without a query");
        QTest::newRow("base with a fragment") << QStringList{"--base", "https://example.org/docs/#y", "DOCS"}
                                              << QByteArray("without a query or fragment");
        QTest::newRow("base of another scheme") << QStringList{"--base", "ftp://example.org/docs/", "DOCS"}
                                                << QByteArray("--base takes an http or https address");
        QTest::newRow("root not a folder") << QStringList{"--root-dir", "DOCS/index.md", "DOCS"} << QByteArray("--root-dir");
        QTest::newRow("dump with a result file")
            << QStringList{"--dump", "--valid", "v", "DOCS"} << QByteArray("--dump asks nothing");
        QTest::newRow("merge of documents") << QStringList{"--merge", "j", "DOCS/index.md"} << QByteArray("list files only");
        QTest::newRow("shard of documents") << QStringList{"--shard", "1/2", "--resume", "DOCS/../j", "DOCS"}
                                            << QByteArray("--shard reads list files only, not");
        QTest::newRow("result file over a document")
            << QStringList{"--valid", "DOCS/page.html", "DOCS"} << QByteArray("names the document");
    }
    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, message);
        arguments.replaceInStrings(QStringLiteral("DOCS"), m_docs);
        const int before = m_server.requests().size();
        const Finished finished = runInProcess(arguments);
        QCOMPARE(finished.exitCode, 2);
        QVERIFY2(finished.err.contains(message), finished.err.constData());
        QCOMPARE(m_server.requests().size(), before);
        QCOMPARE(readBytes(m_docs + QStringLiteral("/page.html")), m_page.toUtf8());
    }

    // As the user runs it: a folder's dead link fails the run, its place shown.
    void processOverATree()
    {
        CheckProcess check;
        const Finished finished = check.run({m_docs});
        QCOMPARE(finished.exitCode, 1);
        QVERIFY(finished.out.contains("\tnot-found\t0\t" + (m_docs + "/index.md:" + placeOf(m_index, "missing.md")).toUtf8()));
    }

    // A journal of documents: the second run asks nothing and reports the
    // same, links never asked (mailto:) and those on disk taken from it too.
    void resumed()
    {
        const QString journal = m_dir.filePath(QStringLiteral("journal"));
        const QStringList arguments{"--resume", journal, m_docs + QStringLiteral("/index.md")};
        const Finished first = runInProcess(arguments);
        QCOMPARE(first.exitCode, 1);
        QVERIFY2(readBytes(journal).contains("\"address\":\"mailto:a@example.org\""), readBytes(journal).constData());
        const int before = m_server.requests().size();
        const Finished second = runInProcess(arguments);
        QCOMPARE(second.exitCode, 1);
        QCOMPARE(m_server.requests().size(), before);
        QCOMPARE(second.out, first.out);
        QVERIFY(second.out.contains("skipped\tmailto: not asked\tmailto:a@example.org\t"));
        QFile::remove(journal);
    }

    // A document gone between the folder's walk and its turn is a message
    // naming it; the documents around it are still read.
    void goneAfterTheWalk()
    {
        TestFolder dir;
        dir.file(QStringLiteral("a.md"), "[b](b.md)\n");
        dir.file(QStringLiteral("b.md"), "[a](a.md)\n");
        dir.file(QStringLiteral("c.md"), "[a](a.md)\n");
        QStringList warnings;
        const auto walked = Documents::inputsOf({dir.path()}, {}, warnings);
        QVERIFY(std::holds_alternative<std::vector<Documents::Input>>(walked));
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("b.md"))));
        Documents documents({});
        QStringList read;
        for (const Documents::Input& input : std::get<std::vector<Documents::Input>>(walked)) {
            const auto problem = documents.forEachLink(input, [&](const Documents::Item& item) {
                read << QFileInfo(item.source.file).fileName() + u' '
                            + AnswerClasses::nameOf(item.decided->answerClass).toString();
                return true;
            });
            if (problem)
                read << *problem;
        }
        QCOMPARE(read, (QStringList{"a.md not-found",
                                    "cannot read " + dir.filePath("b.md") + ": No such file or directory", "c.md ok"}));
    }

    // A document read before its turn, as a link's target, is not read again
    // for its turn while what is kept fits the budget; past it, it is. Either
    // way the run's links, verdicts, messages and summary are those of
    // reading each document in its turn. `allKept`: every document read
    // early is kept whole for its one turn, so that rewriting them after the
    // first turn changes nothing (and does, with no room to keep them).
    void sameResultsWhateverIsKept_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<Documents::Settings>("settings");
        QTest::addColumn<bool>("allKept");
        Documents::Settings settings;
        QTest::newRow("a folder") << QStringList{"DIR"} << settings << true;
        QTest::newRow("a file in it named again") << QStringList{"DIR", "DIR/c.md"} << settings << false;
        settings.kind = DocumentKind::Html;
        QTest::newRow("named again as HTML") << QStringList{"DIR", "DIR/c.md"} << settings << false;
        settings.kind.reset();
        settings.rootDir = QStringLiteral("DIR/sub");
        QTest::newRow("--root-dir") << QStringList{"DIR"} << settings << true;
        settings.rootDir.clear();
        settings.base = "https://example.org/docs/";
        QTest::newRow("--base: nothing read early") << QStringList{"DIR"} << settings << false;
    }
    void sameResultsWhateverIsKept()
    {
        QFETCH(QStringList, names);
        QFETCH(Documents::Settings, settings);
        QFETCH(bool, allKept);
        TestFolder dir;
        writeLinkedTree(dir);
        names.replaceInStrings(QStringLiteral("DIR"), dir.path());
        settings.rootDir.replace(QStringLiteral("DIR"), dir.path());
        settings.mostKeptBytes = 0;
        const QStringList eachInItsTurn = readInTurn(names, settings);
        QVERIFY(eachInItsTurn.size() > 20);
        QVERIFY2(eachInItsTurn.join(u'\n').contains(u"lists and block quotes"), qPrintable(eachInItsTurn.join(u'\n')));
        for (const qint64 budget : {firstTargetSize(dir), Documents::MostKeptBytes}) {
            settings.mostKeptBytes = budget;
            QCOMPARE(readInTurn(names, settings), eachInItsTurn);
        }
        if (!allKept)
            return;
        const auto rewrite = [&] {
            dir.file(QStringLiteral("c.md"), "[new](new.md)\n");
            dir.file(QStringLiteral("sub/index.html"), "<a href=\"new.html\">x</a>");
        };
        QCOMPARE(readInTurn(names, settings, rewrite), eachInItsTurn);
        writeLinkedTree(dir);
        settings.mostKeptBytes = 0;
        QVERIFY(readInTurn(names, settings, rewrite) != eachInItsTurn);
    }

    // A local link in a page found on disk as a browser opens it, the page's
    // links read as HTML's: a fragment looked for as written, then decoded,
    // the report naming it escaped; "\" is "/". Each rule on its own is
    // tst_link_target's and tst_document_files'. `page`: the page's name and,
    // after a space, its bytes; `reported`: the address as printed, then its
    // class.
    void localLinksAsABrowserOpensThem_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QString>("reported");
        const auto row = [](const char* name, const char* page, const char* reported) {
            QTest::newRow(name) << QByteArray(page) << QString::fromUtf8(reported);
        };
        row("an id written whole", "index.html <a href=\"sub/t.html#café\">x</a>", "sub/t.html#caf%C3%A9 ok");
        row("escapes that are no UTF-8", "index.html <a href=\"sub/t.html#caf%E9\">x</a>", "sub/t.html#caf%E9 no-fragment");
        row("a backslash for a slash", "index.html <a href=\"sub\\t.html#x%41\">x</a>", "sub/t.html#x%41 ok");
        // Printed as it reads back: a "#" in a name is no fragment.
        row("an escaped # in a name", "index.html <a href=\"sub/a%23b.html\">x</a>", "sub/a%23b.html ok");
        // An XHTML file's XML declaration names its encoding (an HTML file's
        // names nothing: tst_html_links).
        row("XHTML: the declaration's encoding",
            "index.xhtml <?xml version=\"1.0\" encoding=\"windows-1252\"?><a href=\"sub/t.html#caf\xE9\">x</a>",
            "sub/t.html#caf%C3%A9 ok");
        row("a linked XHTML's ids in its declared encoding", "index.html <a href=\"sub/l.xhtml#café\">x</a>",
            "sub/l.xhtml#caf%C3%A9 ok");
        // HTML inside Markdown is read as a browser reads it (a Markdown
        // link as written: tst_link_target).
        row("Markdown: HTML inside it", "index.md <a href=\"sub\\t.html#x%41\">x</a>", "sub/t.html#x%41 ok");
    }
    void localLinksAsABrowserOpensThem()
    {
        QFETCH(QByteArray, page);
        QFETCH(QString, reported);
        TestFolder dir;
        dir.file(QStringLiteral("sub/t.html"), "<p id=\"x%41\"></p><p id=\"café\"></p>");
        dir.file(QStringLiteral("sub/a#b.html"), "");
        dir.file(QStringLiteral("sub/l.xhtml"), "<?xml version=\"1.0\" encoding=\"windows-1252\"?><p id=\"caf\xE9\"></p>");
        const qsizetype space = page.indexOf(' ');
        const QString name = QString::fromUtf8(page.left(space));
        const QString path = dir.file(name, page.mid(space + 1));
        Documents documents({});
        QStringList found;
        QVERIFY(!documents.forEachLink({path, DocumentKinds::ofFileName(name), dir.path(), {}}, [&](const Documents::Item& item) {
            found << QString::fromUtf8(item.address).remove(dir.path() + u'/') + u' '
                         + AnswerClasses::nameOf(item.decided->answerClass).toString();
            return true;
        }));
        QCOMPARE(found, QStringList{reported});
    }

    // A page on standard input: its own fragments are its anchors, since
    // there is no file to look in, nor a page of its own on the site.
    void standardInput_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("on disk") << QStringList{};
        QTest::newRow("--base") << QStringList{"--base", m_server.url("/site/")};
    }
    void standardInput()
    {
        QFETCH(QStringList, arguments);
        const int before = m_server.requests().size();
        const Finished finished = runOnStandardInput(arguments << "--input-format"
                                                               << "markdown"
                                                               << "-",
                                                     "# Guide\n\n[self](#guide) [case](#GUIDE) [nowhere](#nowhere)\n");
        QCOMPARE(finished.exitCode, 1);
        const QList<QByteArray> lines = finished.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].startsWith("valid\t") && lines[0].endsWith("\t-:3:8"), lines[0].constData());
        QVERIFY2(lines[1].startsWith("valid\t"), lines[1].constData());
        QVERIFY2(lines[2].startsWith("invalid\tno #nowhere in standard input\t"), lines[2].constData());
        QCOMPARE(m_server.requests().size(), before);

        // A page's fragment as a browser reads it, a tab in it dropped.
        const Finished page = runOnStandardInput(arguments.mid(0, arguments.size() - 3) << "--input-format"
                                                                                        << "html"
                                                                                        << "-",
                                                 "<p id=\"ab\"><a href=\"#a\tb\">x</a>\n");
        QVERIFY2(page.exitCode == 0 && page.out.startsWith("valid\t"), page.out.constData());
        // A U+FEFF first in the fragment is a character of it.
        const Finished mark = runOnStandardInput(arguments.mid(0, arguments.size() - 3) << "--input-format"
                                                                                        << "html"
                                                                                        << "-",
                                                 "<p id=\"&#xFEFF;a\"><a href=\"#&#xFEFF;a\">x</a>\n");
        QVERIFY2(mark.exitCode == 0 && mark.out.startsWith("valid\t"), mark.out.constData());
    }
};

QTEST_MAIN(CliDocumentsTest)
#include "tst_cli_documents.moc"
