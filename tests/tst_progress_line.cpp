// The command line's progress line, in process: how it is shortened to fit
// the terminal.
#include "cli/ProgressLine.h"

#include <QTest>

namespace {
// A line with a known total: its counts, pace, classes and slow-downs.
const QStringList Line{"1000 of 5000, 990 valid, 10 invalid", ", 12.5/s, 5:20 left", "; 990 ok", ", 10 not-found",
                       "; 2 hosts asked to slow down"};
}  // namespace

class ProgressLineTest : public QObject {
    Q_OBJECT
private slots:
    // Never as wide as the terminal, the least needed parts left off first.
    void fitted_data()
    {
        QTest::addColumn<QStringList>("parts");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("line");
        QTest::newRow("wide: all of it") << Line << 200 << Line.join(QString());
        QTest::newRow("width unknown: 80") << Line << 0 << Line.mid(0, 4).join(QString());
        QTest::newRow("one short of a part: left off") << Line << 62 << Line.mid(0, 2).join(QString());
        QTest::newRow("a part ending in the last column but one") << Line << 63 << Line.mid(0, 3).join(QString());
        QTest::newRow("40: the counts alone") << Line << 40 << Line.first();
        QTest::newRow("20: the counts cut") << Line << 20 << "1000 of 5000, 990 v";
        QTest::newRow("10") << Line << 10 << "1000 of 5";
        QTest::newRow("a short part after one that does not fit")
            << QStringList{"1 done", ", 0.5/s", "; 1 ok"} << 13 << "1 done";
        QStringList classes{"100 of 900, 50 valid, 50 invalid", ", 3.0/s, 4:26 left"};
        for (const char* name : {"ok", "redirect", "not-found", "gone", "forbidden", "server-error", "timeout",
                                 "unreachable", "refused", "tls-error", "bad-address"})
            classes << (classes.size() == 2 ? QStringLiteral("; 5 ") : QStringLiteral(", 5 ")) + QLatin1String(name);
        QTest::newRow("a long class list, wide") << classes << 200 << classes.join(QString());
        QTest::newRow("a long class list, 120") << classes << 120 << classes.mid(0, 8).join(QString());
    }
    void fitted()
    {
        QFETCH(QStringList, parts);
        QFETCH(int, columns);
        QFETCH(QString, line);
        QCOMPARE(ProgressLine::fitted(parts, columns), line);
    }
};

QTEST_GUILESS_MAIN(ProgressLineTest)
#include "tst_progress_line.moc"
