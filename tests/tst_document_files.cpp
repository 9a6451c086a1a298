// Which files hold documents, reading one within the bound, and the walk that
// finds them in a folder.

#include "AsNobody.h"
#include "TestFiles.h"

#include "engine/extract/DocumentFiles.h"
#include "engine/extract/DocumentKind.h"
#include "engine/extract/LocalTargets.h"
#include "engine/extract/MarkdownLinks.h"

#include <QScopeGuard>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString described(const std::variant<QByteArray, QString>& result)
{
    const QByteArray* bytes = std::get_if<QByteArray>(&result);
    return bytes ? QStringLiteral("%1 bytes").arg(bytes->size()) : std::get<QString>(result);
}

// The files, then the warnings, as paths below the top folder.
QStringList walked(const QString& top, const QStringList& excluded)
{
    const auto result = DocumentFiles::walk(top, excluded);
    if (const QString* failure = std::get_if<QString>(&result))
        return {*failure};
    const auto& found = std::get<DocumentFiles::WalkedFiles>(result);
    return (found.files + found.warnings).replaceInStrings(top + '/', QString());
}
}  // namespace

class DocumentFilesTest : public QObject {
    Q_OBJECT
private slots:
    void kinds_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<DocumentKind>("kind");
        QTest::addColumn<bool>("taken");
        QTest::newRow("html") << "site/index.html" << DocumentKind::Html << true;
        QTest::newRow("HTM") << "A.HTM" << DocumentKind::Html << true;
        QTest::newRow("xhtml") << "a.xhtml" << DocumentKind::Html << true;
        QTest::newRow("md") << "README.md" << DocumentKind::Markdown << true;
        QTest::newRow("Markdown") << "notes.Markdown" << DocumentKind::Markdown << true;
        QTest::newRow("sitemap") << "sitemap.xml" << DocumentKind::Sitemap << true;
        QTest::newRow("sitemap, gzip") << "Sitemap-news.XML.gz" << DocumentKind::Sitemap << true;
        QTest::newRow("other XML") << "feed.xml" << DocumentKind::Sitemap << false;
        QTest::newRow("other XML in a sitemaps folder") << "sitemaps/feed.xml" << DocumentKind::Sitemap << false;
        QTest::newRow("other gzip") << "pages.html.gz" << DocumentKind::List << false;
        QTest::newRow("text") << "links.txt" << DocumentKind::List << false;
        QTest::newRow("no ending") << "html" << DocumentKind::List << false;
    }
    void kinds()
    {
        QFETCH(QString, name);
        QFETCH(DocumentKind, kind);
        QFETCH(bool, taken);
        QCOMPARE(DocumentKinds::ofFileName(name), kind);
        QCOMPARE(DocumentKinds::takenFromFolder(name), taken);
    }

    void inputFormats()
    {
        const QStringList names = DocumentKinds::inputFormatNames();
        QCOMPARE(names, QStringList({"list", "html", "markdown", "sitemap"}));
        const std::array kinds{DocumentKind::List, DocumentKind::Html, DocumentKind::Markdown, DocumentKind::Sitemap};
        for (size_t kind = 0; kind < kinds.size(); ++kind)
            QCOMPARE(DocumentKinds::ofInputFormat(names.at(kind)), kinds[kind]);
        QCOMPARE(DocumentKinds::ofInputFormat(u"xml"), std::nullopt);
    }

    void readBounded_data()
    {
        QTest::addColumn<qint64>("size");  // -1: a folder, -2: nothing, -3: a pipe
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << qint64(0) << "0 bytes";
        QTest::newRow("at the bound") << DocumentFiles::MostDocumentBytes << "67108864 bytes";
        QTest::newRow("past the bound") << DocumentFiles::MostDocumentBytes + 1
                                        << "cannot read PATH: larger than 64 MiB, the most a document may be";
        QTest::newRow("a folder") << qint64(-1) << "cannot read PATH: Is a directory";
        QTest::newRow("missing") << qint64(-2) << "cannot read PATH: No such file or directory";
        QTest::newRow("a pipe, not waited for") << qint64(-3) << "cannot read PATH: Not a regular file";
    }
    void readBounded()
    {
        QFETCH(qint64, size);
        QFETCH(QString, expected);
        TestFolder folder;
        QString path = folder.filePath("doc");
        if (size >= 0) {
            QFile file(path);  // sparse: resizing writes nothing
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(size));
        } else if (size == -1) {
            path = folder.path();
        } else if (size == -3) {
            path = makeFifo(folder, "doc");
        }
        QCOMPARE(described(DocumentFiles::readBounded(path)), expected.replace("PATH", path));
    }

    // Read one after another, each file is its own bytes, whether the one
    // before is still held or let go, and however large it was.
    void readOneAfterAnother()
    {
        TestFolder folder;
        const QByteArray large(2 * 1024 * 1024, 'L');
        const QStringList paths{folder.file("long", QByteArray(3000, 'a')), folder.file("short", "b"),
                                folder.file("large", large), folder.file("small", "s")};
        const auto bytesOf = [](const QString& path) { return std::get<QByteArray>(DocumentFiles::readBounded(path)); };
        const QByteArray held = bytesOf(paths[0]);
        QCOMPARE(bytesOf(paths[1]), QByteArray("b"));
        QCOMPARE(held, QByteArray(3000, 'a'));
        QCOMPARE(bytesOf(paths[0]), QByteArray(3000, 'a'));
        QCOMPARE(bytesOf(paths[1]), QByteArray("b"));
        QCOMPARE(bytesOf(paths[2]), large);
        QCOMPARE(bytesOf(paths[3]), QByteArray("s"));
    }

    void walk_data()
    {
        QTest::addColumn<QStringList>("excluded");  // TOP stands for the folder walked
        QTest::addColumn<QStringList>("expected");
        const QStringList all{
            "a/deep/x.markdown", "a/page.htm",  "b.md",           "index.html",
            "outside/e.html",    "sitemap.xml", "skip/page.html", "skipped dead.html: No such file or directory"};
        QTest::newRow("nothing excluded") << QStringList() << all;
        QStringList withoutSkip = all;
        withoutSkip.removeAll("skip/page.html");
        QTest::newRow("excluded, absolute") << QStringList{"TOP/skip"} << withoutSkip;
        QTest::newRow("excluded, dotted, a trailing /") << QStringList{"TOP/./a/../skip/"} << withoutSkip;
        QTest::newRow("excluded, relative") << QStringList{"RELATIVE/skip", "TOP/none"} << withoutSkip;
        QStringList withoutTargets = all;
        withoutTargets.removeAll("index.html");
        withoutTargets.removeAll("outside/e.html");
        QTest::newRow("excluded file, and a link's target")
            << QStringList{"TOP/index.html", "TOP/../outer"} << withoutTargets;
        QTest::newRow("the top itself") << QStringList{"TOP"} << QStringList();
    }
    void walk()
    {
        QFETCH(QStringList, excluded);
        QFETCH(QStringList, expected);
        TestFolder folder;
        const QString top = folder.filePath("top");
        for (const char* name :
             {"top/index.html", "top/b.md", "top/notes.txt", "top/feed.xml", "top/sitemap.xml", "top/.hidden/page.html",
              "top/.secret.html", "top/a/page.htm", "top/a/deep/x.markdown", "top/skip/page.html", "outer/e.html"})
            folder.file(name, "x");
        QVERIFY(QFile::link("..", top + "/a/loop"));  // back to the top
        QVERIFY(QFile::link("a", top + "/Z"));        // named before "a", yet "a" is walked under its own name
        QVERIFY(QFile::link(folder.filePath("outer"), top + "/outside"));  // a folder outside
        QVERIFY(QFile::link("nowhere", top + "/dead.html"));
        const QString relative = "./" + QDir::current().relativeFilePath(top);
        QCOMPARE(walked(top, excluded.replaceInStrings("TOP", top).replaceInStrings("RELATIVE", relative)), expected);
    }

    // A name that is no UTF-8 cannot go through the run's paths, which are
    // text: the walk leaves it out and says so, its bytes shown, rather than
    // reporting a file it cannot read. A file of no kind taken is not named.
    void namesNotUtf8()
    {
        TestFolder folder;
        const QByteArray top = QFile::encodeName(folder.filePath("top"));
        folder.file("top/ok.md", "x");
        folder.file("top/caf\u00e9.md", "x");
        QVERIFY(::mkdir(top + "/d\xc3\xa9\xff", 0700) == 0);
        for (const QByteArray& name : {QByteArray("b\xff.md"), QByteArray("x\xff.png"), QByteArray("o\xc0\xaf.md"),
                                       QByteArray("d\xc3\xa9\xff/in.md")}) {
            const int file = ::open(top + '/' + name, O_WRONLY | O_CREAT | O_EXCL, 0600);
            QVERIFY(file >= 0);
            ::close(file);
        }
        QCOMPARE(walked(folder.filePath("top"), {}),
                 (QStringList{"caf\u00e9.md", "ok.md", "skipped b\\xFF.md: its name is not UTF-8",
                              "skipped the folder d\u00e9\\xFF: its name is not UTF-8",
                              "skipped o\\xC0\\xAF.md: its name is not UTF-8"}));
    }

    // A fragment in a file a local link names: an anchor the page defines,
    // and the top of any page, which a browser scrolls to for "#top" and "#".
    void localFragments_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("fragment");
        QTest::addColumn<QString>("answerClass");
        QTest::newRow("HTML, an id it has") << "page.html" << "there" << "ok";
        QTest::newRow("HTML, one it lacks") << "page.html" << "nowhere" << "no-fragment";
        QTest::newRow("HTML, #top") << "page.html" << "top" << "ok";
        QTest::newRow("HTML, #TOP") << "page.html" << "TOP" << "ok";
        QTest::newRow("HTML, an empty fragment") << "page.html" << "" << "ok";
        QTest::newRow("Markdown, #Top") << "index.md" << "Top" << "ok";
        QTest::newRow("Markdown, a heading in another case") << "index.md" << "GUIDE" << "ok";
        QTest::newRow("Markdown, one it lacks") << "index.md" << "topmost" << "no-fragment";
        QTest::newRow("a folder's index, #top") << "sub" << "top" << "ok";
        // A browser looks for a fragment as written, then percent-decoded.
        QTest::newRow("HTML, an id with a % in it") << "page.html"
                                                    << "x%41"
                                                    << "ok";
        QTest::newRow("HTML, an id spelt by escapes") << "page.html"
                                                      << "caf%C3%A9"
                                                      << "ok";
        QTest::newRow("HTML, an escape for an id it lacks") << "page.html"
                                                            << "%41"
                                                            << "no-fragment";
        QTest::newRow("HTML, #top escaped") << "page.html"
                                            << "%74op"
                                            << "ok";
        QTest::newRow("Markdown, a heading by escapes in another case") << "index.md"
                                                                        << "%47uide"
                                                                        << "ok";
        QTest::newRow("no such file, #top") << "gone.html" << "top" << "not-found";
        // Its anchors unknown, not none: the link is not called broken.
        QTest::newRow("Markdown too costly to read") << "deep.md"
                                                     << "nowhere"
                                                     << "ok";
    }
    void localFragments()
    {
        QFETCH(QString, file);
        QFETCH(QString, fragment);
        QFETCH(QString, answerClass);
        TestFolder folder;
        folder.file("page.html", "<h1 id=\"there\">x</h1><p id=\"x%41\"></p><p id=\"café\"></p>");
        folder.file("index.md", "# Guide\n");
        folder.file("sub/index.html", "<p>x</p>");
        folder.file("deep.md", QByteArray("> ").repeated(MarkdownLinks::MostContainersOnALine + 1) + "# Anything\n");
        LocalTargets targets;
        QCOMPARE(AnswerClasses::nameOf(targets.check(folder.filePath(file), fragment).answerClass).toString(), answerClass);
    }

    // The disk is asked about a target once for the run, however the links
    // spell its path: what a later link finds is what the first one found,
    // even when the file has gone meanwhile.
    void targetsLookedUpOnce()
    {
        TestFolder folder;
        const QString page = folder.file("sub/page.html", "<p id=\"x\"></p>");
        const QString index = folder.file("sub/index.html", "<p id=\"y\"></p>");
        LocalTargets targets;
        QCOMPARE(targets.check(page, "x").answerClass, AnswerClass::Ok);
        QCOMPARE(targets.check(folder.filePath("sub"), "y").answerClass, AnswerClass::Ok);
        QCOMPARE(targets.check(folder.filePath("gone.html"), {}).answerClass, AnswerClass::NotFound);
        QVERIFY(QFile::remove(page) && QFile::remove(index));
        folder.file("gone.html", "");
        QCOMPARE(targets.check(folder.filePath("sub/../sub/page.html"), "x").answerClass, AnswerClass::Ok);
        QCOMPARE(targets.check(folder.filePath("sub/"), "y").answerClass, AnswerClass::Ok);
        QCOMPARE(targets.check(folder.filePath("./gone.html"), {}).answerClass, AnswerClass::NotFound);
    }

    void walkFailures()
    {
        TestFolder folder;
        const QString file = folder.file("top/page.html", "x");
        folder.file("top/locked/page.html", "x");
        QCOMPARE(walked(folder.filePath("none"), {}),
                 QStringList{"cannot read the folder " + folder.filePath("none") + ": No such file or directory"});
        QCOMPARE(walked(file, {}), QStringList{"cannot read the folder " + file + ": Not a directory"});
        // Permission bits do not stop root: the walk runs as nobody.
        if (runsAsRoot())
            QVERIFY(giveToNobody(folder.path()));
        QVERIFY(QFile::setPermissions(folder.filePath("top/locked"), {}));
        const auto unlocking = qScopeGuard([&] {
            QFile::setPermissions(folder.filePath("top/locked"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        QCOMPARE(runAsNobody([&] {
                     const QStringList expected{"page.html", "skipped the folder locked: Permission denied"};
                     const QStringList found = walked(folder.filePath("top"), {});
                     if (found != expected)
                         return "walked: " + found.join(", ");
                     const QString locked = folder.filePath("top/locked");
                     const QString atTop = walked(locked, {}).join("");
                     if (atTop != "cannot read the folder " + locked + ": Permission denied")
                         return atTop;
                     const QString unreadable = described(DocumentFiles::readBounded(locked + "/page.html"));
                     return unreadable == "cannot read " + locked + "/page.html: Permission denied" ? QString() : unreadable;
                 }),
                 QString());
    }
};

QTEST_GUILESS_MAIN(DocumentFilesTest)
#include "tst_document_files.moc"
