// How live the list stays with a single-line item of 200 MB on screen:
// the longest time the event loop went without a turn while the pointer
// hovers the rows, a row is selected and the list scrolls. Compared, in the
// same run, with the same actions on a list of ordinary addresses only.
#include "window/desktop/ListView.h"

#include "ListViewActions.h"
#include "StallMeter.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {
constexpr qsizetype HugeBytes = 200'000'000;
constexpr int Rows = 20;

qint64 longestStall(const QByteArray& secondItem)
{
    ListView list;
    list.addColumn(QStringLiteral("URL(s)"));
    list.setColumnWidthTwips(1, 7000);
    list.resize(520, 138);
    for (int i = 1; i <= Rows; ++i)
        list.addUtf8(i == 2 ? QByteArrayView(secondItem)
                            : QByteArrayView(QStringLiteral("http://127.0.0.1/%1").arg(i).toUtf8()));
    list.model().catchUp();

    StallMeter meter;
    meter.start();
    list.show();
    QTest::qWait(20);
    hoverSelectAndScroll(list, 5);
    return meter.stop();
}
}  // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QByteArray ordinary = "http://127.0.0.1/2";
    QByteArray huge = "http://a.example/";
    huge.append(HugeBytes - huge.size(), 'x');

    longestStall(ordinary);  // warm-up: fonts, styles and caches
    const qint64 baseline = longestStall(ordinary);
    const qint64 withHuge = longestStall(huge);
    std::printf("list with a %lld MB single-line item on screen: hover, select, scroll, 5 rounds\n",
                static_cast<long long>(HugeBytes / 1'000'000));
    std::printf("  baseline (ordinary addresses only), longest stall: %6lld ms\n", static_cast<long long>(baseline));
    std::printf("  with the 200 MB item in row 2, longest stall:       %6lld ms\n", static_cast<long long>(withHuge));
    std::printf("  ratio huge / baseline: %.2f\n", double(withHuge) / double(std::max<qint64>(baseline, 1)));
    return 0;
}
