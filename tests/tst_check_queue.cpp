// The command line's queue, in process: how many requests it runs at once
// within the files it may open.
#include "cli/CheckQueue.h"

#include <QTest>

class CheckQueueTest : public QObject {
    Q_OBJECT
private slots:
    // Requests under way, each with its connection, a lookup's socket pair
    // and the resolver's own files, and the idle connections kept: together
    // never more than the free descriptors, less a few kept spare; none at
    // all when not even one request fits.
    void requestsAtOnceFitTheOpenFiles_data()
    {
        QTest::addColumn<long>("freeFiles");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("atOnce");
        QTest::addColumn<long>("idle");
        QTest::newRow("plenty") << 20000L << 64 << 64 << 64L;
        QTest::newRow("ulimit -n 1024") << 1010L << 1024 << 167 << 64L;
        QTest::newRow("ulimit -n 64") << 50L << 64 << 7 << 7L;
        QTest::newRow("fewer than asked for") << 50L << 4 << 4 << 7L;
        QTest::newRow("just one") << 14L << 16 << 1 << 1L;
        QTest::newRow("too few for one") << 13L << 16 << 0 << 0L;
    }
    void requestsAtOnceFitTheOpenFiles()
    {
        QFETCH(long, freeFiles);
        QFETCH(int, jobs);
        QFETCH(int, atOnce);
        QFETCH(long, idle);
        const std::optional<CheckQueue::FileBudget> budget = CheckQueue::budgetWithin(freeFiles, jobs);
        QCOMPARE(budget.has_value(), atOnce > 0);
        if (!budget)
            return;
        QCOMPARE(budget->jobs, atOnce);
        QCOMPARE(budget->idleConnections, idle);
        QCOMPARE_LE(CheckQueue::SpareFiles + atOnce * CheckQueue::FilesPerRequest + idle, freeFiles);
    }
};

QTEST_GUILESS_MAIN(CheckQueueTest)
#include "tst_check_queue.moc"
