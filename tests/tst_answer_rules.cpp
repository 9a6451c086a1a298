// What the engine makes of an answer beyond its verdict: its class, how long
// a host that asked to slow down is left alone, and whether and when an
// address that got no answer is asked again.
#include "engine/pacing/Backoff.h"
#include "engine/pacing/Retry.h"
#include "engine/verdict/AnswerClass.h"

#include <QTest>

#include <curl/curl.h>

using namespace std::chrono_literals;
using std::chrono::milliseconds;

Q_DECLARE_METATYPE(AnswerClass)
Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(std::optional<milliseconds>)

namespace {
// A fixed "now" for the dates: Wed, 09 Dec 2026 01:30:00 GMT.
constexpr std::time_t Now = 1796779800;
}  // namespace

class AnswerRulesTest : public QObject {
    Q_OBJECT
private slots:
    void classOfAnAnswer_data()
    {
        QTest::addColumn<int>("statusCode");
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<AnswerClass>("answerClass");
        QTest::addColumn<QString>("name");
        const QByteArray plain = "HTTP/1.1 200 OK\r\nServer: x\r\n\r\n";
        QTest::newRow("200") << 200 << plain << AnswerClass::Ok << "ok";
        QTest::newRow("204") << 204 << plain << AnswerClass::Ok << "ok";
        QTest::newRow("301") << 301 << plain << AnswerClass::Redirect << "redirect";
        QTest::newRow("308") << 308 << plain << AnswerClass::Redirect << "redirect";
        QTest::newRow("401") << 401 << plain << AnswerClass::Blocked << "blocked";
        QTest::newRow("403") << 403 << plain << AnswerClass::Blocked << "blocked";
        QTest::newRow("429") << 429 << plain << AnswerClass::Blocked << "blocked";
        QTest::newRow("999, a robot turned away") << 999 << plain << AnswerClass::Blocked << "blocked";
        QTest::newRow("a challenge on a 403")
            << 403 << QByteArray("HTTP/1.1 403 Forbidden\r\ncf-mitigated: challenge\r\n\r\n") << AnswerClass::Blocked
            << "blocked";
        QTest::newRow("a challenge on a 200, any case")
            << 200 << QByteArray("HTTP/1.1 200 OK\r\nCF-Mitigated:  Challenge \r\n\r\n") << AnswerClass::Blocked
            << "blocked";
        QTest::newRow("another mitigation")
            << 200 << QByteArray("HTTP/1.1 200 OK\r\ncf-mitigated: none\r\n\r\n") << AnswerClass::Ok << "ok";
        QTest::newRow("404") << 404 << plain << AnswerClass::NotFound << "not-found";
        QTest::newRow("410") << 410 << plain << AnswerClass::NotFound << "not-found";
        QTest::newRow("400") << 400 << plain << AnswerClass::ClientError << "client-error";
        QTest::newRow("500") << 500 << plain << AnswerClass::ServerError << "server-error";
        QTest::newRow("503") << 503 << plain << AnswerClass::ServerError << "server-error";
        QTest::newRow("no status code") << -1 << plain << AnswerClass::BadResponse << "bad-response";
        QTest::newRow("700") << 700 << plain << AnswerClass::BadResponse << "bad-response";
    }
    void classOfAnAnswer()
    {
        QFETCH(int, statusCode);
        QFETCH(QByteArray, headers);
        QFETCH(AnswerClass, answerClass);
        QFETCH(QString, name);
        QCOMPARE(AnswerClasses::ofStatus(statusCode, AnswerClasses::isChallenge(headers)), answerClass);
        QCOMPARE(AnswerClasses::nameOf(answerClass), name);
        QCOMPARE(AnswerClasses::named(name), answerClass);
    }

    void retryAfterRead_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<std::optional<milliseconds>>("wait");
        QTest::newRow("seconds") << QByteArray("120") << std::optional<milliseconds>(120s);
        QTest::newRow("blanks around") << QByteArray(" 5 ") << std::optional<milliseconds>(5s);
        QTest::newRow("none") << QByteArray("0") << std::optional<milliseconds>(0s);
        QTest::newRow("more than a clock holds")
            << QByteArray("99999999999999999999999")
            << std::optional<milliseconds>(std::chrono::duration_cast<std::chrono::seconds>(milliseconds::max()));
        QTest::newRow("an HTTP date") << QByteArray("Wed, 09 Dec 2026 01:31:30 GMT") << std::optional<milliseconds>(90s);
        QTest::newRow("the obsolete date form")
            << QByteArray("Wednesday, 09-Dec-26 01:30:10 GMT") << std::optional<milliseconds>(10s);
        QTest::newRow("asctime's form") << QByteArray("Wed Dec  9 01:30:05 2026") << std::optional<milliseconds>(5s);
        QTest::newRow("a date past") << QByteArray("Tue, 08 Dec 2026 01:30:00 GMT") << std::optional<milliseconds>(0s);
        QTest::newRow("negative") << QByteArray("-5") << std::optional<milliseconds>();
        QTest::newRow("a fraction") << QByteArray("1.5") << std::optional<milliseconds>();
        QTest::newRow("words") << QByteArray("later") << std::optional<milliseconds>();
        QTest::newRow("empty") << QByteArray() << std::optional<milliseconds>();
    }
    void retryAfterRead()
    {
        QFETCH(QByteArray, value);
        QFETCH(std::optional<milliseconds>, wait);
        QCOMPARE(Backoff::retryAfter(value, Now), wait);
    }

    // pause: the host's before the answer; then what it keeps and the rest
    // it takes now. The user asked for a pause of userPause and no wait
    // longer than longest.
    void paceAfterAnAnswer_data()
    {
        QTest::addColumn<int>("statusCode");
        QTest::addColumn<std::optional<milliseconds>>("retryAfter");
        QTest::addColumn<milliseconds>("pause");
        QTest::addColumn<milliseconds>("userPause");
        QTest::addColumn<milliseconds>("longest");
        QTest::addColumn<milliseconds>("newPause");
        QTest::addColumn<milliseconds>("rest");
        const std::optional<milliseconds> none;
        QTest::newRow("an answer, no pause") << 200 << none << 0ms << 0ms << 60000ms << 0ms << 0ms;
        QTest::newRow("the user's pause") << 404 << none << 0ms << 2000ms << 60000ms << 2000ms << 2000ms;
        QTest::newRow("a 429 without Retry-After") << 429 << none << 0ms << 0ms << 60000ms << 1000ms << 1000ms;
        QTest::newRow("a 503 again: twice as long") << 503 << none << 1000ms << 0ms << 60000ms << 2000ms << 2000ms;
        QTest::newRow("doubling stops at the longest") << 429 << none << 40000ms << 0ms << 60000ms << 60000ms << 60000ms;
        QTest::newRow("Retry-After longer than the pause")
            << 429 << std::optional(10000ms) << 0ms << 0ms << 60000ms << 1000ms << 10000ms;
        QTest::newRow("Retry-After shorter than the pause")
            << 503 << std::optional(1000ms) << 4000ms << 0ms << 60000ms << 8000ms << 8000ms;
        QTest::newRow("Retry-After past the longest")
            << 429 << std::optional(3600000ms) << 0ms << 0ms << 60000ms << 1000ms << 60000ms;
        QTest::newRow("doubling from the user's pause") << 429 << none << 3000ms << 3000ms << 60000ms << 6000ms << 6000ms;
        QTest::newRow("the user's pause beyond the longest")
            << 429 << std::optional(600000ms) << 0ms << 90000ms << 60000ms << 90000ms << 90000ms;
        QTest::newRow("no wait at all allowed") << 429 << std::optional(30000ms) << 0ms << 0ms << 0ms << 0ms << 0ms;
        QTest::newRow("Retry-After on another answer is no request to slow down")
            << 200 << std::optional(30000ms) << 8000ms << 0ms << 60000ms << 0ms << 0ms;
    }
    void paceAfterAnAnswer()
    {
        QFETCH(int, statusCode);
        QFETCH(std::optional<milliseconds>, retryAfter);
        QFETCH(milliseconds, pause);
        QFETCH(milliseconds, userPause);
        QFETCH(milliseconds, longest);
        QFETCH(milliseconds, newPause);
        QFETCH(milliseconds, rest);
        const Backoff::Pace pace = Backoff::paceAfter(statusCode, retryAfter, pause, userPause, longest);
        QCOMPARE(pace.pause.count(), newPause.count());
        QCOMPARE(pace.rest.count(), rest.count());
    }

    void waitBeforeAskingAgain_data()
    {
        QTest::addColumn<int>("attempt");
        QTest::addColumn<milliseconds>("longest");
        QTest::addColumn<milliseconds>("wait");
        QTest::newRow("the second attempt") << 2 << 60000ms << 1000ms;
        QTest::newRow("the third") << 3 << 60000ms << 2000ms;
        QTest::newRow("the fifth") << 5 << 60000ms << 8000ms;
        QTest::newRow("the longest") << 11 << 60000ms << 60000ms;
        QTest::newRow("far beyond") << 200 << 60000ms << 60000ms;
        QTest::newRow("a shorter longest") << 3 << 500ms << 500ms;
    }
    void waitBeforeAskingAgain()
    {
        QFETCH(int, attempt);
        QFETCH(milliseconds, longest);
        QFETCH(milliseconds, wait);
        QCOMPARE(Backoff::beforeAttempt(attempt, longest).count(), wait.count());
    }

    // attempts: the tries that ended without a response, this one included;
    // wait: before the address is asked again, -1 when it is judged on this.
    void askedAgainAfterNoResponse_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<int>("retries");
        QTest::addColumn<bool>("keptConnectionClosed");
        QTest::addColumn<milliseconds>("longest");
        QTest::addColumn<int>("wait");
        QTest::newRow("passing, a retry left") << Fault::Passing << 1 << 1 << false << 60000ms << 1000;
        QTest::newRow("the second retry, twice the wait") << Fault::Passing << 2 << 2 << false << 60000ms << 2000;
        QTest::newRow("the wait within the longest") << Fault::Passing << 5 << 10 << false << 3000ms << 3000;
        QTest::newRow("no retry left") << Fault::Passing << 2 << 1 << false << 60000ms << -1;
        QTest::newRow("no retries asked for") << Fault::Passing << 1 << 0 << false << 60000ms << -1;
        QTest::newRow("a kept connection closed: at once") << Fault::Passing << 1 << 1 << true << 60000ms << 0;
        QTest::newRow("a kept connection closed, no retry left") << Fault::Passing << 2 << 1 << true << 60000ms << -1;
        QTest::newRow("a lasting fault is judged") << Fault::Lasting << 1 << 3 << false << 60000ms << -1;
        QTest::newRow("not an HTTP response is judged") << Fault::BadAnswer << 1 << 3 << false << 60000ms << -1;
    }
    void askedAgainAfterNoResponse()
    {
        QFETCH(Fault, fault);
        QFETCH(int, attempts);
        QFETCH(int, retries);
        QFETCH(bool, keptConnectionClosed);
        QFETCH(milliseconds, longest);
        QFETCH(int, wait);
        const std::optional<milliseconds> again = Retry::afterNoResponse(fault, attempts, retries, keptConnectionClosed,
                                                                         longest);
        QCOMPARE(again.has_value(), wait >= 0);
        if (again)
            QCOMPARE(again->count(), wait);
    }

    // faultsAlone: faults of this machine in a row with nothing else under
    // way; rest: how long nothing starts, -1 when the run stops.
    void restAfterAMachineFault_data()
    {
        QTest::addColumn<int>("faultsAlone");
        QTest::addColumn<int>("rest");
        QTest::newRow("the first") << 1 << 20;
        QTest::newRow("the second, twice as long") << 2 << 40;
        QTest::newRow("the sixth") << 6 << 640;
        QTest::newRow("the seventh, at the longest") << 7 << 1000;
        QTest::newRow("the last before giving up") << 39 << 1000;
        QTest::newRow("giving up") << 40 << -1;
    }
    void restAfterAMachineFault()
    {
        QFETCH(int, faultsAlone);
        QFETCH(int, rest);
        const std::optional<milliseconds> after = Retry::afterMachineFault(faultsAlone);
        QCOMPARE(after.has_value(), rest >= 0);
        if (after)
            QCOMPARE(after->count(), rest);
    }
};

QTEST_GUILESS_MAIN(AnswerRulesTest)
#include "tst_answer_rules.moc"
