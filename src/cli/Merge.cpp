#include "cli/Merge.h"

#include "cli/ListInput.h"

#include <algorithm>

std::optional<QString> Merge::run(std::deque<ListInput>& inputs, std::vector<std::unique_ptr<Journal>>& journals,
                                  const CheckQueue::Callbacks& callbacks, const std::function<bool(int)>& awaitInput,
                                  const std::function<void(qint64, qsizetype)>& listStarts)
{
    qint64 position = 0;
    std::optional<QString> missing;
    qsizetype list = 0;
    for (ListInput& input : inputs) {
        if (listStarts)
            listStarts(position, list);
        ++list;
        const auto mergeLine = [&](QByteArrayView address) {
            std::optional<Outcome> outcome;
            for (const auto& journal : journals) {
                if ((outcome = journal->recorded(position, address)))
                    break;
            }
            // A shard not run, or run over another list: the lines that are
            // there say nothing of the whole.
            if (!outcome) {
                missing = QStringLiteral("line %1 of the lists (%2) is in none of the journals (a shard not run, "
                                         "or run over another list); merge again once every shard has run")
                              .arg(position + 1)
                              .arg(QString::fromUtf8(address.first(std::min<qsizetype>(address.size(), 200))));
                return false;
            }
            callbacks.judged(position, address, *outcome, false);
            callbacks.inOrder(position, address, *outcome);
            ++position;
            return !callbacks.stopping();
        };
        if (const std::optional<QString> unreadable = input.forEachItem(mergeLine, awaitInput))
            return unreadable;
        if (missing || callbacks.stopping())
            break;
    }
    return missing;
}
