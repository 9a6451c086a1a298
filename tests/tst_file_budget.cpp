// How many requests at once, on how many lanes, and how many idle
// connections the command line's free descriptors hold.
#include "cli/FileBudget.h"
#include "engine/transfer/LaneBatch.h"

#include <QTest>

class FileBudgetTest : public QObject {
    Q_OBJECT
private slots:
    // Requests under way, each with its connection, a lookup's socket pair
    // and the resolver's own files, and the idle connections kept: together
    // never more than the free descriptors, less a few kept spare, and every
    // descriptor left over open to idle connections; none at all when not
    // even one request fits.
    void requestsAtOnceFitTheOpenFiles_data()
    {
        QTest::addColumn<long>("freeFiles");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("atOnce");
        QTest::addColumn<long>("idle");
        QTest::addColumn<int>("mostLanes");
        QTest::addColumn<int>("lanes");
        QTest::newRow("plenty") << 20000L << 64 << 64 << 19672L << 1 << 1;
        QTest::newRow("ulimit -n 1024") << 1010L << 1024 << 167 << 167L << 1 << 1;
        QTest::newRow("ulimit -n 64") << 50L << 64 << 7 << 7L << 1 << 1;
        QTest::newRow("fewer than asked for") << 50L << 4 << 4 << 22L << 1 << 1;
        QTest::newRow("just one") << 14L << 16 << 1 << 1L << 1 << 1;
        QTest::newRow("too few for one") << 13L << 16 << 0 << 0L << 1 << 0;
        // Each lane beyond the first: 6 descriptors, and 2 between them all.
        QTest::newRow("four lanes, plenty") << 20000L << 64 << 64 << 19652L << 4 << 4;
        QTest::newRow("four cores, ulimit -n 1024") << 1009L << 1024 << 163 << 166L << 4 << 4;
        QTest::newRow("a lane kept over a job more") << 395L << 64 << 63 << 64L << 2 << 2;
        QTest::newRow("no more lanes than jobs") << 1000L << 2 << 2 << 974L << 4 << 2;
        QTest::newRow("four cores, ulimit -n 64: three lanes") << 50L << 64 << 4 << 8L << 4 << 3;
        QTest::newRow("two cores, two jobs fit on one lane") << 20L << 64 << 2 << 2L << 2 << 1;
        QTest::newRow("two cores, one job fits") << 18L << 64 << 1 << 5L << 2 << 1;
        QTest::newRow("four cores, too few for one") << 13L << 16 << 0 << 0L << 4 << 0;
        QTest::newRow("no lane count: one") << 50L << 64 << 7 << 7L << 0 << 1;
        QTest::newRow("no free files") << -5L << 16 << 0 << 0L << 2 << 0;
    }
    void requestsAtOnceFitTheOpenFiles()
    {
        QFETCH(long, freeFiles);
        QFETCH(int, jobs);
        QFETCH(int, atOnce);
        QFETCH(long, idle);
        QFETCH(int, mostLanes);
        QFETCH(int, lanes);
        const std::optional<FileBudget> budget = FileBudget::within(freeFiles, jobs, mostLanes);
        QCOMPARE(budget.has_value(), atOnce > 0);
        if (!budget)
            return;
        QCOMPARE(budget->jobs, atOnce);
        QCOMPARE(budget->lanes, lanes);
        QCOMPARE(budget->idleConnections, idle);
        QCOMPARE_LE(FileBudget::SpareFiles + LaneBatch::filesBeyondOneLane(lanes) + atOnce * FileBudget::FilesPerRequest + idle,
                    freeFiles);
    }
};

QTEST_GUILESS_MAIN(FileBudgetTest)
#include "tst_file_budget.moc"
