// The addresses a run asked: one entry under every spelling, what waits for
// its outcome handed back once it comes, and the outcomes kept in bounded
// memory, the oldest forgotten first.
#include "cli/AskedAddresses.h"

#include <QTest>

namespace {
// "3,5" as positions; "-" as none.
std::vector<qint64> positionsOf(const QString& text)
{
    std::vector<qint64> positions;
    if (text != u"-") {
        for (const QString& each : text.split(u','))
            positions.push_back(each.toLongLong());
    }
    return positions;
}
}  // namespace

class AskedAddressesTest : public QObject {
    Q_OBJECT
private slots:
    // Each step:
    //   ask <address> <line>        a new entry, asked by that line
    //   wait <address> <line>       a later line of an address being asked
    //   hop <address> <line>        a line whose redirects led there
    //   answer <address> <status> <lines> <hops> [big]
    //                               its outcome, and what waited for it
    //   forget <address> <lines> <hops>
    //   known <address> <status>|-  the outcome remembered, if any
    void steps_data()
    {
        QTest::addColumn<int>("mostAnswers");
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("other spellings take the outcome")
            << 100 << QStringList{"ask http://Example.COM:80/a 0",    "wait http://example.com/a 1",
                                  "wait http://EXAMPLE.com/a#part 2", "answer http://example.com/a 200 1,2 -",
                                  "known HTTP://EXAMPLE.COM/a 200",   "known http://example.com/A -"};
        QTest::newRow("lines and hops that waited, handed back once")
            << 100 << QStringList{"ask http://a/x 0",          "wait http://a/x 3",         "hop http://a/x 1",
                                  "answer http://a/x 404 3 1", "answer http://a/x 500 - -", "known http://a/x 404"};
        QTest::newRow("the oldest forgotten past the count")
            << 2 << QStringList{"ask http://a/1 0",          "answer http://a/1 200 - -", "ask http://a/2 1",
                                "answer http://a/2 201 - -", "ask http://a/3 2",          "answer http://a/3 202 - -",
                                "known http://a/1 -",        "known http://a/2 201",      "known http://a/3 202",
                                "ask http://a/1 3"};
        QTest::newRow("one too large to keep serves those waiting")
            << 100
            << QStringList{"ask http://a/x 0", "wait http://a/x 1", "answer http://a/x 200 1 - big",
                           "known http://a/x -", "ask http://a/x 2"};
        QTest::newRow("forgotten, with what waited")
            << 100 << QStringList{"ask http://a/x 0",      "wait http://a/x 2",  "hop http://a/x 1",
                                  "forget http://a/x 2 1", "known http://a/x -", "ask http://a/x 2"};
        QTest::newRow("an outcome recorded for an address never asked")
            << 100 << QStringList{"answer http://a/r 299 - -", "known http://a/r 299"};
    }
    void steps()
    {
        QFETCH(int, mostAnswers);
        QFETCH(QStringList, steps);
        // Room for a few outcomes of ordinary size, none of a long status line.
        AskedAddresses asked(static_cast<size_t>(mostAnswers), 64 * 1000);
        for (const QString& step : steps) {
            const QStringList words = step.split(u' ');
            const QByteArray key = AskedAddresses::keyOf(words[1].toUtf8());
            const QString& what = words[0];
            if (what == u"ask") {
                const auto [entry, isNew] = asked.ask(key, words[2].toLongLong());
                QVERIFY2(isNew, qPrintable(step));
                QCOMPARE(entry.line, words[2].toLongLong());
            } else if (what == u"wait" || what == u"hop") {
                const auto [entry, isNew] = asked.ask(key, words[2].toLongLong());
                QVERIFY2(!isNew && !entry.outcome, qPrintable(step));
                (what == u"wait" ? entry.waiting : entry.hopsWaiting).push_back(words[2].toLongLong());
            } else if (what == u"answer") {
                Outcome outcome;
                outcome.statusCode = words[2].toInt();
                if (words.size() > 5)
                    outcome.statusLine = QString(500, u'x');
                const AskedAddresses::Waited waited = asked.remember(key, outcome);
                asked.forgetOldestPastBounds();
                QCOMPARE(waited.lines, positionsOf(words[3]));
                QCOMPARE(waited.hops, positionsOf(words[4]));
            } else if (what == u"forget") {
                const AskedAddresses::Waited waited = asked.forget(key);
                QCOMPARE(waited.lines, positionsOf(words[2]));
                QCOMPARE(waited.hops, positionsOf(words[3]));
            } else if (what == u"known") {
                const AskedAddresses::Asked* entry = asked.find(key);
                const bool known = entry && entry->outcome;
                QVERIFY2(known == (words[2] != u"-"), qPrintable(step));
                if (known)
                    QCOMPARE(entry->outcome->statusCode, words[2].toInt());
            } else {
                QFAIL(qPrintable("no such step: " + step));
            }
        }
    }
};

QTEST_GUILESS_MAIN(AskedAddressesTest)
#include "tst_asked_addresses.moc"
