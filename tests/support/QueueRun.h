// The command line's queue run in process over a list, for the tests that
// hold it to what it hands on.
#pragma once

#include "LoopbackServer.h"
#include "cli/CheckQueue.h"

#include <QTest>

#include <atomic>
#include <map>
#include <thread>

#include <unistd.h>

// An address of the server on a host of its own, as a list holds it.
inline QByteArray on(const LoopbackServer& server, const QString& host, const QString& path)
{
    return server.urlOn(host, path).toUtf8();
}

// One run of a queue over a list, and what it handed on.
struct QueueRun {
    // A time-out far beyond any answer here (the machine may be loaded), and
    // no address asked again unless a test says so.
    CheckQueue::Settings settings = [] {
        CheckQueue::Settings settings;
        settings.jobs = 4;
        settings.request = {std::chrono::seconds(20), false, {}};
        settings.retries = 0;
        return settings;
    }();
    std::map<qint64, Outcome> recorded;  // what an earlier run recorded, by position
    std::function<void(qint64 position)> onJudged;

    QList<qint64> inOrder;  // positions as handed on in list order
    QByteArrayList inOrderAddresses;
    QStringList statusLines;  // of the outcomes handed on
    QList<qint64> judged;     // positions as the answers came
    QList<bool> fresh;
    QList<Outcome> outcomes;  // handed on, in list order
    int slowedDown = 0;
    // Each address comes only once the one before it is judged, as from a
    // pipe fed slowly: the queue sees nothing ahead.
    bool slowly = false;
    std::function<bool()> stopWhen;  // asked between rounds
    bool finishes = true;            // what finish() is to give: false once stopped
    std::atomic<int> judgedCount = 0;

    void run(const QByteArrayList& addresses)
    {
        CheckQueue::Callbacks callbacks;
        callbacks.inOrder = [&](qint64 position, QByteArrayView address, const Outcome& outcome) {
            inOrder << position;
            inOrderAddresses << address.toByteArray();
            statusLines << (outcome.statusLine.isEmpty() ? outcome.reason : outcome.statusLine);
            outcomes << outcome;
        };
        callbacks.slowedDown = [&](const QString&) { ++slowedDown; };
        callbacks.judged = [&](qint64 position, QByteArrayView, const Outcome&, bool isFresh) {
            judged << position;
            ++judgedCount;
            fresh << isFresh;
            if (onJudged)
                onJudged(position);
        };
        callbacks.recorded = [&](qint64 position, QByteArrayView address) -> std::optional<Outcome> {
            const auto found = recorded.find(position);
            if (found == recorded.end() || address != addresses.at(position))
                return std::nullopt;
            return found->second;
        };
        callbacks.stopping = [&] { return stopWhen && stopWhen(); };
        CheckQueue queue(settings, callbacks, -1);
        for (const QByteArray& address : addresses) {
            const int judgedBefore = judgedCount;
            QVERIFY(queue.add(address));
            if (slowly)
                awaitJudged(queue, judgedBefore + 1);
        }
        QCOMPARE(queue.finish(), finishes);
    }

    // Lets the queue work, as while it waits for its input, until this many
    // addresses are judged: a thread makes the input readable then.
    void awaitJudged(CheckQueue& queue, int count)
    {
        int pipe[2];
        QCOMPARE(::pipe(pipe), 0);
        std::thread writer([&] {
            for (int wait = 0; judgedCount < count && wait < 3000; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            [[maybe_unused]] const auto written = ::write(pipe[1], "x", 1);
        });
        QVERIFY(queue.awaitInput(pipe[0]));
        writer.join();
        ::close(pipe[0]);
        ::close(pipe[1]);
    }
};

inline QList<qint64> upTo(qsizetype count)
{
    QList<qint64> positions;
    for (qint64 position = 0; position < count; ++position)
        positions << position;
    return positions;
}
