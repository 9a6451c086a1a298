// The command line's own rules, in process: its options, which names lead to
// one file, and how a list read as a stream is decoded.
#include "TestFiles.h"
#include "cli/Judging.h"
#include "cli/ConfigFile.h"
#include "cli/Defaults.h"
#include "cli/ListInput.h"
#include "cli/RequestHeaders.h"
#include "engine/address/PrivateAddress.h"
#include "cli/Report.h"
#include "cli/SameFile.h"
#include "cli/Shard.h"
#include "cli/commands/CheckCommand.h"
#include "cli/commands/MergeCommand.h"

#include <QRegularExpression>
#include <QTest>

#include <thread>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The options a check run was given, as it takes them.
CheckOptions checkOptionsOf(const QStringList& arguments)
{
    auto parsed = Command::parse(QStringList{"tessaly-check"} + arguments);
    const auto* command = std::get_if<std::unique_ptr<Command>>(&parsed);
    const auto* check = command ? dynamic_cast<const CheckCommand*>(command->get()) : nullptr;
    if (!check)
        qFatal("not a check run");
    return check->options();
}

// The command line's arguments with a configuration file of this text named
// by --config (none named when text is null), and the file's path.
struct Configured {
    TestFolder dir;
    QString path;
    std::variant<std::unique_ptr<Command>, Command::Help, Command::Usage> parsed;
};
std::unique_ptr<Configured> parsedWithConfig(const QByteArray& text, const QStringList& arguments)
{
    auto configured = std::make_unique<Configured>();
    configured->path = configured->dir.filePath(QStringLiteral("c.toml"));
    if (!text.isNull())
        configured->dir.file(QStringLiteral("c.toml"), text);
    configured->parsed = Command::parse(QStringList{"tessaly-check", "--config", configured->path} + arguments);
    return configured;
}

// A lookup of three made-up options: a flag, one that takes a value, one
// given once for each value; the mechanism does not depend on which rows
// the jobs have today.
ConfigFile::KeyLookup madeUpOptions()
{
    static const std::vector<JobOption> entries{
        {QCommandLineOption(QStringLiteral("flag"), QString()), false, {}},
        {QCommandLineOption(QStringLiteral("one"), QString(), QStringLiteral("V")), false, {}},
        {QCommandLineOption(QStringLiteral("many"), QString(), QStringLiteral("V")), true, {}},
    };
    return [](const QString& key) -> std::variant<const JobOption*, QString> {
        for (const JobOption& entry : entries) {
            if (longNameOf(entry.definition) == key)
                return &entry;
        }
        return QStringLiteral("no ") + key;
    };
}
}  // namespace

class CliInputsTest : public QObject {
    Q_OBJECT
private slots:
    // Options that cannot be used say what would be.
    void optionsRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("problem");
        QTest::newRow("no result file name") << QStringList{"--valid", ""} << "--valid needs a file name";
        QTest::newRow("no journal name") << QStringList{"--resume", ""} << "--resume needs a file name";
        QTest::newRow("no summary file name") << QStringList{"--summary", ""} << "--summary needs a file name";
        QTest::newRow("no jobs") << QStringList{"--jobs", "0"} << "--jobs takes a whole number from 1 to 1024";
        QTest::newRow("a time-out of 0") << QStringList{"--timeout", "0"}
                                         << "--timeout takes a number of seconds from 0.001 to 86400, such as 30";
        QTest::newRow("a time-out below a millisecond")
            << QStringList{"--timeout", "0.0001"} << "--timeout takes a number of seconds from 0.001 to 86400, such as 30";
        QTest::newRow("a pause past a day")
            << QStringList{"--pause", "90000"} << "--pause takes a number of seconds from 0 to 86400, such as 1 or 0.5";
        QTest::newRow("a negative pause")
            << QStringList{"--pause", "-1"} << "--pause takes a number of seconds from 0 to 86400, such as 1 or 0.5";
        QTest::newRow("not a number") << QStringList{"--pause", "soon"}
                                      << "--pause takes a number of seconds from 0 to 86400, such as 1 or 0.5";
        QTest::newRow("an unknown format")
            << QStringList{"--format", "xml"} << "--format is text, jsonl, junit, github or csv";
        QTest::newRow("shard 0") << QStringList{"--shard", "0/4"}
                                 << "--shard K/N counts shards from 1: K and N are 1 or more";
        QTest::newRow("a shard past the count")
            << QStringList{"--shard", "5/4"} << "--shard K/N takes K of at most N: there is no shard 5 of 4";
        QTest::newRow("shards past the limit")
            << QStringList{"--shard", "1/100001"} << "--shard K/N takes N of at most 100000";
        QTest::newRow("no count") << QStringList{"--shard", "2"} << "--shard takes K/N, shard K of N, such as 1/4";
        QTest::newRow("a merge that also asks")
            << QStringList{"--merge", "j", "--shard", "1/2"} << "--merge asks nothing: it takes no --shard";
        QTest::newRow("a merge into a journal")
            << QStringList{"--merge", "j", "--resume", "k"} << "--merge asks nothing: it takes no --resume";
        QTest::newRow("a merge with jobs")
            << QStringList{"--merge", "j", "-j", "4"} << "--merge asks nothing: it takes no --jobs";
        QTest::newRow("a merge of documents' links") << QStringList{"--merge", "j", "--base=https://example.org/"}
                                                     << "--merge reads list files only: it takes no --base";
        QTest::newRow("a dump that also asks")
            << QStringList{"--dump", "--shard", "1/2"} << "--dump asks nothing: it takes no --shard";
        // Two jobs: the first one asked refuses the other.
        QTest::newRow("a dump and a merge")
            << QStringList{"--dump", "--merge", "j"} << "--dump asks nothing: it takes no --merge";
        QTest::newRow("a dump in a report's format")
            << QStringList{"--dump", "--format", "junit"} << "--dump writes text or jsonl, not junit";
        QTest::newRow("a merge and a dump") << QStringList{"--merge", "j", "--dump"} << "--merge takes no --dump";
        QTest::newRow("authorities without a file") << QStringList{"--cacert", ""} << "--cacert needs a file name";
        const QString classes = "--fail-on takes answer classes, comma-separated, from ok, moved, redirect, blocked, "
                                "not-found, client-error, server-error, unreachable, bad-response, bad-address, "
                                "no-fragment, skipped, excluded: ";
        QTest::newRow("an unknown class") << QStringList{"--fail-on", "not-found,gone"} << classes + "\"gone\" is none";
        QTest::newRow("a merge with an unknown class")
            << QStringList{"--merge", "j", "--fail-on", "dead"} << classes + "\"dead\" is none";
        QTest::newRow("a bad pattern after a good one")
            << QStringList{"--include", "ok", "--include", "[z-a]"}
            << "--include [z-a]: range out of order in character class at character 3";
        QTest::newRow("an empty pattern") << QStringList{"--include", ""} << "--include needs a pattern";
        QTest::newRow("a bad header after a good one")
            << QStringList{"--header", "X-Fine: 1", "--header", "X-A: 1\nB"} << "--header cannot hold a line feed (LF)";
        QTest::newRow("an empty user agent") << QStringList{"--user-agent", " "} << "--user-agent needs some text";
        QTest::newRow("a user agent of two lines")
            << QStringList{"--user-agent", "a\r\nX-Injected: 1"} << "--user-agent cannot hold a carriage return (CR)";
    }
    void optionsRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, problem);
        const auto parsed = Command::parse(QStringList{"tessaly-check"} + arguments);
        QVERIFY(std::holds_alternative<Command::Usage>(parsed));
        QCOMPARE(std::get<Command::Usage>(parsed).problem, problem);
    }

    // Each --header as it is sent, or why it is refused before anything is asked.
    void headerLines_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("sent");  // or the problem
        QTest::newRow("spaces around the value") << "Accept:   text/html  "
                                                 << "Accept: text/html";
        QTest::newRow("no space after the colon") << "X-A:b"
                                                  << "X-A: b";
        QTest::newRow("an empty value, sent empty") << "X-Empty:"
                                                    << "X-Empty: ";
        QTest::newRow("a colon in the value") << "X-Time: 12:30"
                                              << "X-Time: 12:30";
        QTest::newRow("a tab in the value") << "X-A: a\tb"
                                            << "X-A: a\tb";
        QTest::newRow("UTF-8 in the value") << "X-Name: caf\u00e9"
                                            << "X-Name: caf\u00e9";
        QTest::newRow("no colon") << "X-Token abc"
                                  << "--header takes 'Name: value', with a colon: X-Token abc";
        QTest::newRow("no name") << ": abc"
                                 << "--header needs a name before its colon: : abc";
        QTest::newRow("a space before the colon")
            << "X-Token : a"
            << "--header's name X-Token  is not a token (letters, digits and !#$%&'*+-.^_`|~ only)";
        QTest::newRow("a CR LF and a second header") << "X-A: 1\r\nX-B: 2"
                                                     << "--header cannot hold a carriage return (CR)";
        QTest::newRow("a NUL") << QStringLiteral("X-A: 1") + QChar(0) + "2"
                               << "--header cannot hold a NUL";
        QTest::newRow("another control character") << "X-A: \x1b[31m"
                                                   << "--header cannot hold the control character 0x1b";
        QTest::newRow("host in any case") << "hOsT: example.org"
                                          << "--header cannot set hOsT: the address names the host";
    }
    void headerLines()
    {
        QFETCH(QString, given);
        QFETCH(QString, sent);
        const auto line = RequestHeaders::lineOf(given);
        const QString* problem = std::get_if<QString>(&line);
        QCOMPARE(problem ? *problem : QString::fromUtf8(std::get<QByteArray>(line)), sent);
    }

    // Whether a host, as HostKey spells it, is one --exclude-private keeps
    // away from; a name only its lookup can tell is for the request to check.
    void privateHosts_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<int>("isPrivate");  // 1, 0, or -1: not known by its spelling
        const std::pair<const char*, int> rows[] = {
            {"127.255.255.254", 1},
            {"10.255.255.255", 1},
            {"9.255.255.255", 0},
            {"11.0.0.0", 0},
            {"172.16.0.1", 1},
            {"172.31.255.255", 1},
            {"172.15.255.255", 0},
            {"172.32.0.0", 0},
            {"192.168.0.1", 1},
            {"192.167.255.255", 0},
            {"192.169.0.0", 0},
            {"169.254.169.254", 1},
            {"169.253.0.1", 0},
            {"0.0.0.0", 1},
            {"0.1.2.3", 1},
            {"1.0.0.0", 0},
            {"100.64.0.1", 0},
            {"[::1]", 1},
            {"[::]", 1},
            {"[::2]", 0},
            {"[fc00::1]", 1},
            {"[fdff:ffff::1]", 1},
            {"[fe00::1]", 0},
            {"[fe80::1]", 1},
            {"[febf::1]", 1},
            {"[fec0::1]", 0},
            {"[fe80::1%25eth0]", 1},
            {"[2001:db8::1]", 0},
            {"[::ffff:127.0.0.1]", 1},
            {"[::ffff:8.8.8.8]", 0},
            {"[::127.0.0.1]", 1},
            {"[64:ff9b::7f00:1]", 0},
            {"localhost", 1},
            {"app.localhost", 1},
            {"localhost.example", -1},
            {"mylocalhost", -1},
            {"example.org", -1},
            {"[not:an:address]", -1},
        };
        for (const auto& [host, isPrivate] : rows)
            QTest::newRow(host) << QByteArray(host) << isPrivate;
    }
    void privateHosts()
    {
        QFETCH(QByteArray, host);
        QFETCH(int, isPrivate);
        const std::optional<bool> found = PrivateAddress::ofHost(host);
        QCOMPARE(found ? int(*found) : -1, isPrivate);
    }

    // Which addresses the patterns and --exclude-private leave unasked, and
    // the reason the report gives.
    void addressesLeftOut_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<QString>("reason");  // empty: asked
        const QByteArray page = "https://example.org/docs/page.html";
        QTest::newRow("found anywhere") << QStringList{"--exclude", "docs"} << page << "excluded by --exclude docs";
        QTest::newRow("anchored at the start")
            << QStringList{"--exclude", "^https?://localhost"} << QByteArray("http://localhost:8080/")
            << "excluded by --exclude ^https?://localhost";
        QTest::newRow("case matters") << QStringList{"--exclude", "DOCS"} << page << QString();
        QTest::newRow("found by no include")
            << QStringList{"--include", "example\\.net", "--include", "\\.pdf$"} << page << "matches no --include";
        QTest::newRow("found by the second include")
            << QStringList{"--include", "example\\.net", "--include", "\\.html$"} << page << QString();
        QTest::newRow("the exclude wins")
            << QStringList{"--include", "example", "--exclude", "page"} << page << "excluded by --exclude page";
        QTest::newRow("a second exclude")
            << QStringList{"--exclude", "nothing", "--exclude", "/docs/"} << page << "excluded by --exclude /docs/";
        QTest::newRow("a private address") << QStringList{"--exclude-private"} << QByteArray("http://192.168.1.1/admin")
                                           << "private host 192.168.1.1 not asked (--exclude-private)";
        QTest::newRow("loopback written in hex") << QStringList{"--exclude-private"} << QByteArray("http://0x7f.0.0.1/")
                                                 << "private host 127.0.0.1 not asked (--exclude-private)";
        QTest::newRow("a name for this machine") << QStringList{"--exclude-private"} << QByteArray("http://API.Localhost./")
                                                 << "private host api.localhost not asked (--exclude-private)";
        QTest::newRow("a name the lookup tells") << QStringList{"--exclude-private"} << page << QString();
        QTest::newRow("private, without the option") << QStringList{} << QByteArray("http://10.0.0.1/") << QString();
        QTest::newRow("a pattern before the private rule")
            << QStringList{"--exclude-private", "--exclude", "admin"} << QByteArray("http://10.0.0.1/admin")
            << "excluded by --exclude admin";
    }
    void addressesLeftOut()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, address);
        QFETCH(QString, reason);
        QCOMPARE(checkOptionsOf(arguments).filter.whyLeftOut(address).value_or(QString()), reason);
    }

    // The user agent says which program asks, in the version --version
    // gives, and where to read about it: the home page debian/control and
    // the metainfo give.
    void defaultUserAgent()
    {
        const auto version = Command::parse({"tessaly-check", "--version"});
        QVERIFY(std::holds_alternative<Command::Help>(version));
        const QString versionText = std::get<Command::Help>(version).text.trimmed().section(u' ', 1);
        const QRegularExpression homepage(QStringLiteral("^Homepage: (.+)$"), QRegularExpression::MultilineOption);
        const QString control = QString::fromUtf8(readBytes(QStringLiteral(TESSALY_SOURCE_DIR "/debian/control")));
        const QString site = homepage.match(control).captured(1);
        QVERIFY(!site.isEmpty());
        QVERIFY(readBytes(QStringLiteral(TESSALY_SOURCE_DIR "/resources/example.velmora.tessaly.metainfo.xml"))
                    .contains("<url type=\"homepage\">" + site.toUtf8() + "</url>"));
        const QString expected = QStringLiteral("tessaly-check/%1 (+%2)").arg(versionText, site);
        QCOMPARE(RequestHeaders::defaultUserAgent(), expected);
        QCOMPARE(checkOptionsOf({}).userAgent, expected.toUtf8());
        QCOMPARE(checkOptionsOf({"--user-agent", "Mozilla/5.0 (mine)"}).userAgent, QByteArray("Mozilla/5.0 (mine)"));
    }

    void optionsTaken()
    {
        const CheckOptions options = checkOptionsOf({"--jobs", "1", "--pause", ".5", "--format", "jsonl", "a", "b"});
        QCOMPARE(options.jobs, 1);
        QCOMPARE(options.pause.count(), 500);
        QCOMPARE(options.timeout.count(), 30000);
        QCOMPARE(options.format, Report::formatNamed(u"jsonl"));
        QCOMPARE(options.lists, (QStringList{"a", "b"}));
        QCOMPARE(checkOptionsOf({"--cacert", "a.pem", "--cacert", "b.pem"}).addedAuthorities, (QStringList{"a.pem", "b.pem"}));
        QCOMPARE(checkOptionsOf({}).lists, QStringList{"-"});
        QCOMPARE(checkOptionsOf({"-j", "3"}).jobs, 3);
        QCOMPARE(checkOptionsOf({"--header", "X-A:1", "--header", "X-B: 2 "}).headers,
                 (QList<QByteArray>{"X-A: 1", "X-B: 2"}));
        const auto help = Command::parse({"tessaly-check", "--help-all", "list"});
        QVERIFY(std::holds_alternative<Command::Help>(help));
        QVERIFY(std::get<Command::Help>(help).text.simplified().contains(u"as list, html, markdown or sitemap (default"));
        for (const char* version : {"--version", "-v"}) {
            const auto asked = Command::parse({"tessaly-check", version});
            QVERIFY(std::holds_alternative<Command::Help>(asked));
            QVERIFY(QRegularExpression(QStringLiteral("^tessaly-check [0-9]+\\.[0-9]+(\\.[0-9]+)?\n$"))
                        .match(std::get<Command::Help>(asked).text)
                        .hasMatch());
        }
        // --merge, wherever it stands, asks for the merge.
        auto merge = Command::parse({"tessaly-check", "--format", "jsonl", "list", "--merge", "j"});
        QVERIFY(std::holds_alternative<std::unique_ptr<Command>>(merge));
        QVERIFY(dynamic_cast<MergeCommand*>(std::get<std::unique_ptr<Command>>(merge).get()));
    }

    // --accept's codes: each value comma-separated, codes and inclusive
    // ranges, the option given once or more.
    void statusRanges_data()
    {
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<int>("statusCode");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("text");  // as the summary gives them
        QTest::newRow("one code") << QStringList{"429"} << 429 << true << "429";
        QTest::newRow("one code, its neighbour") << QStringList{"429"} << 428 << false << "429";
        QTest::newRow("a range's first") << QStringList{"200-299"} << 200 << true << "200-299";
        QTest::newRow("a range's last") << QStringList{"200-299"} << 299 << true << "200-299";
        QTest::newRow("past a range") << QStringList{"200-299"} << 300 << false << "200-299";
        QTest::newRow("below a range") << QStringList{"200-299"} << 199 << false << "200-299";
        QTest::newRow("several, blanks around") << QStringList{" 200-299, 304 ,429"} << 304 << true << "200-299,304,429";
        QTest::newRow("the option twice") << QStringList{"200-299", "429"} << 429 << true << "200-299,429";
        QTest::newRow("a range twice, kept once") << QStringList{"200-299,200-299"} << 250 << true << "200-299";
        QTest::newRow("a range of one") << QStringList{"404-404"} << 404 << true << "404";
        QTest::newRow("no code") << QStringList{"100-999"} << -1 << false << "100-999";
        QTest::newRow("a real workflow's, in lychee's spelling")
            << QStringList{"200..299,300..399,403,429,999"} << 999 << true << "200-299,300-399,403,429,999";
    }
    void statusRanges()
    {
        QFETCH(QStringList, given);
        QFETCH(int, statusCode);
        QFETCH(bool, accepted);
        QFETCH(QString, text);
        const auto parsed = StatusRanges::parse(given);
        if (const QString* problem = std::get_if<QString>(&parsed))
            QFAIL(qPrintable(*problem));
        QCOMPARE(std::get<StatusRanges>(parsed).contains(statusCode), accepted);
        QCOMPARE(std::get<StatusRanges>(parsed).text(), text);
    }

    void statusRangesRefused_data()
    {
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<QString>("problem");  // how the message ends
        QTest::newRow("nothing") << QStringList{""} << "such as 200-299,304,429 or 200..299: \"\" is none";
        QTest::newRow("an empty part") << QStringList{"200,,304"} << ": \"\" is none";
        QTest::newRow("a class of codes") << QStringList{"2xx"} << ": \"2xx\" is none";
        QTest::newRow("a range half in each spelling") << QStringList{"200..-299"} << ": \"200..-299\" is none";
        QTest::newRow("three dots") << QStringList{"200...299"} << ": \"200...299\" is none";
        QTest::newRow("below 100") << QStringList{"99"} << ": \"99\" is none";
        QTest::newRow("written with a zero") << QStringList{"099"} << ": \"099\" is none";
        QTest::newRow("past 999") << QStringList{"200-1000"} << ": \"200-1000\" is none";
        QTest::newRow("a sign") << QStringList{"+200"} << ": \"+200\" is none";
        QTest::newRow("no end") << QStringList{"200-"} << ": \"200-\" is none";
        QTest::newRow("three ends") << QStringList{"200-300-400"} << ": \"200-300-400\" is none";
        QTest::newRow("digits of another script") << QStringList{"\u0662\u0660\u0660"} << "\u0662\u0660\u0660\" is none";
        QTest::newRow("one good value, one bad") << QStringList{"200", "4O4"} << ": \"4O4\" is none";
        QTest::newRow("backwards") << QStringList{"299-200"} << "the range 299-200 runs backwards; write 200-299";
    }
    void statusRangesRefused()
    {
        QFETCH(QStringList, given);
        QFETCH(QString, problem);
        const auto parsed = StatusRanges::parse(given);
        QVERIFY(std::holds_alternative<QString>(parsed));
        QVERIFY2(std::get<QString>(parsed).startsWith(u"--accept"), qPrintable(std::get<QString>(parsed)));
        QVERIFY2(std::get<QString>(parsed).endsWith(problem), qPrintable(std::get<QString>(parsed)));
    }

    // What the report says of an outcome and whether it fails the run, for
    // those a check against the loopback server cannot easily give
    // (tst_cli_commands has the answers' own).
    void judging_data()
    {
        QTest::addColumn<QStringList>("accept");  // none: not given
        QTest::addColumn<QStringList>("failOn");
        QTest::addColumn<QByteArray>("statusLine");  // none: no answer, judged as below
        QTest::addColumn<QString>("answerClass");    // of an outcome without an answer
        QTest::addColumn<bool>("valid");             // of an outcome without an answer
        QTest::addColumn<QByteArray>("verdict");
        QTest::addColumn<bool>("fails");
        const QStringList none;
        const QByteArray noAnswer;
        QTest::newRow("404 accepted, failing by its class")
            << QStringList{"404"} << QStringList{"not-found"} << QByteArray("HTTP/1.1 404 Not Found") << QString()
            << false << QByteArray("valid") << true;
        QTest::newRow("200 not accepted") << QStringList{"300-399"} << none << QByteArray("HTTP/1.1 200 OK")
                                          << QString() << false << QByteArray("invalid") << true;
        // The window calls a status line without a code valid by its wording.
        QTest::newRow("a status line without a code") << QStringList{"100-599"} << none << QByteArray("HTTP/1.1 Fine then")
                                                      << QString() << false << QByteArray("invalid") << true;
        QTest::newRow("redirects that led nowhere")
            << QStringList{"300-399"} << none << noAnswer << "redirect" << false << QByteArray("invalid") << true;
        QTest::newRow("a local file keeps its verdict")
            << QStringList{"300-399"} << none << noAnswer << "ok" << true << QByteArray("valid") << false;
        QTest::newRow("a local file without its fragment")
            << QStringList{"200-299"} << none << noAnswer << "no-fragment" << false << QByteArray("invalid") << true;
        QTest::newRow("skipped stays skipped")
            << QStringList{"300-399"} << none << noAnswer << "skipped" << true << QByteArray("skipped") << false;
        QTest::newRow("skipped failing when named")
            << none << QStringList{"skipped"} << noAnswer << "skipped" << true << QByteArray("skipped") << true;
    }
    void judging()
    {
        QFETCH(QStringList, accept);
        QFETCH(QStringList, failOn);
        QFETCH(QByteArray, statusLine);
        QFETCH(QString, answerClass);
        QFETCH(bool, valid);
        QFETCH(QByteArray, verdict);
        QFETCH(bool, fails);
        Judging judging;
        if (!accept.isEmpty())
            judging.accepted = std::get<StatusRanges>(StatusRanges::parse(accept));
        if (!failOn.isEmpty())
            judging.failing = std::get<ClassSet>(ClassSets::parse(failOn));
        Outcome outcome;
        if (statusLine.isEmpty()) {
            outcome.answerClass = *AnswerClasses::named(answerClass);
            outcome.valid = valid;
        } else {
            outcome = Outcome::ofHeaderBlock(statusLine + "\r\nServer: x\r\n\r\n");
        }
        const Outcome reported = judging.reported(outcome);
        QCOMPARE(Report::verdictOf(reported), verdict);
        QCOMPARE(judging.fails(reported), fails);
        // The rest of the outcome is the window's.
        QCOMPARE(reported.answerClass, outcome.answerClass);
        QCOMPARE(reported.statusLine, outcome.statusLine);
    }

    // Each job refuses every option of another job by its name and the
    // job's own, whatever group it comes from, and takes each of its own;
    // the check run takes every option but those that ask for another job.
    void otherJobsOptionsRefused_data()
    {
        QTest::addColumn<QString>("selector");
        QTest::addColumn<QStringList>("asking");  // the arguments that ask for the job
        QTest::newRow("check") << QString() << QStringList{};
        QTest::newRow("merge") << "merge" << QStringList{"--merge", "j"};
        QTest::newRow("dump") << "dump" << QStringList{"--dump"};
    }
    void otherJobsOptionsRefused()
    {
        QFETCH(QString, selector);
        QFETCH(QStringList, asking);
        QStringList selectors;
        QStringList own;
        for (const auto& job : Command::all()) {
            selectors << job->selector();
            if (job->selector() == selector)
                own = job->longOptionNames();
        }
        QVERIFY(!own.isEmpty());
        QStringList refused;
        for (const auto& job : Command::all()) {
            for (const QCommandLineOption& option : job->optionDefinitions()) {
                const QString name = option.names().constLast();
                // Another job's own option asks for that job instead.
                if (name == selector || (selector.isEmpty() && selectors.contains(name)) || refused.contains(name))
                    continue;
                QStringList arguments = QStringList{"tessaly-check"} + asking << QStringLiteral("--") + name;
                if (!option.valueName().isEmpty())
                    arguments << QStringLiteral("x");
                const auto parsed = Command::parse(arguments);
                const auto* usage = std::get_if<Command::Usage>(&parsed);
                const bool isRefused = usage && usage->problem.endsWith(QStringLiteral("takes no --") + name);
                QVERIFY2(isRefused != own.contains(name), qPrintable(name));
                if (isRefused) {
                    refused << name;
                    QVERIFY2(usage->problem.startsWith(QStringLiteral("--") + selector + u' '), qPrintable(usage->problem));
                }
            }
        }
        QCOMPARE(refused.isEmpty(), selector.isEmpty());
    }

    // A configuration's keys as the check run takes them, the user's own
    // options winning over them.
    void configTaken_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("pauseMs");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QStringList>("excluded");
        QTest::addColumn<QStringList>("authorities");
        const QStringList none;
        const int jobs = Defaults::Jobs;
        const int pause = static_cast<int>(Defaults::Pause.count());
        QTest::newRow("empty") << QByteArray("") << none << jobs << pause << "text" << none << none;
        QTest::newRow("numbers and a string")
            << QByteArray("jobs = 3\npause = 0.5\nformat = \"jsonl\"\n") << none << 3 << 500 << "jsonl" << none << none;
        QTest::newRow("a number as a string") << QByteArray("jobs = \"4\"") << none << 4 << pause << "text" << none << none;
        QTest::newRow("the user's short option wins")
            << QByteArray("jobs = 3\npause = 2") << QStringList{"-j", "2"} << 2 << 2000 << "text" << none << none;
        QTest::newRow("the user's long option wins") << QByteArray("format = \"jsonl\"") << QStringList{"--format=text"}
                                                     << jobs << pause << "text" << none << none;
        // The key is ignored, not merely overridden: its value is not checked.
        QTest::newRow("a bad value the user overrides")
            << QByteArray("jobs = 0") << QStringList{"--jobs", "5"} << 5 << pause << "text" << none << none;
        QTest::newRow("an array") << QByteArray("cacert = [\"a.pem\", \"b.pem\"]") << none << jobs << pause << "text"
                                  << none << QStringList{"a.pem", "b.pem"};
        QTest::newRow("the user's values replace the array")
            << QByteArray("cacert = [\"a.pem\", \"b.pem\"]") << QStringList{"--cacert", "c.pem"} << jobs << pause
            << "text" << none << QStringList{"c.pem"};
        QTest::newRow("another repeatable option kept")
            << QByteArray("cacert = [\"a.pem\"]\nexclude-path = [\"old\"]") << QStringList{"--cacert", "c.pem"} << jobs
            << pause << "text" << QStringList{"old"} << QStringList{"c.pem"};
        QTest::newRow("a value that starts with a dash") << QByteArray("exclude-path = [\"-j\", \"--x\"]") << none
                                                         << jobs << pause << "text" << QStringList{"-j", "--x"} << none;
        // Under the sanitizers: toml++ 3.3 reached an "unreachable" point on it.
        QTest::newRow("a non-ASCII path after a line ending backslash")
            << QByteArray("exclude-path = \"\"\"\\\n\xc2\xa7\"\"\"") << none << jobs << pause << "text"
            << QStringList{QStringLiteral("\u00a7")} << none;
        QTest::newRow("an empty array") << QByteArray("cacert = []") << none << jobs << pause << "text" << none << none;
    }
    void configTaken()
    {
        QFETCH(QByteArray, config);
        QFETCH(QStringList, arguments);
        const auto configured = parsedWithConfig(config, arguments);
        const auto* usage = std::get_if<Command::Usage>(&configured->parsed);
        QVERIFY2(!usage, usage ? qPrintable(usage->problem) : "");
        const auto* command = std::get_if<std::unique_ptr<Command>>(&configured->parsed);
        QVERIFY(command);
        const auto* check = dynamic_cast<const CheckCommand*>(command->get());
        QVERIFY(check);
        const CheckOptions& options = check->options();
        QTEST(options.jobs, "jobs");
        QTEST(static_cast<int>(options.pause.count()), "pauseMs");
        QFETCH(QString, format);
        QCOMPARE(options.format, Report::formatNamed(format));
        QTEST(options.excludedPaths, "excluded");
        QTEST(options.addedAuthorities, "authorities");
    }

    // What a configuration cannot hold is refused with its file and line;
    // CONFIG stands for the file's path. One file serves every job: a key of
    // another job's is left for it, unchecked (no problem: taken).
    void configRefused_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("problem");
        const QStringList none;
        QTest::newRow("a value the option refuses")
            << QByteArray("# ci\n\njobs = 0\n") << none << "CONFIG:3: --jobs takes a whole number from 1 to 1024";
        QTest::newRow("a fraction for a whole number")
            << QByteArray("retries = 1.5") << none << "CONFIG:1: --retries takes a whole number from 0 to 10";
        QTest::newRow("an empty file name")
            << QByteArray("cacert = [\"a.pem\", \"\"]") << none << "CONFIG:1: --cacert needs a file name";
        QTest::newRow("the first problem in the file")
            << QByteArray("zzz = 1\njobs = 0") << none << "CONFIG:1: zzz is not an option of tessaly-check";
        QTest::newRow("a short name") << QByteArray("j = 4") << none
                                      << "CONFIG:1: j is not a key: keys are long names, such as jobs";
        QTest::newRow("the files to check")
            << QByteArray("inputs = [\"docs/\"]") << none
            << "CONFIG:1: the files to check are named on the command line, not in a configuration";
        QTest::newRow("a job asked for")
            << QByteArray("\ndump = true") << none
            << "CONFIG:2: --dump asks for a job of its own: it is given on the command line, not in a configuration";
        QTest::newRow("help") << QByteArray("help = true") << none
                              << "CONFIG:1: --help is an option of the command line alone, not a key";
        QTest::newRow("an array for one value")
            << QByteArray("jobs = [1, 2]") << none << "CONFIG:1: --jobs takes one value, not an array";
        QTest::newRow("true for a value") << QByteArray("format = true") << none
                                          << "CONFIG:1: --format takes a string or a number, not true or false";
        QTest::newRow("an array in an array, on its own line")
            << QByteArray("cacert = [\n  \"a.pem\",\n  [\"b.pem\"],\n]") << none
            << "CONFIG:3: --cacert takes strings or numbers, not an array";
        QTest::newRow("a table") << QByteArray("jobs = 2\n[requests]\njobs = 8") << none
                                 << "CONFIG:2: requests is a table; a configuration holds options alone, at its top";
        QTest::newRow("a dotted key") << QByteArray("request.jobs = 8") << none
                                      << "CONFIG:1: request is a table; a configuration holds options alone, at its top";
        QTest::newRow("a syntax error") << QByteArray("jobs = 2\npause =\n") << none
                                        << "CONFIG:2: Error while parsing key-value pair: expected value, saw '\\n'";
        // Under the sanitizers: toml++ 3.3 reached an "unreachable" point on it.
        QTest::newRow("a character the library's tables missed") << QByteArray("\xc2\xa7 = 1") << none << "CONFIG:1: ";
        QTest::newRow("not UTF-8") << QByteArray("format = \"\xff\"") << none << "CONFIG:1: ";
        QTest::newRow("over 1 MiB") << QByteArray(ConfigFile::MostBytes + 1, '#') << none
                                    << "CONFIG: larger than 1 MiB, too large for a configuration";
        QTest::newRow("no such file") << QByteArray() << none << "CONFIG: No such file or directory";
        QTest::newRow("opposite options") << QByteArray("") << QStringList{"--no-config"}
                                          << "--no-config reads no configuration: it takes no --config";
        QTest::newRow("a merge, past jobs")
            << QByteArray("format = \"jsonl\"\njobs = 0") << QStringList{"--merge", "j"} << QString();
        QTest::newRow("a dump, past a result file") << QByteArray("valid = \"\"") << QStringList{"--dump"} << QString();
    }
    void configRefused()
    {
        QFETCH(QByteArray, config);
        QFETCH(QStringList, arguments);
        QFETCH(QString, problem);
        const auto configured = parsedWithConfig(config, arguments);
        const auto* usage = std::get_if<Command::Usage>(&configured->parsed);
        QVERIFY2(bool(usage) == !problem.isEmpty(), usage ? qPrintable(usage->problem) : "taken");
        if (!usage)
            return;
        QString shown = usage->problem;
        shown.replace(configured->path, QStringLiteral("CONFIG"));
        // The library's own words for a byte that is not UTF-8 are its own.
        if (problem.endsWith(u' '))
            QVERIFY2(shown.startsWith(problem), qPrintable(shown));
        else
            QCOMPARE(shown, problem);
    }

    // Each type of value for each kind of option, whatever the option.
    void configValueTypes_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QStringList>("given");  // "name=value,value", or the problem
        QTest::newRow("a flag set") << QByteArray("flag = true") << QStringList{"flag="};
        QTest::newRow("a flag not set") << QByteArray("flag = false") << QStringList{};
        QTest::newRow("a string for a flag")
            << QByteArray("flag = \"true\"") << QStringList{"c:1: --flag is true or false, not a string"};
        QTest::newRow("a number for a flag")
            << QByteArray("flag = 1") << QStringList{"c:1: --flag is true or false, not a number"};
        QTest::newRow("whole numbers") << QByteArray("one = -7\nmany = [0, 1_000]") << QStringList{"one=-7", "many=0,1000"};
        QTest::newRow("fractions, shortest")
            << QByteArray("one = 0.1\nmany = [1e3, 2.5e-3]") << QStringList{"one=0.1", "many=1000,0.0025"};
        QTest::newRow("in the file's order")
            << QByteArray("one = \"b\"\nflag = true\nmany = \"a\"") << QStringList{"one=b", "flag=", "many=a"};
        QTest::newRow("a string as written") << QByteArray("one = 'C:\\x y'") << QStringList{"one=C:\\x y"};
        QTest::newRow("a key's refusal") << QByteArray("\nother = 1") << QStringList{"c:2: no other"};
        QTest::newRow("a time for many") << QByteArray("many = 07:32:00")
                                         << QStringList{"c:1: --many takes a string, a number or an array of them, not a date or time"};
    }
    void configValueTypes()
    {
        QFETCH(QByteArray, config);
        QFETCH(QStringList, given);
        const auto settings = ConfigFile::settingsOf(config, QStringLiteral("c"), madeUpOptions());
        QStringList seen;
        if (const QString* problem = std::get_if<QString>(&settings))
            seen << *problem;
        else {
            for (const ConfigFile::Setting& setting : std::get<std::vector<ConfigFile::Setting>>(settings))
                seen << setting.name + u'=' + setting.values.join(u',');
        }
        QCOMPARE(seen, given);
    }

    // --help lists each option of every job once, with the program's own.
    void helpListsEveryOptionOnce()
    {
        const auto parsed = Command::parse({"tessaly-check", "--help"});
        QVERIFY(std::holds_alternative<Command::Help>(parsed));
        const QString help = std::get<Command::Help>(parsed).text;
        QStringList names{"help", "version"};
        for (const auto& job : Command::all())
            names << job->longOptionNames();
        for (const QString& name : names) {
            const QRegularExpression listed(QStringLiteral("\\n  (-[a-z?], )*--%1[ \n]").arg(name));
            int listings = 0;
            for (QRegularExpressionMatchIterator match = listed.globalMatch(help); match.hasNext(); match.next())
                ++listings;
            QVERIFY2(listings == 1, qPrintable(QStringLiteral("--%1 listed %2 times").arg(name).arg(listings)));
        }
    }

    // Each host falls in one shard of N whatever address it stands in, and
    // in the same one on every machine: the hash is fixed.
    void hostsShared_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("shard");
        QTest::newRow("a host") << QByteArray("http://example.org/a") << 4 << 2;
        QTest::newRow("in capitals, another scheme, path and port") << QByteArray("HTTPS://EXAMPLE.ORG.:8443/b?c") << 4 << 2;
        QTest::newRow("with user information") << QByteArray("http://me@example.org/") << 4 << 2;
        QTest::newRow("another host") << QByteArray("http://h2.localhost/") << 4 << 1;
        QTest::newRow("and another") << QByteArray("http://h3.localhost/") << 4 << 4;
        QTest::newRow("many shards") << QByteArray("http://a/") << 1000 << 997;
        QTest::newRow("no host: the first") << QByteArray("not an address") << 4 << 1;
        QTest::newRow("a name in another script, as curl asks it") << QByteArray("http://b\xc3\xbc"
                                                                                 "cher.de/")
                                                                   << 4 << Shard::of("http://xn--bcher-kva.de/", 4);
        QTest::newRow("an empty line: the first") << QByteArray() << 4 << 1;
        QTest::newRow("one shard") << QByteArray("http://example.org/") << 1 << 1;
    }
    void hostsShared()
    {
        QFETCH(QByteArray, address);
        QFETCH(int, count);
        QFETCH(int, shard);
        QCOMPARE(Shard::of(address, count), shard);
        const auto parsed = Shard::parse(QStringLiteral("%1/%2").arg(shard).arg(count));
        QVERIFY(std::holds_alternative<Shard>(parsed) && std::get<Shard>(parsed).holds(address));
    }

    // Names that lead to one file, as a write would reach it.
    void sameFile_data()
    {
        QTest::addColumn<QString>("one");
        QTest::addColumn<QString>("other");
        QTest::addColumn<bool>("same");
        QTest::newRow("one name") << "list"
                                  << "list" << true;
        QTest::newRow("another spelling") << "list"
                                          << "./sub/../list" << true;
        QTest::newRow("a hard link") << "list"
                                     << "hard" << true;
        QTest::newRow("a symbolic link") << "link"
                                         << "list" << true;
        QTest::newRow("no file yet, one name") << "new"
                                               << "./new" << true;
        QTest::newRow("a link to no file yet") << "dangling"
                                               << "target" << true;
        QTest::newRow("two new files") << "new"
                                       << "other" << false;
        QTest::newRow("two files") << "list"
                                   << "copy" << false;
        QTest::newRow("no name") << ""
                                 << "" << false;
    }
    void sameFile()
    {
        QFETCH(QString, one);
        QFETCH(QString, other);
        QFETCH(bool, same);
        TestFolder dir;
        QVERIFY(QDir(dir.path()).mkdir("sub"));
        const QString list = dir.file("list", "a\n");
        dir.file("copy", "a\n");
        QCOMPARE(::link(QFile::encodeName(list).constData(), QFile::encodeName(dir.filePath("hard")).constData()), 0);
        QVERIFY(QFile::link(list, dir.filePath("link")));
        QVERIFY(QFile::link(QStringLiteral("target"), dir.filePath("dangling")));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const bool found = SameFile::names(one, other);
        const bool foundBackwards = SameFile::names(other, one);
        QDir::setCurrent(previous);
        QCOMPARE(found, same);
        QCOMPARE(foundBackwards, same);
    }

    // A stream is UTF-8 until its first line that is not, Windows-1252 from
    // there on; a byte-order mark first is dropped.
    void streamDecoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("UTF-8") << QByteArray("caf\xC3\xA9\r\nb\n") << QStringList{"café", "b"};
        QTest::newRow("a mark first") << QByteArray("\xEF\xBB\xBF"
                                                    "a\nb")
                                      << QStringList{"a", "b"};
        QTest::newRow("Windows-1252") << QByteArray("caf\xE9\n\x80\n") << QStringList{"café", "€"};
        QTest::newRow("UTF-8-looking bytes after a Windows-1252 line")
            << QByteArray("a\xE9\n\xC3\xA9\n") << QStringList{"aé", "Ã©"};
    }
    void streamDecoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, items);
        TestFolder dir;
        const QString fifo = makeFifo(dir, "list");
        std::thread writer([&] {
            QFile file(fifo);
            if (file.open(QIODevice::WriteOnly))
                file.write(bytes);
        });
        ListInput input;
        const auto readable = [](int descriptor) {
            pollfd watch{descriptor, POLLIN, 0};
            return ::poll(&watch, 1, 10000) == 1;
        };
        QStringList read;
        std::optional<QString> problem = input.open(fifo, readable);
        if (!problem)
            problem = input.forEachItem([&](QByteArrayView item) { return read << QString::fromUtf8(item), true; }, readable);
        writer.join();
        QCOMPARE(problem, std::nullopt);
        QCOMPARE(input.items(), -1);
        QCOMPARE(read, items);
    }
};

QTEST_GUILESS_MAIN(CliInputsTest)
#include "tst_cli_inputs.moc"
