// The memory of a gumbo parse: blocks aligned and apart, a block freed
// reused for the next of its size, large blocks given back when freed, so
// that a parse holds about what gumbo keeps of it.
#include "engine/extract/GumboArena.h"

#include <QTest>

#include <cstdint>
#include <cstring>
#include <vector>

class TestGumboArena : public QObject {
    Q_OBJECT

private slots:
    void blocksAlignedAndApart_data()
    {
        QTest::addColumn<std::vector<int>>("sizes");
        QTest::newRow("nothing and one byte") << std::vector<int>{0, 1, 0, 1};
        QTest::newRow("around a class's edge") << std::vector<int>{15, 16, 17, 31, 32, 33};
        QTest::newRow("the last small class by 16 and the first by powers") << std::vector<int>{511, 512, 513, 1024, 1025};
        QTest::newRow("around the largest small") << std::vector<int>{32 * 1024 - 1, 32 * 1024, 32 * 1024 + 1};
        QTest::newRow("more than a chunk holds") << std::vector<int>(300, 400);
        QTest::newRow("large between small") << std::vector<int>{24, 200'000, 24, 70'000, 8};
    }

    void blocksAlignedAndApart()
    {
        QFETCH(std::vector<int>, sizes);
        GumboArena arena;
        std::vector<unsigned char*> blocks;
        for (int size : sizes) {
            auto* block = static_cast<unsigned char*>(arena.allocate(size_t(size)));
            QVERIFY(block);
            QCOMPARE(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
            std::memset(block, int(blocks.size() & 0xFF), size_t(size));
            blocks.push_back(block);
        }
        // Each block still holds what was written to it: none overlaps another.
        for (size_t i = 0; i < blocks.size(); ++i) {
            for (int at = 0; at < sizes[i]; ++at) {
                if (blocks[i][at] != (i & 0xFF))
                    QFAIL(qPrintable(QStringLiteral("block %1 overwritten at %2").arg(i).arg(at)));
            }
        }
        for (unsigned char* block : blocks)
            arena.deallocate(block);
        arena.deallocate(nullptr);
    }

    void freedBlockReused_data()
    {
        QTest::addColumn<int>("freed");
        QTest::addColumn<int>("asked");
        QTest::addColumn<bool>("same");
        QTest::newRow("the same size") << 40 << 40 << true;
        QTest::newRow("the same class of 16") << 33 << 48 << true;
        QTest::newRow("the same power of two") << 1500 << 2048 << true;
        QTest::newRow("a larger class") << 40 << 49 << false;
        QTest::newRow("a smaller class") << 2048 << 1024 << false;
    }

    void freedBlockReused()
    {
        QFETCH(int, freed);
        QFETCH(int, asked);
        QFETCH(bool, same);
        GumboArena arena;
        void* before = arena.allocate(size_t(freed));
        arena.allocate(8);  // so that the next block is not simply the one after
        arena.deallocate(before);
        QCOMPARE(arena.allocate(size_t(asked)) == before, same);
    }

    // Gumbo grows a buffer by doubling it and freeing the old one, and makes
    // and drops one per attribute: what the arena holds stays near what is
    // live, not what was ever asked for.
    void heldBoundedByWhatIsLive_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("times");
        QTest::newRow("a small buffer made and dropped") << 24 << 1'000'000;
        QTest::newRow("a middling one") << 3000 << 100'000;
        QTest::newRow("a large one") << 100'000 << 1000;
    }

    void heldBoundedByWhatIsLive()
    {
        QFETCH(int, size);
        QFETCH(int, times);
        GumboArena arena;
        for (int i = 0; i < times; ++i)
            arena.deallocate(arena.allocate(size_t(size)));
        QVERIFY2(arena.peak() <= 256 * 1024, qPrintable(QString::number(arena.peak())));
    }

    void doublingBufferHoldsAboutItsSize()
    {
        GumboArena arena;
        void* buffer = arena.allocate(16);
        for (size_t size = 32; size <= 8 * 1024 * 1024; size *= 2) {
            void* grown = arena.allocate(size);
            arena.deallocate(buffer);
            buffer = grown;
        }
        // The last buffer and its predecessor at once, with what the chunks add.
        QVERIFY2(arena.peak() <= 13 * 1024 * 1024, qPrintable(QString::number(arena.peak())));
    }
};

QTEST_GUILESS_MAIN(TestGumboArena)
#include "tst_gumbo_arena.moc"
