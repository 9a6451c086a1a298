#pragma once

#include "cli/Outcome.h"
#include "engine/verdict/AnswerClass.h"

#include <QString>
#include <QStringList>

#include <bitset>
#include <iterator>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

// The status codes a user accepts (--accept): "200-299,304,429", single codes
// and inclusive ranges (also written "200..299") from 100 to 999.
class StatusRanges {
public:
    static constexpr int Least = 100;
    static constexpr int Most = 999;

    // Every value given, each comma-separated, as one set; or what is wrong,
    // as --accept's usage message.
    static std::variant<StatusRanges, QString> parse(const QStringList& texts);
    bool contains(int statusCode) const;
    // As given, each range once: "200-299,304".
    QString text() const;

private:
    std::vector<std::pair<int, int>> m_ranges;  // inclusive, in the order given
};

// Answer classes chosen by name (--fail-on).
using ClassSet = std::bitset<std::size(AnswerClasses::All)>;
namespace ClassSets {
// Every value given, each comma-separated; or what is wrong, with the names
// known, as --fail-on's usage message.
std::variant<ClassSet, QString> parse(const QStringList& texts);
bool holds(const ClassSet& set, AnswerClass answerClass);
// The names, in the order summaries give the classes: "not-found, unreachable".
QString text(const ClassSet& set);
}  // namespace ClassSets

// How the command line turns outcomes into its report and its exit status,
// beside the window's verdict. It is applied as each outcome is reported and
// never to what a journal records, so that a run resumed or merged under
// other options reports as a single run under them would.
struct Judging {
    std::optional<StatusRanges> accepted;  // none: the window's rule
    std::optional<ClassSet> failing;       // none: an invalid address fails the run

    // The outcome as reported. Under --accept an answer is valid when its
    // status code is accepted; a skipped link stays skipped, and one that
    // got no status line (no answer, a local file) keeps its verdict.
    Outcome reported(const Outcome& outcome) const;
    // Whether a reported outcome makes the run end with status 1.
    bool fails(const Outcome& reported) const;
    // What the summary adds when either is in force:
    // "; accepted: 200-299; failing: not-found, unreachable". Empty otherwise.
    QString note() const;
};
