#pragma once

#include "cli/CheckQueue.h"
#include "cli/Journal.h"

#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ListInput;

// The report and result files of a whole list from the journals of the runs
// that shared it out (--shard), in list order, without a request.
namespace Merge {
// Hands every address of the lists, with the outcome a journal holds for its
// place in the list, to the callbacks, in list order; `listStarts` is told
// the position of each list's first line. Why it stopped, if it did: a list
// that could not be read, or an address no journal holds.
std::optional<QString> run(std::deque<ListInput>& inputs, std::vector<std::unique_ptr<Journal>>& journals,
                           const CheckQueue::Callbacks& callbacks, const std::function<bool(int)>& awaitInput,
                           const std::function<void(qint64 position, qsizetype list)>& listStarts = {});
}
