// A list shared out in shards (--shard) run by engines not ours, GNU
// parallel here and over ssh and the Kubernetes jobs' scripts, and merged
// from their journals (--merge) into one run's report and result files.

#include "CheckRuns.h"
#include "LoopbackServer.h"
#include "LoopbackSshServer.h"
#include "TestFiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>
#include <QTest>

#include <optional>

namespace {
const QString KubernetesFolder = QStringLiteral(TESSALY_SOURCE_DIR "/deploy/kubernetes");

// What a pod of the Kubernetes jobs gets: the program on its path, four
// shards of the list, and the first completion index.
QProcessEnvironment podEnvironment(const QString& list)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QFileInfo(Program).path() + u':' + environment.value("PATH"));
    environment.insert("SHARDS", "4");
    environment.insert("JOB_COMPLETION_INDEX", "0");
    environment.insert("LIST", list);
    return environment;
}
}  // namespace

class CheckShardsTest : public QObject {
    Q_OBJECT
private slots:
    // Four shards run by an engine not ours, each keeping journal-K.txt
    // beside the list, then merged: GNU parallel on this machine, GNU
    // parallel over ssh (the list sent out, the journals brought back), and
    // the Kubernetes job's own scripts with the completion index each pod
    // would get. The merge gives the report and result files of one run over
    // the whole list, and no host is asked by two shards (a shard left out
    // is tst_cli_commands').
    void shardsRunElsewhereMergeAsOneRun_data()
    {
        QTest::addColumn<QString>("runner");
        QTest::newRow("GNU parallel") << "parallel";
        QTest::newRow("GNU parallel --sshlogin") << "ssh";
        QTest::newRow("Kubernetes Indexed Job") << "kubernetes";
    }
    void shardsRunElsewhereMergeAsOneRun()
    {
        QFETCH(QString, runner);
        const QString parallel = QStandardPaths::findExecutable(QStringLiteral("parallel"));
        QVERIFY2(!parallel.isEmpty(), "GNU parallel is not installed (the README's test command installs it)");
        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        QStringList addresses{QString(), QStringLiteral("ftp://x/")};
        for (int i = 0; i < 36; ++i)
            addresses << server.url(i % 3 ? QStringLiteral("/ok") : QStringLiteral("/gone"))
                             .replace(QStringLiteral("127.0.0.1"), QStringLiteral("h%1.localhost").arg(i % 12));
        TestFolder dir;
        const QString list = dir.file("list.txt", linesOf(addresses));
        const Finished whole = CheckProcess().run({"--valid", dir.filePath("v1"), "--invalid", dir.filePath("i1"), list});
        QCOMPARE(whole.exitCode, 1);

        // The job's shard count is its completions, told to each pod and to the
        // merge: four here, so that every row runs alike.
        const QByteArray job = readBytes(KubernetesFolder + QStringLiteral("/shards-job.yaml"));
        for (const QByteArray& manifest : {job, readBytes(KubernetesFolder + QStringLiteral("/merge-job.yaml"))})
            QVERIFY(QRegularExpression(R"(- name: SHARDS\s+value: "4")").match(QString::fromUtf8(manifest)).hasMatch());
        QVERIFY(job.contains("completions: 4\n") && job.contains("parallelism: 4\n"));

        QProcess shards;
        shards.setWorkingDirectory(dir.path());
        const QStringList oneToFour{":::", "1", "2", "3", "4"};
        const QStringList shardRun{Program, "--shard", "{}/4", "--resume", "journal-{}.txt", "list.txt"};
        std::optional<LoopbackSshServer> ssh;
        QTemporaryDir elsewhere;
        if (runner == QStringLiteral("parallel")) {
            shards.start(parallel, QStringList{"-q", "--will-cite"} + shardRun + oneToFour);
        } else if (runner == QStringLiteral("ssh")) {
            if (!runsAsRoot())
                QSKIP("an OpenSSH server of the test's own needs root");
            ssh.emplace();
            QVERIFY2(ssh->start(), ssh->log().constData());
            shards.start(parallel, QStringList{"-q", "--will-cite", "--ssh", ssh->command(), "--sshlogin", "127.0.0.1",
                                               "--workdir", elsewhere.path(), "--basefile", "list.txt", "--return",
                                               "journal-{}.txt"}
                                       + shardRun + oneToFour);
        } else {
            shards.setProcessEnvironment(podEnvironment(list));
            shards.start(parallel, {"-q", "--will-cite", "env", "JOB_COMPLETION_INDEX={}", "sh",
                                    KubernetesFolder + QStringLiteral("/check-shard.sh"), ":::", "0", "1", "2", "3"});
        }
        QVERIFY(shards.waitForFinished(120000));
        QVERIFY2(shards.exitStatus() == QProcess::NormalExit, shards.readAllStandardError().constData());
        const int shardsEndingOne = shards.exitCode();

        QStringList merge;
        QSet<QString> hostsSeen;
        int shardsWithInvalid = 0;
        for (int shard = 1; shard <= 4; ++shard) {
            merge << "--merge" << dir.filePath(QStringLiteral("journal-%1.txt").arg(shard));
            QSet<QString> hosts;
            bool invalid = false;
            for (const QByteArray& line : readBytes(merge.constLast()).split('\n').mid(1)) {
                if (const QJsonObject entry = QJsonDocument::fromJson(line).object(); !entry.isEmpty()) {
                    hosts << QUrl(entry.value("address").toString()).host();
                    invalid = invalid || entry.value("verdict") == QStringLiteral("invalid");
                }
            }
            shardsWithInvalid += invalid ? 1 : 0;
            // The empty line and ftp://x/ are journaled, not asked.
            hosts.remove(QString());
            hosts.remove(QStringLiteral("x"));
            QVERIFY2(!hostsSeen.intersects(hosts), qPrintable(QStringList(hosts.values()).join(u' ')));
            hostsSeen.unite(hosts);
        }
        QCOMPARE(hostsSeen.size(), 12);
        // GNU parallel counts the shards that ended 1, some invalid; a pod
        // ends 0 then, for the job would run it again otherwise.
        QCOMPARE(shardsEndingOne, runner == QStringLiteral("kubernetes") ? 0 : shardsWithInvalid);
        QVERIFY(shardsWithInvalid > 0);

        const Finished merged =
            CheckProcess().run(merge + QStringList{"--valid", dir.filePath("v2"), "--invalid", dir.filePath("i2"), list});
        QCOMPARE(merged.exitCode, whole.exitCode);
        QCOMPARE(merged.out, whole.out);
        QCOMPARE(readBytes(dir.filePath("v2")), readBytes(dir.filePath("v1")));
        QCOMPARE(readBytes(dir.filePath("i2")), readBytes(dir.filePath("i1")));

        if (runner == QStringLiteral("kubernetes")) {
            // The merge job's script writes the same beside the list.
            QProcess mergeJob;
            mergeJob.setProcessEnvironment(shards.processEnvironment());
            mergeJob.start(QStringLiteral("sh"), {KubernetesFolder + QStringLiteral("/merge-shards.sh")});
            QVERIFY(mergeJob.waitForFinished(60000));
            QCOMPARE(mergeJob.exitCode(), 0);
            QCOMPARE(readBytes(dir.filePath("report.txt")), whole.out);
            QCOMPARE(readBytes(dir.filePath("valid.txt")), readBytes(dir.filePath("v1")));
            QCOMPARE(readBytes(dir.filePath("invalid.txt")), readBytes(dir.filePath("i1")));
        }
    }

    // The jobs' scripts refuse a shard count or index out of range before
    // anything is asked: a pod would check a shard not its own, the merge the
    // whole list afresh, and either would end 0.
    void shardScriptsRefuseBadInput_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("value");  // null: unset
        for (const char* value : {"0", "", "abc", "-1", "100001", "1x"})
            QTest::addRow("SHARDS=%s", value) << "SHARDS" << value;
        QTest::newRow("JOB_COMPLETION_INDEX unset") << "JOB_COMPLETION_INDEX" << QString();
        QTest::newRow("LIST unset") << "LIST" << QString();
        // "4" is past the last of the four shards, 3.
        for (const char* value : {"", "-1", "4", "abc"})
            QTest::addRow("JOB_COMPLETION_INDEX=%s", value) << "JOB_COMPLETION_INDEX" << value;
    }
    void shardScriptsRefuseBadInput()
    {
        QFETCH(QString, variable);
        QFETCH(QString, value);
        LoopbackServer server;
        server.route("/ok", LoopbackServer::answer("HTTP/1.1 200 OK"));
        TestFolder dir;
        QProcessEnvironment environment = podEnvironment(dir.file("list.txt", linesOf({server.url("/ok")})));
        if (value.isNull())
            environment.remove(variable);
        else
            environment.insert(variable, value);
        // The merge reads no index.
        QStringList scripts{"check-shard.sh"};
        if (variable != QStringLiteral("JOB_COMPLETION_INDEX"))
            scripts << "merge-shards.sh";
        for (const QString& script : scripts) {
            QProcess run;
            run.setProcessEnvironment(environment);
            run.start(QStringLiteral("sh"), {KubernetesFolder + u'/' + script});
            QVERIFY(run.waitForFinished(60000));
            const QByteArray err = run.readAllStandardError();
            QVERIFY2(run.exitCode() == 2 && err.contains(variable.toUtf8()), qPrintable(script + u' ' + err));
        }
        QVERIFY(server.requests().isEmpty());
        QCOMPARE(filesIn(dir), QStringList{"list.txt"});
    }
};

QTEST_MAIN(CheckShardsTest)
#include "tst_check_shards.moc"
