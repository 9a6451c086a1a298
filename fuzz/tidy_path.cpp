// TidyPath with either separator, against the rules read another way: the
// characters between separators stay as they are, a run of n separators
// inside the path becomes ceil(n / 2) (pairs collapse from the left, without
// overlap), and a run at the start becomes exactly two.
#include "Require.h"
#include "window/app/Main.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {
// The path as alternating pieces: runs of separators and runs of the rest.
struct Run {
    bool separators;
    qsizetype length;
    QStringView text;
};

QList<Run> runsOf(QStringView path, QChar separator)
{
    QList<Run> runs;
    for (qsizetype at = 0; at < path.size();) {
        const bool separators = path[at] == separator;
        qsizetype end = at;
        while (end < path.size() && (path[end] == separator) == separators)
            ++end;
        runs.append({separators, end - at, path.sliced(at, end - at)});
        at = end;
    }
    return runs;
}

QString expectedTidy(QStringView path, QChar separator)
{
    QString tidied;
    const QList<Run> runs = runsOf(path, separator);
    for (qsizetype i = 0; i < runs.size(); ++i) {
        const Run& run = runs[i];
        if (!run.separators)
            tidied += run.text;
        else
            tidied += QString(i == 0 ? 2 : (run.length + 1) / 2, separator);
    }
    return tidied;
}

// A run of more than two separators after the start leaves two or more, which
// a second tidy collapses again; any other path is tidy after one pass.
bool tidyAfterOnePass(QStringView path, QChar separator)
{
    const QList<Run> runs = runsOf(path, separator);
    for (qsizetype i = 1; i < runs.size(); ++i) {
        if (runs[i].separators && runs[i].length > 2)
            return false;
    }
    return true;
}

QString swapped(QString path)
{
    for (QChar& c : path) {
        if (c == u'\\')
            c = u'/';
        else if (c == u'/')
            c = u'\\';
    }
    return path;
}

void check(const QString& path, QChar separator)
{
    const QString tidied = Main::TidyPath(path, separator);
    require(tidied == expectedTidy(path, separator));
    if (path.startsWith(separator)) {
        require(tidied.startsWith(QString(2, separator)));
        require(tidied.size() == 2 || tidied[2] != separator);
    }
    if (tidyAfterOnePass(path, separator))
        require(Main::TidyPath(tidied, separator) == tidied);
    else
        require(Main::TidyPath(tidied, separator).size() < tidied.size());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    check(path, QChar(u'\\'));
    check(path, QChar(u'/'));
    // The two separators are the same rule: exchanging them in the path
    // exchanges them in the result.
    require(Main::TidyPath(swapped(path), QChar(u'/')) == swapped(Main::TidyPath(path, QChar(u'\\'))));
    return 0;
}
