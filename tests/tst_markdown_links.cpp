// The anchors a Markdown document's headings are given.
#include "engine/extract/HeadingAnchors.h"

#include <QTest>

class MarkdownLinksTest : public QObject {
    Q_OBJECT
private slots:
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
