// The report in the forms CI systems read (JUnit, GitHub's workflow
// commands, CSV) and the Markdown summary: each writer's escaping of what an
// address, a file name or a status line may hold, GitHub's cap, the
// summary's limit, and --output and --summary as a run uses them (what they
// may not name is tst_cli_commands' exitStatus). The JUnit report held to its
// schema is the tst_junit_schema row.

#include "CheckRuns.h"
#include "TestFiles.h"
#include "cli/Documents.h"
#include "cli/Judging.h"
#include "cli/Report.h"
#include "cli/ReportWriters.h"
#include "cli/Summary.h"

#include <QScopeGuard>
#include <QTest>
#include <QXmlStreamReader>

namespace {
Outcome invalid(AnswerClass answerClass, const QString& reason)
{
    Outcome outcome;
    outcome.answerClass = answerClass;
    outcome.reason = reason;
    return outcome;
}

LinkSource placed(const QString& file, int line, int column, const QString& written)
{
    LinkSource source;
    source.file = file;
    source.place = {line, column};
    source.written = written;
    source.element = QStringLiteral("a href");
    return source;
}

// A whole report of one format: begin, a line for each, end.
QByteArray written(const QString& format, const QList<std::pair<QByteArray, Outcome>>& entries,
                   const LinkSource* source = nullptr, const Judging& judging = {})
{
    const std::unique_ptr<Report::Writer> writer = Report::formatNamed(format)->writer();
    QByteArray report = writer->begin();
    for (const auto& [address, outcome] : entries)
        report += writer->line({address, outcome, source, u"list.txt", judging.fails(outcome)});
    return report + writer->end();
}

// An entry of the report, failing as the default judging has it.
Report::Entry entry(QByteArrayView address, const Outcome& outcome, const LinkSource* source, QStringView list = {})
{
    return {address, outcome, source, list, Judging().fails(outcome)};
}
}  // namespace

class CliReportsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qunsetenv("GITHUB_STEP_SUMMARY"); }

    // What XML cannot hold, or would change, in an address or a status.
    void xmlEscaping_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("escaped");
        QTest::newRow("markup") << QByteArray("a<b>&c") << QByteArray("a&lt;b&gt;&amp;c");
        QTest::newRow("quotes") << QByteArray("\"x\" 'y'") << QByteArray("&quot;x&quot; &apos;y&apos;");
        QTest::newRow("tab, CR, LF kept as references") << QByteArray("a\tb\rc\nd") << QByteArray("a&#9;b&#13;c&#10;d");
        QTest::newRow("other control characters") << QByteArray("a\x01\x1b"
                                                                "b\x7f")
                                                  << QByteArray("a\\x01\\x1bb\\x7f");
        QTest::newRow("C1 control") << QByteArray("a\xc2\x85z") << QByteArray("a\\xc2\\x85z");
        QTest::newRow("UTF-8 kept") << QByteArray("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80")
                                    << QByteArray("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
        QTest::newRow("a stray byte") << QByteArray("a\xe9z") << QByteArray("a\\xe9z");
        QTest::newRow("a sequence cut short") << QByteArray("a\xe2\x82") << QByteArray("a\\xe2\\x82");
        QTest::newRow("an overlong form") << QByteArray("\xc0\xaf") << QByteArray("\\xc0\\xaf");
        QTest::newRow("a surrogate") << QByteArray("\xed\xa0\x80") << QByteArray("\\xed\\xa0\\x80");
        QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << QByteArray("\\xf4\\x90\\x80\\x80");
        QTest::newRow("U+FFFE") << QByteArray("\xef\xbf\xbe") << QByteArray("\\xef\\xbf\\xbe");
    }
    void xmlEscaping()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, escaped);
        QCOMPARE(ReportWriters::xmlEscaped(text), escaped);
    }

    // Whatever the address, file and reason, the report is well-formed XML
    // whose counts and attributes read back as they were.
    void junitReadsBack()
    {
        const QByteArray hostile = "http://x/<a>&\"'\t\r\n\x01\xe9\xc2\x85]]>";
        const LinkSource source = placed(QStringLiteral("docs/<&>\".md"), 12, 7, QStringLiteral("&amp;"));
        Outcome valid;
        valid.valid = true;
        valid.answerClass = AnswerClass::Ok;
        valid.statusLine = QStringLiteral("HTTP/1.1 200 OK");
        const QByteArray report = written(QStringLiteral("junit"),
                                          {{"http://x/ok", valid},
                                           {hostile, invalid(AnswerClass::NotFound, QStringLiteral("gone <\x02>"))},
                                           {"mailto:x", invalid(AnswerClass::Skipped, QStringLiteral("mailto: not asked"))}},
                                          &source);
        QXmlStreamReader xml(report);
        QStringList cases;
        QString failure;
        QXmlStreamAttributes suite;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"testsuite")
                suite = xml.attributes();
            if (xml.name() == u"testcase") {
                cases << xml.attributes().value(QLatin1StringView("name")).toString();
                QCOMPARE(xml.attributes().value(QLatin1StringView("file")), u"docs/<&>\".md");
                QCOMPARE(xml.attributes().value(QLatin1StringView("line")), u"12");
                QCOMPARE(xml.attributes().value(QLatin1StringView("classname")), u"docs/<&>\".md");
            }
            if (xml.name() == u"failure") {
                QCOMPARE(xml.attributes().value(QLatin1StringView("type")), u"not-found");
                failure = xml.attributes().value(QLatin1StringView("message")).toString();
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString() + u'\n' + QString::fromUtf8(report)));
        QCOMPARE(suite.value(QLatin1StringView("tests")), u"3");
        QCOMPARE(suite.value(QLatin1StringView("failures")), u"1");
        QCOMPARE(suite.value(QLatin1StringView("skipped")), u"1");
        QCOMPARE(cases, QStringList({"http://x/ok", "http://x/<a>&\"'\t\r\n\\x01\\xe9\\xc2\\x85]]>", "mailto:x"}));
        // The reason's control character is a space, as in the text report.
        QCOMPARE(failure, u"gone < >");
    }

    // A workflow command's message and properties as GitHub's runner reads
    // them back: no value can end the command or start another.
    void githubEscaping_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("property");
        QTest::newRow("plain") << QByteArray("docs/a.md") << QByteArray("docs/a.md") << QByteArray("docs/a.md");
        QTest::newRow("percent") << QByteArray("100%25") << QByteArray("100%2525") << QByteArray("100%2525");
        QTest::newRow("CR and LF") << QByteArray("a\r\n::error::b") << QByteArray("a%0D%0A::error::b")
                                   << QByteArray("a%0D%0A%3A%3Aerror%3A%3Ab");
        QTest::newRow("colon and comma") << QByteArray("x:y,z") << QByteArray("x:y,z") << QByteArray("x%3Ay%2Cz");
        QTest::newRow("other control characters")
            << QByteArray("a\x1b[31m\x7f") << QByteArray("a%1B[31m%7F") << QByteArray("a%1B[31m%7F");
    }
    void githubEscaping()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, property);
        QCOMPARE(ReportWriters::githubEscaped(text, false), data);
        QCOMPARE(ReportWriters::githubEscaped(text, true), property);
    }

    // Up to GitHub's cap an annotation each; past it the text report's line,
    // and one notice of how many; valid and skipped links print nothing.
    void githubCap_data()
    {
        QTest::addColumn<int>("invalidLinks");
        QTest::addColumn<int>("leftOut");
        QTest::newRow("none") << 0 << 0;
        QTest::newRow("as many as the cap") << ReportWriters::GithubAnnotations << 0;
        QTest::newRow("one past it") << ReportWriters::GithubAnnotations + 1 << 1;
        QTest::newRow("many past it") << 25 << 15;
    }
    void githubCap()
    {
        QFETCH(int, invalidLinks);
        QFETCH(int, leftOut);
        Outcome valid;
        valid.valid = true;
        valid.answerClass = AnswerClass::Ok;
        QList<std::pair<QByteArray, Outcome>> entries{
            {"http://ok/", valid}, {"mailto:x", invalid(AnswerClass::Skipped, QStringLiteral("not asked"))}};
        for (int i = 0; i < invalidLinks; ++i)
            entries.append({"http://x/\n::warning::" + QByteArray::number(i),
                            invalid(AnswerClass::NotFound, QStringLiteral("gone"))});
        const LinkSource source = placed(QStringLiteral("docs/a,b.md"), 3, 9, QStringLiteral("../x"));
        const QList<QByteArray> lines = written(QStringLiteral("github"), entries, &source).split('\n');
        QCOMPARE(lines.constLast(), QByteArray());
        int errors = 0;
        int plain = 0;
        QByteArray notice;
        for (const QByteArray& line : lines.first(lines.size() - 1)) {
            if (line.startsWith("::error ")) {
                ++errors;
                QVERIFY2(line.startsWith("::error file=docs/a%2Cb.md,line=3,col=9,title=failing link (not-found)::gone: "
                                         "http://x/%0A::warning::"),
                         line.constData());
            } else if (line.startsWith("::notice ")) {
                notice = line;
            } else {
                ++plain;
                QVERIFY2(line.startsWith("invalid\tgone\thttp://x/\\x0a::warning::"), line.constData());
            }
        }
        QCOMPARE(errors, invalidLinks - leftOut);
        QCOMPARE(plain, leftOut);
        QCOMPARE(notice.isEmpty(), leftOut == 0);
        if (leftOut)
            QVERIFY2(notice.startsWith("::notice title=tessaly-check::" + QByteArray::number(leftOut) + " more failing"),
                     notice.constData());
    }

    // Under --fail-on the forms CI reads mark what fails the run, whatever
    // the verdict: an invalid link of a class left out is no failure, and a
    // valid one of a class named is.
    void failuresFollowFailOn_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QList<QByteArray>>("shown");
        QTest::newRow("junit, left out")
            << "junit" << false
            << QList<QByteArray>{"failures=\"0\"",
                                 "<system-out>blocked: HTTP/1.1 403 Forbidden, invalid, not failing</system-out>"};
        QTest::newRow("junit, named") << "junit" << true << QList<QByteArray>{"failures=\"1\"", "<failure type=\"moved\""};
        QTest::newRow("github, left out")
            << "github" << false << QList<QByteArray>{"invalid\tHTTP/1.1 403 Forbidden\thttp://x/"};
        QTest::newRow("github, named") << "github" << true << QList<QByteArray>{"::error title=failing link (moved)::"};
    }
    void failuresFollowFailOn()
    {
        QFETCH(QString, format);
        QFETCH(bool, valid);
        QFETCH(QList<QByteArray>, shown);
        Outcome outcome = invalid(valid ? AnswerClass::Moved : AnswerClass::Blocked, QString());
        outcome.valid = valid;
        outcome.statusLine = QStringLiteral("HTTP/1.1 403 Forbidden");
        Judging judging;
        judging.failing = std::get<ClassSet>(ClassSets::parse({QStringLiteral("not-found,moved")}));
        const QByteArray report = written(format, {{"http://x/", outcome}}, nullptr, judging);
        for (const QByteArray& part : shown)
            QVERIFY2(report.contains(part), report.constData());

        Summary summary;
        summary.judgedBy(judging);
        summary.add({"http://x/", outcome, nullptr, u"list.txt", judging.fails(outcome)});
        QCOMPARE(summary.markdown().contains("### Failing links"), valid);
        judging.accepted = std::get<StatusRanges>(StatusRanges::parse({QStringLiteral("200-299,403")}));
        summary.judgedBy(judging);
        const QByteArray head = "1 link: "
                              + QByteArray(valid ? "1 valid, 0 invalid, 0 skipped, 1 failing"
                                                 : "0 valid, 1 invalid, 0 skipped, 0 failing")
                              + "\n\nFailing: moved, not-found (--fail-on); accepted codes: 200-299,403 (--accept).\n";
        QVERIFY2(summary.markdown().contains(head), summary.markdown().constData());
    }

    // A list's line has no file: the command has no properties but its title.
    void githubListLine()
    {
        const QByteArray report = written(QStringLiteral("github"),
                                          {{"ftp://x/", invalid(AnswerClass::BadAddress, QStringLiteral("Bad scheme"))}});
        QCOMPARE(report, QByteArray("::error title=failing link (bad-address)::Bad scheme: ftp://x/\n"));
    }

    void csvQuoting_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("plain") << QByteArray("http://x/a b") << QByteArray("http://x/a b");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("comma") << QByteArray("a,b") << QByteArray("\"a,b\"");
        QTest::newRow("quotes doubled") << QByteArray("say \"x\"") << QByteArray("\"say \"\"x\"\"\"");
        QTest::newRow("CR") << QByteArray("a\rb") << QByteArray("\"a\rb\"");
        QTest::newRow("LF") << QByteArray("a\nb") << QByteArray("\"a\nb\"");
        QTest::newRow("a lone quote") << QByteArray("\"") << QByteArray("\"\"\"\"");
    }
    void csvQuoting()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, field);
        QCOMPARE(ReportWriters::csvField(text), field);
    }

    // The header and a row with its place, lines ended by CR LF.
    void csvRows()
    {
        const LinkSource source = placed(QStringLiteral("docs/a.md"), 4, 2, QStringLiteral("x,\"y\""));
        Outcome redirected;
        redirected.valid = true;
        redirected.answerClass = AnswerClass::Moved;
        redirected.statusLine = QStringLiteral("HTTP/1.1 200 OK");
        redirected.attempts = 2;
        redirected.hops = 1;
        redirected.finalAddress = QStringLiteral("http://x/b");
        QCOMPARE(written(QStringLiteral("csv"), {{"http://x/a,b", redirected}}, &source),
                 QByteArray("verdict,status,address,class,attempts,location,hops,final_address,file,line,column,element,written\r\n"
                            "valid,HTTP/1.1 200 OK,\"http://x/a,b\",moved,2,,1,http://x/b,docs/a.md,4,2,a href,\"x,\"\"y\"\"\"\r\n"));
        QCOMPARE(written(QStringLiteral("csv"),
                         {{"ftp://x/", invalid(AnswerClass::BadAddress, QStringLiteral("Bad scheme"))}})
                     .split('\n')
                     .value(1),
                 QByteArray("invalid,Bad scheme,ftp://x/,bad-address,0,,0,,list.txt,,,,\r"));
    }

    // Markdown shows an address or a file as it is, whatever it holds.
    void markdownText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("span");
        QTest::addColumn<QByteArray>("escaped");
        QTest::newRow("plain") << QByteArray("docs/a.md") << QByteArray("`docs/a.md`") << QByteArray("docs\\/a\\.md");
        QTest::newRow("a backtick") << QByteArray("a`b") << QByteArray("`` a`b ``") << QByteArray("a\\`b");
        QTest::newRow("a run of them") << QByteArray("``x`") << QByteArray("``` ``x` ```") << QByteArray("\\`\\`x\\`");
        QTest::newRow("a space at an end") << QByteArray(" x") << QByteArray("`  x `") << QByteArray(" x");
        QTest::newRow("a table's bar, a link")
            << QByteArray("[a](b)|c") << QByteArray("`[a](b)|c`") << QByteArray("\\[a\\]\\(b\\)\\|c");
        QTest::newRow("a line feed") << QByteArray("a\nb") << QByteArray("`a\\x0ab`") << QByteArray("a\\\\x0ab");
        QTest::newRow("empty") << QByteArray() << QByteArray("_empty_") << QByteArray();
    }
    void markdownText()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, span);
        QFETCH(QByteArray, escaped);
        QCOMPARE(Summary::codeSpan(text), span);
        QCOMPARE(Summary::escaped(text), escaped);
    }

    // Counts by class, the invalid links under their files in order, each
    // file once.
    void summaryGroupsByFile()
    {
        Summary summary;
        Outcome valid;
        valid.valid = true;
        valid.answerClass = AnswerClass::Ok;
        const LinkSource a = placed(QStringLiteral("a.md"), 2, 5, QStringLiteral("x"));
        const LinkSource b = placed(QStringLiteral("b.md"), 7, 1, QStringLiteral("y"));
        const Outcome gone = invalid(AnswerClass::NotFound, QStringLiteral("no such file or folder"));
        summary.add(entry("a/x", valid, &a));
        summary.add(entry("a/y", gone, &a));
        summary.add(entry("a/z", gone, &a));
        summary.add(entry("b/y", gone, &b));
        summary.add(entry("mailto:q", invalid(AnswerClass::Skipped, QStringLiteral("not asked")), &b));
        summary.add(entry("ftp://x/", invalid(AnswerClass::BadAddress, QStringLiteral("Bad scheme")), nullptr, u"list.txt"));
        QCOMPARE(summary.markdown(), QByteArray("## tessaly-check\n\n6 links: 1 valid, 4 invalid, 1 skipped, 4 failing\n\n"
                                                "Invalid links fail the run.\n\n"
                                                "| class | links |\n| --- | ---: |\n| ok | 1 |\n| not-found | 3 |\n"
                                                "| bad-address | 1 |\n| skipped | 1 |\n\n### Failing links\n\n"
                                                "#### `a.md`\n\n"
                                                "- 2:5 `a/y` \xE2\x80\x94 not-found: no such file or folder\n"
                                                "- 2:5 `a/z` \xE2\x80\x94 not-found: no such file or folder\n\n"
                                                "#### `b.md`\n\n"
                                                "- 7:1 `b/y` \xE2\x80\x94 not-found: no such file or folder\n\n"
                                                "#### `list.txt`\n\n"
                                                "- `ftp://x/` \xE2\x80\x94 bad-address: Bad scheme\n"));
    }

    // GitHub takes at most 1 MiB of a step's summary: the links past it are
    // left out and counted, whatever their length.
    void summaryStaysUnderItsLimit_data()
    {
        QTest::addColumn<int>("addressLength");
        QTest::newRow("short addresses") << 40;
        QTest::newRow("addresses of 100 kB") << 100000;
    }
    void summaryStaysUnderItsLimit()
    {
        QFETCH(int, addressLength);
        Summary summary;
        const LinkSource source = placed(QStringLiteral("a.md"), 1, 1, QStringLiteral("x"));
        const Outcome gone = invalid(AnswerClass::NotFound, QStringLiteral("gone"));
        const int links = 2 * Summary::MostBytes / addressLength;
        for (int i = 0; i < links; ++i)
            summary.add(entry(QByteArray::number(i).rightJustified(addressLength, 'x'), gone, &source));
        const QByteArray markdown = summary.markdown();
        QCOMPARE_LE(markdown.size(), Summary::MostBytes);
        const qsizetype shown = markdown.count("\n- ");
        QCOMPARE_GT(shown, 0);
        QVERIFY2(markdown.endsWith("\n_" + QByteArray::number(links - shown)
                                   + " more failing links are left out to keep this summary under 1 MiB; the report "
                                     "holds them all._\n"),
                 markdown.right(200).constData());
    }

    // --output takes the report off standard output; --summary writes its
    // file anew, and GitHub's step summary is added to.
    void outputAndSummaryFiles_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("stepSummary");  // GITHUB_STEP_SUMMARY names dir/step.md
        QTest::addColumn<QString>("reportFile");
        QTest::addColumn<QString>("summaryFile");
        QTest::addColumn<QByteArray>("summaryStart");
        QTest::newRow("--output") << QStringList{"--format", "csv", "--output", "@dir/report.csv"} << false
                                  << "report.csv" << QString() << QByteArray();
        QTest::newRow("--summary, anew") << QStringList{"--summary", "@dir/summary.md"} << false << QString()
                                         << "summary.md" << QByteArray("## tessaly-check\n");
        QTest::newRow("GitHub's step summary, added to")
            << QStringList{} << true << QString() << "step.md" << QByteArray("earlier\n\n## tessaly-check\n");
        QTest::newRow("--summary naming the step summary, added to")
            << QStringList{"--summary", "@dir/./step.md"} << true << QString() << "step.md"
            << QByteArray("earlier\n\n## tessaly-check\n");
        QTest::newRow("--summary over the step summary") << QStringList{"--summary", "@dir/summary.md"} << true
                                                         << QString() << "summary.md" << QByteArray("## tessaly-check\n");
    }
    void outputAndSummaryFiles()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, stepSummary);
        QFETCH(QString, reportFile);
        QFETCH(QString, summaryFile);
        QFETCH(QByteArray, summaryStart);
        TestFolder dir;
        dir.file("summary.md", "earlier\n");
        dir.file("step.md", "earlier\n");
        if (stepSummary)
            qputenv("GITHUB_STEP_SUMMARY", dir.filePath("step.md").toUtf8());
        const auto unset = qScopeGuard([] { qunsetenv("GITHUB_STEP_SUMMARY"); });
        arguments.replaceInStrings(QStringLiteral("@dir"), dir.path());
        const Finished finished = runInProcess(arguments + QStringList{"-"}, "ftp://x/\n");
        QCOMPARE(finished.exitCode, 1);
        if (reportFile.isEmpty()) {
            QVERIFY(finished.out.startsWith("invalid\t"));
        } else {
            QCOMPARE(finished.out, QByteArray());
            QVERIFY(readBytes(dir.filePath(reportFile)).startsWith("verdict,status,"));
        }
        for (const QString& name : {QStringLiteral("summary.md"), QStringLiteral("step.md")}) {
            const QByteArray summary = readBytes(dir.filePath(name));
            if (name != summaryFile) {
                QCOMPARE(summary, QByteArray("earlier\n"));
                continue;
            }
            QVERIFY2(summary.startsWith(summaryStart), summary.constData());
            QVERIFY2(summary.contains("- `ftp://x/` \xE2\x80\x94 bad-address"), summary.constData());
        }
    }
};

QTEST_MAIN(CliReportsTest)
#include "tst_cli_reports.moc"
