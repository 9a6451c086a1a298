#pragma once

#include "window/desktop/ListView.h"

#include <QScrollBar>
#include <QTest>

// What a user does with a shown list, rounds of it: hover the first rows,
// select the third, scroll to the end and back, select the second. The
// event loop runs between the steps, as it would between the user's moves.
inline void hoverSelectAndScroll(ListView& list, int rounds)
{
    for (int round = 0; round < rounds; ++round) {
        for (int row : {0, 1, 2, 1}) {
            QTest::mouseMove(list.viewport(), list.visualRect(list.model().index(row, 0)).center());
            QTest::qWait(10);
        }
        list.select(2);
        QTest::qWait(10);
        list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum());
        QTest::qWait(10);
        list.verticalScrollBar()->setValue(0);
        list.select(1);
        QTest::qWait(10);
    }
}
