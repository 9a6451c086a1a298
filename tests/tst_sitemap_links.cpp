// Sitemaps and their indexes read for their links: where each address stands,
// compressed sitemaps, and the documents refused, hostile ones among them.

#include "engine/extract/DocumentFiles.h"
#include "engine/extract/SitemapLinks.h"

#include "Gzipped.h"

#include <QTest>

namespace {
const QByteArray Urlset = R"(<urlset xmlns="http://www.sitemaps.org/schemas/sitemap/0.9">)";

// One line a link, "element address line:column", or the refusal.
QString described(const std::variant<DocumentLinks, QString>& result)
{
    if (const QString* refusal = std::get_if<QString>(&result))
        return *refusal;
    QStringList lines;
    for (const FoundLink& link : std::get<DocumentLinks>(result).links)
        lines << QStringLiteral("%1 %2 %3:%4").arg(link.element, link.address).arg(link.place.line).arg(link.place.column);
    return lines.join(u'\n');
}
}  // namespace

class SitemapLinksTest : public QObject {
    Q_OBJECT
private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("expected");
        const QByteArray two = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + Urlset
                             + "\n <url><loc>https://a.example/</loc><lastmod>2024-01-01</lastmod></url>\n"
                               " <url><loc>https://a.example/b</loc></url>\n</urlset>\n";
        const QString twoLinks = "loc https://a.example/ 3:12\nloc https://a.example/b 4:12";
        QTest::newRow("urlset") << two << twoLinks;
        QTest::newRow("index") << QByteArray(R"(<sitemapindex xmlns="http://www.sitemaps.org/schemas/sitemap/0.9">)"
                                             "<sitemap><loc>https://a.example/s.xml</loc></sitemap></sitemapindex>")
                               << "sitemap loc https://a.example/s.xml 1:81";
        QTest::newRow("a prefix; only url/loc taken")
            << QByteArray("<s:urlset xmlns:s='http://www.sitemaps.org/schemas/sitemap/0.9'><s:loc>no</s:loc><s:url>"
                          "<loc>no</loc><i:image xmlns:i='i'><i:loc>no</i:loc></i:image><s:loc>yes</s:loc></s:url>"
                          "</s:urlset><!-- --><?pi?>")
            << "loc yes 1:157";
        QTest::newRow("CDATA, entities, a comment") << QByteArray("<urlset><url><loc><!-- c --> <![CDATA[ \n x&amp;]]>"
                                                                  "&amp;&#x1F600;</loc></url></urlset>")
                                                    << "loc x&amp;&\U0001F600 2:2";
        // The "-->" a comment ends at comes after its "<!--", never within it.
        QTest::newRow("comments whose first dashes could close them")
            << QByteArray("<urlset><url><loc><!-->x--><!--->x-->y</loc></url></urlset>") << "loc y 1:38";
        QTest::newRow("white space as references")
            << QByteArray("<urlset><url><loc>&#32;&#x9;&#xA0;é</loc></url></urlset>") << "loc é 1:35";
        QTest::newRow("an element inside")
            << QByteArray("<urlset><url><loc><b a='>'> </b>x</loc></url></urlset>") << "loc x 1:33";
        QTest::newRow("CR LF and CR each end one line")
            << QByteArray("<urlset>\r\n<url>\r<loc>\r\n\t\thttps://a.example/\r\n</loc></url><url><loc> </loc></url></urlset>")
            << "loc https://a.example/ 4:3";
        QTest::newRow("tabs and characters outside the BMP count one")
            << QByteArray("<urlset>\n\t<!--é\xF0\x9F\x98\x80--><url><loc>x</loc></url></urlset>") << "loc x 2:21";
        const QString utf16 = u"<urlset><url><loc>x</loc></url></urlset>"_qs;
        QTest::newRow("UTF-16, its byte order mark no column")
            << "\xFF\xFE" + QByteArray(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2) << "loc x 1:19";
        QTest::newRow("declared Latin-1") << QByteArray("<?xml version='1.0' encoding='ISO-8859-1'?><urlset><url><loc>"
                                                        "\xE9</loc></url></urlset>")
                                          << "loc é 1:62";
        QTest::newRow("gzip") << gzipped(two) << twoLinks;
        QTest::newRow("gzip members") << gzipped(two.first(90)) + gzipped(two.sliced(90)) << twoLinks;
        QTest::newRow("gzip cut short") << gzipped(two).chopped(9) << "the gzip data stops short: the file is cut off";
        QByteArray damaged = gzipped(two);
        damaged[2] = 7;  // the compression method
        QTest::newRow("gzip damaged") << damaged << "the gzip data is damaged (unknown compression method)";
        QTest::newRow("gzip past the bound")
            << gzipped(QByteArray(1024 * 1024, ' '), DocumentFiles::MostDocumentBytes / (1024 * 1024) + 1)
            << "more than 64 MiB once inflated, the most a document may be";
        QTest::newRow("not XML") << QByteArray("<urlset>\n<url><loc>x</url>")
                                 << "not XML at line 2, column 18: "
                                    "Opening and ending tag mismatch.";
        QTest::newRow("not UTF-8") << QByteArray("<urlset>\n \xEF\xBF\xBD<url><loc>\xC3")
                                   << "not XML at line 2, column 13: bytes that are not UTF-8 text";
        QTest::newRow("unknown encoding") << QByteArray("<?xml version='1.0' encoding='bogus'?><urlset/>")
                                          << "not XML at line 1, column 39: Encoding bogus is unsupported";
        QTest::newRow("another root") << QByteArray("<html><url><loc>x</loc></url></html>")
                                      << "not a sitemap: the root element is <html>, not <urlset> or <sitemapindex>";
        QTest::newRow("another namespace") << QByteArray("<urlset xmlns='urn:x'/>")
                                           << "not a sitemap: the root element <urlset> is in the namespace urn:x, not "
                                              "http://www.sitemaps.org/schemas/sitemap/0.9";
        QByteArray laughs = "<!DOCTYPE urlset [<!ENTITY a0 'ha'>";
        for (int level = 1; level < 10; ++level)
            laughs += QByteArray("<!ENTITY a%1 '").replace("%1", QByteArray::number(level))
                    + QByteArray("&a%1;").replace("%1", QByteArray::number(level - 1)).repeated(10) + "'>";
        QTest::newRow("entities declared in the DTD")
            << laughs + "]>\n<urlset><url><loc>&a9;</loc></url></urlset>"
            << "not XML at line 1, column 1: a DTD that declares things of its own, which no sitemap needs: refused "
               "so that none of its entities is expanded";
        QTest::newRow("an entity of a DTD outside")
            << QByteArray("<!DOCTYPE urlset SYSTEM 'file:///etc/hostname'><urlset><url><loc>&e;</loc></url></urlset>")
            << "not XML at line 1, column 66: the entity &e; is declared outside the document";
        QByteArray attributes = "<urlset><url ";
        for (int attribute = 0; attribute <= 64; ++attribute)
            attributes += " a" + QByteArray::number(attribute) + "='=>'";
        QTest::newRow("too many attributes") << attributes + "/></urlset>"
                                             << "not XML at line 1, column 9: a tag with more than 64 attributes, "
                                                "which no sitemap needs";
        QTest::newRow("nested too deep") << Urlset + QByteArray("<a>").repeated(64)
                                         << "not XML at line 1, column 253: elements nested more than 64 deep, "
                                            "which no sitemap is";
    }
    void read()
    {
        QFETCH(QByteArray, document);
        QFETCH(QString, expected);
        QCOMPARE(described(SitemapLinks::read(document)), expected);
    }
};

QTEST_GUILESS_MAIN(SitemapLinksTest)
#include "tst_sitemap_links.moc"
