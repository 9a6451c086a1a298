// The CI workflows the README shows: their tessaly-check commands run as the
// runner's shell runs them, on a checkout whose docs hold a dead link, and
// what each CI service reads from them (GitHub's workflow commands and step
// summary, GitLab's JUnit report) held to what the service shows.

#include "CheckRuns.h"
#include "LoopbackServer.h"
#include "TestFiles.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {
// The tessaly-check commands of the README's workflow that starts with this
// comment line ("# .gitlab-ci.yml"): each `run:` step or script line.
QStringList commandsOfWorkflow(const QString& firstLine)
{
    const QString readme = QString::fromUtf8(readBytes(QStringLiteral(TESSALY_SOURCE_DIR "/README.md")));
    const qsizetype start = readme.indexOf(QStringLiteral("```yaml\n") + firstLine + u'\n');
    if (start < 0)
        return {};
    const qsizetype end = readme.indexOf(QStringLiteral("\n```"), start + 8);
    static const QRegularExpression step(QStringLiteral(R"(^\s*(?:- )?(?:run: )?(tessaly-check .*)$)"));
    QStringList commands;
    for (const QString& line : readme.mid(start, end - start).split(u'\n'))
        if (const QRegularExpressionMatch match = step.match(line); match.hasMatch())
            commands << match.captured(1);
    return commands;
}
}  // namespace

class CiExamplesTest : public QObject {
    Q_OBJECT
private slots:
    void workflowsShowTheDeadLink_data()
    {
        QTest::addColumn<QString>("workflow");
        QTest::newRow("GitHub Actions") << "# .github/workflows/links.yml";
        QTest::newRow("GitLab CI") << "# .gitlab-ci.yml";
    }
    void workflowsShowTheDeadLink()
    {
        QFETCH(QString, workflow);
        const QStringList commands = commandsOfWorkflow(workflow);
        QCOMPARE(commands.size(), 1);

        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder checkout;
        const QString gone = server.url("/gone");
        const QByteArray linkLine = ("See [the guide](" + server.url("/ok") + ") and [the old one](" + gone + ").").toUtf8();
        const QByteArray deadColumn = QByteArray::number(linkLine.indexOf(gone.toUtf8()) + 1);
        // localhost is this server too: only the exclusion keeps it unasked.
        checkout.file("docs/guide.md",
                      "# Guide\n\n" + linkLine + "\nThe [admin page]("
                          + server.url("/admin").replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost")).toUtf8()
                          + ").\n");
        const QString stepSummary = checkout.file("step-summary.md", {});

        QProcess shell;
        shell.setWorkingDirectory(checkout.path());
        QProcessEnvironment environment = environmentWithoutProxies();
        environment.insert("PATH", QFileInfo(Program).path() + u':' + environment.value("PATH"));
        const bool github = workflow.contains(QStringLiteral("github"));
        if (github)
            environment.insert("GITHUB_STEP_SUMMARY", stepSummary);
        else
            environment.remove("GITHUB_STEP_SUMMARY");
        shell.setProcessEnvironment(environment);
        shell.start(QStringLiteral("sh"), {"-c", commands.constFirst()});
        QVERIFY(shell.waitForFinished(60000));
        const QByteArray out = shell.readAllStandardOutput();
        const QByteArray err = shell.readAllStandardError();
        // A dead link fails the job.
        QVERIFY2(shell.exitCode() == 1, err.constData());
        QVERIFY(!server.requestedPaths().contains("/admin"));

        if (github) {
            QCOMPARE(out.count("::error "), 1);
            QVERIFY2(out.startsWith("::error file=docs/guide.md,line=3,col=" + deadColumn + ",title=failing link (not-found)::"),
                     out.constData());
            const QByteArray summary = readBytes(stepSummary);
            QVERIFY2(summary.contains("### Failing links") && summary.contains("`docs/guide.md`"), summary.constData());
            return;
        }
        const QString report = checkout.filePath("links.xml");
        const QByteArray junit = readBytes(report);
        QVERIFY2(junit.contains("file=\"docs/guide.md\" line=\"3\"") && junit.contains("failures=\"1\""), junit.constData());
        QProcess schema;
        schema.start(QStringLiteral("xmllint"),
                     {"--schema", QStringLiteral(TESSALY_SOURCE_DIR "/tests/junit/junit.xsd"), "--noout", report});
        QVERIFY(schema.waitForFinished(60000));
        QVERIFY2(schema.exitCode() == 0, schema.readAllStandardError().constData());
        QVERIFY(readBytes(checkout.filePath("links.md")).startsWith("## tessaly-check\n"));
    }
};

QTEST_GUILESS_MAIN(CiExamplesTest)
#include "tst_ci_examples.moc"
