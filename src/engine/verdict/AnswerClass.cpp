#include "engine/verdict/AnswerClass.h"

#include "engine/verdict/Verdict.h"

#include <algorithm>
#include <iterator>

namespace {
// 999 is what some large sites answer a client they take for a robot.
constexpr int BlockedStatuses[] = {401, 403, 429, 999};

constexpr QStringView Names[] = {u"ok",           u"moved",        u"redirect",    u"blocked",      u"not-found",
                                 u"client-error", u"server-error", u"unreachable", u"bad-response", u"bad-address",
                                 u"no-fragment",  u"skipped",      u"excluded"};
static_assert(std::size(Names) == std::size(AnswerClasses::All));
}  // namespace

AnswerClass AnswerClasses::ofStatus(int statusCode, bool challenged)
{
    if (challenged
        || std::find(std::begin(BlockedStatuses), std::end(BlockedStatuses), statusCode) != std::end(BlockedStatuses))
        return AnswerClass::Blocked;
    if (statusCode == 404 || statusCode == 410)
        return AnswerClass::NotFound;
    switch (statusCode / 100) {
    case 2:
        return AnswerClass::Ok;
    case 3:
        return AnswerClass::Redirect;
    case 4:
        return AnswerClass::ClientError;
    case 5:
        return AnswerClass::ServerError;
    default:
        return AnswerClass::BadResponse;
    }
}

bool AnswerClasses::isChallenge(QByteArrayView headers)
{
    const QList<QByteArray> marks = HeaderBlock::values(headers, "cf-mitigated");
    return std::any_of(marks.begin(), marks.end(),
                       [](const QByteArray& mark) { return mark.compare("challenge", Qt::CaseInsensitive) == 0; });
}

QStringView AnswerClasses::nameOf(AnswerClass answerClass) { return Names[static_cast<size_t>(answerClass)]; }

std::optional<AnswerClass> AnswerClasses::named(QStringView name)
{
    for (size_t i = 0; i < std::size(Names); ++i) {
        if (Names[i] == name)
            return All[i];
    }
    return std::nullopt;
}
