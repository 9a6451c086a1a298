// The command line's records, in process: a report's text and JSON lines,
// and the journal a run started again reads them back from.
#include "TestFiles.h"
#include "cli/Documents.h"
#include "cli/Journal.h"
#include "cli/Report.h"

#include <QJsonDocument>
#include <QTest>

#include <optional>

Q_DECLARE_METATYPE(Outcome)

namespace {
const QByteArray Heading = "tessaly-check journal 1\n";

Outcome outcome(bool valid, int code, const QString& statusLine, const QString& reason = {}, qint64 milliseconds = 0,
                const QString& location = {}, int attempts = 1)
{
    const AnswerClass answerClass = statusLine.isEmpty() ? AnswerClass::Unreachable : AnswerClasses::ofStatus(code, false);
    return {valid, code, statusLine, reason, milliseconds, location, answerClass, attempts, 0, {}};
}

// Where redirects led an address: hops and the address answering at the end.
Outcome redirected(Outcome outcome, int hops, const QString& finalAddress)
{
    outcome.hops = hops;
    outcome.finalAddress = finalAddress;
    return outcome;
}

Outcome answered(const QString& statusLine) { return outcome(true, statusLine.mid(9, 3).toInt(), statusLine); }

// A journal entry as a run writes it.
QByteArray entry(qint64 position, const QByteArray& address, const QString& statusLine)
{
    QJsonObject object = Report::toJson(address, answered(statusLine));
    object.insert("position", position);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// JSON text written with ' for " for legibility.
QByteArray json(const char* text) { return QByteArray(text).replace('\'', '"'); }

QString statusLineOf(const std::optional<Outcome>& recorded) { return recorded ? recorded->statusLine : QString(); }
}  // namespace

class ReportJournalTest : public QObject {
    Q_OBJECT
private slots:
    // The status line, or the reason without one, the address, the class, the
    // attempts and a redirect's Location, each a field of one line: no control
    // character of any reaches a terminal.
    void textLine_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QByteArray>("line");
        const Outcome ok = answered("HTTP/1.1 200 OK");
        QTest::newRow("valid") << QByteArray("http://a/") << ok << QByteArray("valid\tHTTP/1.1 200 OK\thttp://a/\tok\t1\n");
        QTest::newRow("the reason without a status line") << QByteArray("http://a/") << outcome(false, -1, {}, "refused")
                                                          << QByteArray("invalid\trefused\thttp://a/\tunreachable\t1\n");
        QTest::newRow("a tab and an escape in the status line")
            << QByteArray("a") << outcome(true, 200, "HTTP/1.1 200 O\tK\x1b[2J")
            << QByteArray("valid\tHTTP/1.1 200 O K [2J\ta\tok\t1\n");
        QTest::newRow("a line break in the reason") << QByteArray("a") << outcome(false, -1, {}, "no\r\nanswer")
                                                    << QByteArray("invalid\tno  answer\ta\tunreachable\t1\n");
        QTest::newRow("a C1 control in the status line") << QByteArray("a")
                                                         << outcome(true, 200,
                                                                    QString::fromLatin1("HTTP/1.1 200 O\x9b"
                                                                                        "2JK"))
                                                         << QByteArray("valid\tHTTP/1.1 200 O 2JK\ta\tok\t1\n");
        QTest::newRow("escape sequence") << QByteArray("a\x1b[2Jb") << ok
                                         << QByteArray("valid\tHTTP/1.1 200 OK\ta\\x1b[2Jb\tok\t1\n");
        QTest::newRow("NUL, tab, line feed, delete")
            << QByteArray("a\0b\tc\nd\x7f", 8) << ok
            << QByteArray("valid\tHTTP/1.1 200 OK\ta\\x00b\\x09c\\x0ad\\x7f\tok\t1\n");
        QTest::newRow("C1 controls in UTF-8") << QByteArray("a\xc2\x80"
                                                            "b\xc2\x9b"
                                                            "31m")
                                              << ok
                                              << QByteArray("valid\tHTTP/1.1 200 OK\ta\\x80b\\x9b"
                                                            "31m\tok\t1\n");
        QTest::newRow("backslash") << QByteArray("a\\x1b\\") << ok
                                   << QByteArray("valid\tHTTP/1.1 200 OK\ta\\\\x1b\\\\\tok\t1\n");
        QTest::newRow("a redirect with its Location")
            << QByteArray("http://a/") << outcome(true, 301, "HTTP/1.1 301 Moved", {}, 0, "https://a/\x1b[2J")
            << QByteArray("valid\tHTTP/1.1 301 Moved\thttp://a/\tredirect\t1\thttps://a/\\x1b[2J\n");
        QTest::newRow("redirects followed to their end")
            << QByteArray("http://a/") << redirected(outcome(false, 404, "HTTP/1.1 404 Not Found"), 2, "https://b/\x1b")
            << QByteArray("invalid\tHTTP/1.1 404 Not Found\thttp://a/\tnot-found\t1\t2\thttps://b/\\x1b\n");
        QTest::newRow("redirects that led nowhere") << QByteArray("http://a/")
                                                    << redirected(
                                                           [] {
            Outcome loop = outcome(false, -1, {}, "redirect loop", 0, "/a", 2);
            loop.answerClass = AnswerClass::Redirect;
            return loop;
                                                           }(),
                                                           1, "http://a/b")
            << QByteArray("invalid\tredirect loop\thttp://a/\tredirect\t2\t/a\t1\thttp://a/b\n");
        QTest::newRow("a Location on no redirect")
            << QByteArray("http://a/") << outcome(true, 201, "HTTP/1.1 201 Created", {}, 0, "/b")
            << QByteArray("valid\tHTTP/1.1 201 Created\thttp://a/\tok\t1\n");
        QTest::newRow("answered at the third attempt")
            << QByteArray("http://a/") << outcome(false, -1, {}, "time-out", 0, {}, 3)
            << QByteArray("invalid\ttime-out\thttp://a/\tunreachable\t3\n");
        QTest::newRow("other text as it is") << QByteArray("caf\xc3\xa9 \xc2\xa0\xc2") << ok
                                             << QByteArray("valid\tHTTP/1.1 200 OK\tcaf\xc3\xa9 \xc2\xa0\xc2\tok\t1\n");
    }
    void textLine()
    {
        QFETCH(QByteArray, address);
        QFETCH(Outcome, outcome);
        QFETCH(QByteArray, line);
        QCOMPARE(Report::textLine(address, outcome), line);
    }

    // Where a document's link stands, the last field: the file as named,
    // whatever it holds, then the line and column.
    void linkPlace_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("line");
        QTest::addColumn<QByteArray>("where");
        QTest::newRow("a file and a place") << QStringLiteral("docs/a.md") << 12 << QByteArray("docs/a.md:12:7");
        QTest::newRow("a list's line: the file alone") << QStringLiteral("urls.txt") << 0 << QByteArray("urls.txt");
        QTest::newRow("percent signs and digits in the name")
            << QStringLiteral("100%1 of %2.html") << 3 << QByteArray("100%1 of %2.html:3:7");
        QTest::newRow("a control character in the name")
            << QStringLiteral("a\x1b.html") << 1 << QByteArray("a\\x1b.html:1:7");
    }
    void linkPlace()
    {
        QFETCH(QString, file);
        QFETCH(int, line);
        QFETCH(QByteArray, where);
        LinkSource source;
        source.file = file;
        source.place = {line, 7};
        QCOMPARE(Report::textLine("a", answered("HTTP/1.1 200 OK"), &source),
                 "valid\tHTTP/1.1 200 OK\ta\tok\t1\t" + where + '\n');
    }

    // One object per line, null for what there is not; read back whole.
    void jsonLineReadBack_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("a redirect") << QByteArray("http://a/")
                                    << outcome(true, 301, "HTTP/1.1 301 Moved", {}, 12, "https://a/b")
                                    << json("{'address':'http://a/','attempts':1,'class':'redirect','final_address':null,'hops':0,'location':'https://a/b','reason':null,'status_code':301,"
                                            "'status_line':'HTTP/1.1 301 Moved','time_ms':12,'verdict':'valid'}");
        QTest::newRow("redirects followed")
            << QByteArray("http://a/")
            << redirected(answered("HTTP/1.1 200 OK"), 3, QString::fromUtf8("http://b/caf\xc3\xa9"))
            << QByteArray("{\"address\":\"http://a/\",\"attempts\":1,\"class\":\"ok\",\"final_address\":\"http://b/caf\xc3\xa9\","
                          "\"hops\":3,\"location\":null,\"reason\":null,\"status_code\":200,\"status_line\":\"HTTP/1.1 200 OK\","
                          "\"time_ms\":0,\"verdict\":\"valid\"}");
        QTest::newRow("no status line") << QByteArray("http://a/") << outcome(false, -1, {}, "refused", 3)
                                        << json("{'address':'http://a/','attempts':1,'class':'unreachable','final_address':null,'hops':0,'location':null,'reason':'refused','status_code':null,"
                                                "'status_line':null,'time_ms':3,'verdict':'invalid'}");
        QTest::newRow("a status line without a code, not found")
            << QByteArray("http://a/") << outcome(false, -1, "HTTP/1.1 Not Found")
            << json("{'address':'http://a/','attempts':1,'class':'bad-response','final_address':null,'hops':0,'location':null,'reason':null,"
                    "'status_code':null,'status_line':'HTTP/1.1 Not Found','time_ms':0,'verdict':'invalid'}");
        QTest::newRow("quotes, control characters, UTF-8")
            << QByteArray("http://a/caf\xc3\xa9?\"\x01\n") << answered("HTTP/1.1 200 \"OK\"")
            << QByteArray("{\"address\":\"http://a/caf\xc3\xa9?\\\"\\u0001\\n\",\"attempts\":1,\"class\":\"ok\",\"final_address\":null,\"hops\":0,\"location\":null,\"reason\":null,"
                          "\"status_code\":200,\"status_line\":\"HTTP/1.1 200 \\\"OK\\\"\",\"time_ms\":0,"
                          "\"verdict\":\"valid\"}");
    }
    void jsonLineReadBack()
    {
        QFETCH(QByteArray, address);
        QFETCH(Outcome, outcome);
        QFETCH(QByteArray, line);
        QCOMPARE(Report::jsonLine(address, outcome), line + '\n');
        const auto back = Report::fromJson(QJsonDocument::fromJson(line).object());
        QVERIFY(back);
        QCOMPARE(Report::jsonLine(back->first, back->second), line + '\n');
    }

    // An entry a run wrote before classes and attempts were kept reads back
    // with the class its status line gives, and one attempt.
    void entryOfAnEarlierVersion_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("answerClass");
        QTest::addColumn<int>("attempts");
        QTest::newRow("found") << json("{'address':'a','status_code':200,'status_line':'HTTP/1.1 200 OK','verdict':'valid'}")
                               << "ok" << 1;
        QTest::newRow("gone") << json("{'address':'a','status_code':410,'status_line':'HTTP/1.1 410 Gone','verdict':'valid'}")
                              << "not-found" << 1;
        QTest::newRow("no answer") << json("{'address':'a','reason':'refused','verdict':'invalid'}") << "unreachable" << 1;
        QTest::newRow("a class unknown here")
            << json("{'address':'a','class':'later','status_code':503,'status_line':'HTTP/1.1 503 Busy','verdict':'valid'}")
            << "server-error" << 1;
        QTest::newRow("both kept") << json("{'address':'a','attempts':3,'class':'blocked','status_code':200,"
                                           "'status_line':'HTTP/1.1 200 OK','verdict':'valid'}")
                                   << "blocked" << 3;
    }
    void entryOfAnEarlierVersion()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, answerClass);
        QFETCH(int, attempts);
        const auto back = Report::fromJson(QJsonDocument::fromJson(line).object());
        QVERIFY(back);
        QCOMPARE(AnswerClasses::nameOf(back->second.answerClass), answerClass);
        QCOMPARE(back->second.attempts, attempts);
    }

    // What a journal gives back for each address of a list, and that what
    // this run records there is read back by the next.
    void journalReadBack_data()
    {
        QTest::addColumn<QByteArray>("file");       // as earlier runs left it
        QTest::addColumn<QStringList>("recorded");  // the status line taken for each address, "" for none
        QTest::newRow("a new file") << QByteArray() << QStringList{"", "", ""};
        QTest::newRow("one entry each") << Heading + entry(0, "http://a/", "HTTP/1.1 200 A")
                                               + entry(1, "http://b/", "HTTP/1.1 404 B")
                                               + entry(2, "http://c/", "HTTP/1.1 200 C")
                                        << QStringList{"HTTP/1.1 200 A", "HTTP/1.1 404 B", "HTTP/1.1 200 C"};
        QTest::newRow("entries out of order")
            << Heading + entry(2, "http://c/", "HTTP/1.1 200 C") + entry(0, "http://a/", "HTTP/1.1 200 A")
            << QStringList{"HTTP/1.1 200 A", "", "HTTP/1.1 200 C"};
        QTest::newRow("cut short mid-line")
            << Heading + entry(0, "http://a/", "HTTP/1.1 200 A") + json("{'position':1,'add")
            << QStringList{"HTTP/1.1 200 A", "", ""};
        QTest::newRow("foreign lines") << Heading + "http://a/\n[0]\n"
                                              + json("{'address':'http://b/','verdict':'valid'}\n"
                                                     "{'position':'2','address':'http://c/','verdict':'valid'}\n"
                                                     "{'position':0,'address':'http://a/'}\n")
                                       << QStringList{"", "", ""};
        QTest::newRow("another address at the position")
            << Heading + entry(0, "http://a/", "HTTP/1.1 200 A") + entry(1, "http://other/", "HTTP/1.1 200 B")
            << QStringList{"HTTP/1.1 200 A", "", ""};
        QTest::newRow("the later entry for a position wins")
            << Heading + entry(1, "http://b/", "HTTP/1.1 500 Earlier") + entry(0, "http://a/", "HTTP/1.1 200 A")
                   + entry(1, "http://b/", "HTTP/1.1 200 Later")
            << QStringList{"HTTP/1.1 200 A", "HTTP/1.1 200 Later", ""};
    }
    void journalReadBack()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, recorded);
        TestFolder dir;
        const QString path = dir.file("journal", file);
        const QByteArrayList list{"http://a/", "http://b/", "http://c/", "http://d/"};
        {
            Journal journal;
            QVERIFY2(journal.open(path), qPrintable(journal.errorString()));
            for (qsizetype position = 0; position < recorded.size(); ++position)
                QCOMPARE(statusLineOf(journal.recorded(position, list[position])), recorded[position]);
            QVERIFY(journal.record(3, list[3], answered("HTTP/1.1 201 D")));
        }
        Journal next;
        QVERIFY2(next.open(path), qPrintable(next.errorString()));
        for (qsizetype position = 0; position < recorded.size(); ++position)
            QCOMPARE(statusLineOf(next.recorded(position, list[position])), recorded[position]);
        QCOMPARE(statusLineOf(next.recorded(3, list[3])), "HTTP/1.1 201 D");
    }

    // A file that is no journal, or one another run holds, is refused and
    // left as it was.
    void journalRefused_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("heldByAnotherRun");
        QTest::addColumn<QString>("why");
        QTest::newRow("a list of addresses") << QByteArray("http://a/\nhttp://b/\n") << false << "not a journal";
        QTest::newRow("another version's journal") << QByteArray("tessaly-check journal 2\n") << false << "not a journal";
        QTest::newRow("held by another run")
            << Heading + entry(0, "http://a/", "HTTP/1.1 200 A") << true << "another tessaly-check run";
    }
    void journalRefused()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, heldByAnotherRun);
        QFETCH(QString, why);
        TestFolder dir;
        const QString path = dir.file("journal", file);
        std::optional<Journal> other;
        if (heldByAnotherRun)
            QVERIFY(other.emplace().open(path));
        Journal journal;
        QVERIFY(!journal.open(path));
        QVERIFY2(journal.errorString().contains(why), qPrintable(journal.errorString()));
        QCOMPARE(readBytes(path), file);
        if (other) {
            other.reset();
            QVERIFY2(Journal().open(path), "still refused once the other run let go");
        }
    }
};

QTEST_GUILESS_MAIN(ReportJournalTest)
#include "tst_report_journal.moc"
