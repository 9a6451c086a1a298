// A response's header block through the program's own probe and verdict,
// against the rules read independently: the status line is the text before
// the first CR at or after the 10th character, the status text that line
// less its first 9 characters; a status text that starts with three digits
// followed by its end or a blank is valid unless they are 404, any other is
// valid when longer than 4 characters and free of "404 not found" in any
// case. A block without such a CR shows two reports, for steps 118 and 120.
// The command line judges the same bytes alike.
#include "Require.h"
#include "cli/Outcome.h"
#include "window/app/ErrorReport.h"
#include "window/checking/Valid.h"
#include "engine/Failure.h"

#include <QCoreApplication>
#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {
// Answers every request with the header block under test.
class FixedResponse : public TransferControl {
public:
    QString headers;
    int requests = 0;
    void request(const QString&) override { ++requests; }
    QString responseHeaders() override { return headers; }
};

// Dismisses every box at once and keeps the reports' step numbers.
class CountingDialogs : public Dialogs {
public:
    QList<int> reportedSteps;
    int otherBoxes = 0;

    void setApplicationTitle(const QString&) override {}
    QString applicationTitle() const override { return {}; }
    Answer messageBox(const QString& text, Buttons, Icon, const QString& title) override
    {
        const QString location = QStringLiteral("in Orrinth2021/08/31.Valid.CheckURL at line ");
        const qsizetype at = text.indexOf(location);
        if (title != ErrorReport::Title || at < 0)
            ++otherBoxes;
        else
            reportedSteps.append(text.mid(at + location.size(), 3).toInt());
        return Answer::Ok;
    }
    QString inputBox(const QString&, const QString&, const QString&) override
    {
        ++otherBoxes;
        return {};
    }
};

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

QChar asciiLower(QChar c) { return c >= u'A' && c <= u'Z' ? QChar(c.unicode() + 32) : c; }

bool containsNotFound(const QString& text)
{
    static const QString words = QStringLiteral("404 not found");
    for (qsizetype start = 0; start + words.size() <= text.size(); ++start) {
        qsizetype matched = 0;
        while (matched < words.size() && asciiLower(text[start + matched]) == words[matched])
            ++matched;
        if (matched == words.size())
            return true;
    }
    return false;
}

struct Reading {
    bool hasStatusLine = false;
    QString statusText;
    bool valid = false;
};

Reading read(const QString& headers)
{
    Reading reading;
    for (qsizetype at = 9; at < headers.size(); ++at) {
        if (headers[at] == u'\r') {
            reading.hasStatusLine = true;
            reading.statusText = headers.sliced(9, at - 9);
            break;
        }
    }
    const QString& text = reading.statusText;
    const bool startsWithCode = text.size() >= 3 && isDigit(text[0]) && isDigit(text[1]) && isDigit(text[2])
                             && (text.size() == 3 || text[3] == u' ');
    if (startsWithCode)
        reading.valid = !(text[0] == u'4' && text[1] == u'0' && text[2] == u'4');
    else
        reading.valid = text.size() > 4 && !containsNotFound(text);
    return reading;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The probe lets window events run between its steps.
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The transfer hands the header bytes on one character per byte.
    FixedResponse transfer;
    transfer.headers = QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    CountingDialogs dialogs;
    AlwaysOnlineInternetLayer internet;
    const Valid::Probe probe{dialogs, internet, transfer};
    const Reading expected = read(transfer.headers);

    require(Valid::CheckURL(probe, QStringLiteral("http://127.0.0.1/"), 0, 1) == expected.statusText);
    require(Valid::IsURLValid(probe, QStringLiteral("http://127.0.0.1/"), 0) == expected.valid);
    const Outcome judged = Outcome::ofHeaderBlock(QByteArray(reinterpret_cast<const char*>(data),
                                                             static_cast<qsizetype>(size)));
    require(judged.valid == expected.valid);
    require(judged.statusLine.isEmpty() == !expected.hasStatusLine);
    if (!judged.statusLine.isEmpty())
        require(Valid::StatusTextOf(judged.statusLine) == expected.statusText
                && judged.statusCode == Valid::StatusCodeOf(expected.statusText));

    // One request each; the reports only where the block has no status line,
    // and only from the probe.
    require(transfer.requests == 2);
    require(dialogs.otherBoxes == 0);
    require(dialogs.reportedSteps == (expected.hasStatusLine ? QList<int>{} : QList<int>{118, 120, 118, 120}));
    return 0;
}
