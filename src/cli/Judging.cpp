#include "cli/Judging.h"

#include <algorithm>

namespace {
// A status code as written: three digits, no sign or blank, from 100 to 999
// (any three digits HTTP allows; 999 is what some sites answer robots).
std::optional<int> codeOf(QStringView text)
{
    if (text.size() != 3 || !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    const int code = text.toInt();
    if (code < StatusRanges::Least || code > StatusRanges::Most)
        return std::nullopt;
    return code;
}

// Each comma-separated part of every value, trimmed; an empty one kept, to
// be refused.
QStringList partsOf(const QStringList& texts)
{
    QStringList parts;
    for (const QString& text : texts) {
        for (const QString& part : text.split(u','))
            parts << part.trimmed();
    }
    return parts;
}
}  // namespace

std::variant<StatusRanges, QString> StatusRanges::parse(const QStringList& texts)
{
    const auto usage = [](const QString& part) {
        return QStringLiteral("--accept takes status codes from %1 to %2 and ranges of them, comma-separated, "
                              "such as 200-299,304,429 or 200..299: \"%3\" is none")
            .arg(Least)
            .arg(Most)
            .arg(part);
    };
    StatusRanges ranges;
    for (const QString& part : partsOf(texts)) {
        // 200-299, or lychee's 200..299.
        const qsizetype dots = part.indexOf(QStringLiteral(".."));
        const qsizetype dash = dots >= 0 ? dots : part.indexOf(u'-');
        const qsizetype after = dots >= 0 ? dash + 2 : dash + 1;
        const std::optional<int> first = codeOf(dash < 0 ? QStringView(part) : QStringView(part).first(dash));
        const std::optional<int> last = dash < 0 ? first : codeOf(QStringView(part).sliced(after));
        if (!first || !last)
            return usage(part);
        if (*first > *last)
            return QStringLiteral("--accept: the range %1 runs backwards; write %2-%3").arg(part).arg(*last).arg(*first);
        const std::pair<int, int> range{*first, *last};
        if (std::find(ranges.m_ranges.begin(), ranges.m_ranges.end(), range) == ranges.m_ranges.end())
            ranges.m_ranges.push_back(range);
    }
    if (ranges.m_ranges.empty())
        return usage(QString());
    return ranges;
}

bool StatusRanges::contains(int statusCode) const
{
    return std::any_of(m_ranges.begin(), m_ranges.end(),
                       [&](const auto& range) { return statusCode >= range.first && statusCode <= range.second; });
}

QString StatusRanges::text() const
{
    QStringList parts;
    for (const auto& [first, last] : m_ranges)
        parts << (first == last ? QString::number(first) : QStringLiteral("%1-%2").arg(first).arg(last));
    return parts.join(u',');
}

std::variant<ClassSet, QString> ClassSets::parse(const QStringList& texts)
{
    ClassSet set;
    for (const QString& part : partsOf(texts)) {
        const std::optional<AnswerClass> answerClass = AnswerClasses::named(part);
        if (!answerClass) {
            QStringList known;
            for (const AnswerClass each : AnswerClasses::All)
                known << AnswerClasses::nameOf(each).toString();
            return QStringLiteral("--fail-on takes answer classes, comma-separated, from %1: \"%2\" is none")
                .arg(known.join(QStringLiteral(", ")), part);
        }
        set.set(static_cast<size_t>(*answerClass));
    }
    return set;
}

bool ClassSets::holds(const ClassSet& set, AnswerClass answerClass)
{
    return set.test(static_cast<size_t>(answerClass));
}

QString ClassSets::text(const ClassSet& set)
{
    QStringList names;
    for (const AnswerClass answerClass : AnswerClasses::All) {
        if (holds(set, answerClass))
            names << AnswerClasses::nameOf(answerClass).toString();
    }
    return names.join(QStringLiteral(", "));
}

Outcome Judging::reported(const Outcome& outcome) const
{
    if (!accepted || AnswerClasses::leftUnasked(outcome.answerClass) || outcome.statusLine.isEmpty())
        return outcome;
    Outcome judged = outcome;
    judged.valid = outcome.statusCode >= 0 && accepted->contains(outcome.statusCode);
    return judged;
}

bool Judging::fails(const Outcome& reported) const
{
    if (failing)
        return ClassSets::holds(*failing, reported.answerClass);
    return !reported.valid && !AnswerClasses::leftUnasked(reported.answerClass);
}

QString Judging::note() const
{
    QString note;
    if (accepted)
        note += QStringLiteral("; accepted: ") + accepted->text();
    if (failing)
        note += QStringLiteral("; failing: ") + ClassSets::text(*failing);
    return note;
}
