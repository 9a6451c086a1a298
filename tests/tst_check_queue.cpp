// The command line's queue, in process: how many requests it runs at once
// within the files it may open.
#include "cli/CheckQueue.h"

#include <QTest>

class CheckQueueTest : public QObject {
    Q_OBJECT
private slots:
    // Requests under way, each with its connection and a lookup's socket
    // pair, and the idle connections kept: together never more than the free
    // descriptors, less a few kept spare.
    void requestsAtOnceFitTheOpenFiles_data()
    {
        QTest::addColumn<long>("freeFiles");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("atOnce");
        QTest::addColumn<long>("idle");
        QTest::newRow("plenty") << 20000L << 64 << 64 << 64L;
        QTest::newRow("ulimit -n 1024") << 1010L << 1024 << 248 << 64L;
        QTest::newRow("ulimit -n 64") << 50L << 64 << 8 << 8L;
        QTest::newRow("fewer than asked for") << 50L << 4 << 4 << 8L;
        QTest::newRow("hardly any: still one") << 10L << 16 << 1 << 1L;
    }
    void requestsAtOnceFitTheOpenFiles()
    {
        QFETCH(long, freeFiles);
        QFETCH(int, jobs);
        QFETCH(int, atOnce);
        QFETCH(long, idle);
        QCOMPARE(CheckQueue::jobsWithin(freeFiles, jobs), atOnce);
        QCOMPARE(CheckQueue::idleConnectionsWithin(freeFiles), idle);
        if (freeFiles > 2 * CheckQueue::SpareFiles)
            QCOMPARE_LE(CheckQueue::SpareFiles + atOnce * CheckQueue::FilesPerRequest + idle, freeFiles);
    }
};

QTEST_GUILESS_MAIN(CheckQueueTest)
#include "tst_check_queue.moc"
