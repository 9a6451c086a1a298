#include "engine/verdict/Verdict.h"

#include "engine/Failure.h"

namespace {
// "HTTP/1.1 " before the status text.
constexpr qsizetype StatusTextStart = 9;
}

int Valid::StatusCodeOf(const QString& statusText)
{
    if (statusText.size() < 3 || (statusText.size() > 3 && statusText[3] != u' '))
        return -1;
    for (qsizetype i = 0; i < 3; ++i) {
        if (statusText[i] < u'0' || statusText[i] > u'9')
            return -1;
    }
    return statusText.left(3).toInt();
}

// A status code says what the server meant; only a status text without one
// is judged by its wording.
bool Valid::LooksValid(const QString& statusText) { return StatusCodeOf(statusText) >= 0 || statusText.size() > 4; }

bool Valid::SaysNotFound(const QString& statusText)
{
    const int code = StatusCodeOf(statusText);
    return code >= 0 ? code == 404 : statusText.toLower().contains(QStringLiteral("404 not found"));
}

bool Valid::IsValidStatusText(const QString& statusText) { return LooksValid(statusText) && !SaysNotFound(statusText); }

QString Valid::StatusLineOf(const QString& headers)
{
    const qsizetype lineEnd = headers.indexOf(u'\r', StatusTextStart);
    if (lineEnd < 0)
        throw Failure(QStringLiteral("The response headers hold no status line"));
    return headers.left(lineEnd);
}

QString Valid::StatusTextOf(const QString& statusLine)
{
    if (statusLine.size() < StatusTextStart)
        throw Failure(QStringLiteral("The status line is too short"));
    return statusLine.mid(StatusTextStart);
}

int HeaderBlock::statusCode(QByteArrayView block)
{
    const qsizetype space = block.indexOf(' ');
    if (space < 0 || block.size() < space + 4)
        return 0;
    bool ok = false;
    const int code = block.sliced(space + 1, 3).toInt(&ok);
    return ok ? code : 0;
}

QList<QByteArray> HeaderBlock::values(QByteArrayView block, QByteArrayView name)
{
    QList<QByteArray> found;
    for (QByteArrayView line : QByteArray::fromRawData(block.data(), block.size()).split('\n')) {
        if (line.size() > name.size() && line[name.size()] == ':'
            && qstrnicmp(line.data(), name.size(), name.data(), name.size()) == 0)
            found.append(line.sliced(name.size() + 1).trimmed().toByteArray());
    }
    return found;
}
