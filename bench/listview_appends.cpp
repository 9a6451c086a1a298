// How the list control copes with the check run's way of filling it: one
// append at a time with the event loop running in between. Compared, in the
// same run, with one batch insert of the same items after the same number of
// event-loop passes, so the figure isolates what single appends cost.
#include "window/desktop/ListView.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
constexpr int Items = 100000;

QString address(int i) { return QStringLiteral("http://www.example%1.org/some/path/%2.html").arg(i % 97).arg(i); }

// A shown list in the window's size, so every insert notice is laid out.
struct ShownList {
    ShownList()
    {
        list.addColumn(QStringLiteral("URL(s)"));
        list.resize(520, 138);
        list.show();
    }
    double finish(const QElapsedTimer& timer)
    {
        list.model().catchUp();
        QCoreApplication::processEvents();
        return timer.nsecsElapsed() / 1e6;
    }
    ListView list;
};

double singleAppends()
{
    ShownList shown;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Items; ++i) {
        shown.list.add(address(i));
        QCoreApplication::processEvents();
    }
    return shown.finish(timer);
}

double batchInsert()
{
    ShownList shown;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Items; ++i) {
        const QString text = address(i);  // the same text work as above
        Q_UNUSED(text);
        QCoreApplication::processEvents();
    }
    for (int i = 0; i < Items; ++i)
        shown.list.add(address(i));
    return shown.finish(timer);
}
}  // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    batchInsert();  // warm-up: fonts, styles and caches
    std::vector<double> batches, singles;
    for (int round = 0; round < 3; ++round) {
        batches.push_back(batchInsert());
        singles.push_back(singleAppends());
    }
    std::sort(batches.begin(), batches.end());
    std::sort(singles.begin(), singles.end());
    const double batch = batches[1];
    const double single = singles[1];
    std::printf("list appends: %d items, median of 3 rounds\n", Items);
    std::printf("  baseline (event-loop passes, then one batch insert): %8.1f ms\n", batch);
    std::printf("  single appends with the event loop between them:    %8.1f ms\n", single);
    std::printf("  ratio single / batch: %.2f (target <= 2.00)\n", single / batch);
    return 0;
}
