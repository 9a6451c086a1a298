// A million addresses: loading a file into the URL list against a plain
// read-and-split of the same file, saving the million items against a plain
// write of the same lines, and the peak memory of the load against a budget
// of twice the file's size plus 48 bytes per item.
//
//   bench_lists [--lines N]
//
// Many files at once: the same load of 300 files of 1 MB chosen together
// against one file of 300 MB holding the same lines.
//
//   bench_lists --many-files [--files N]
//
// Times are the best of a few runs, after one read that puts the file in the
// page cache. Peak memory is measured in child runs of this program, one that
// loads and one that only opens the window, so the load's share is their
// difference.

#include "window/app/Form1.h"
#include "window/lists/ListFiles.h"
#include "TestPlatform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <memory>

namespace {
constexpr int Runs = 3;

struct Window {
    TestPlatform test;
    Form1 form{test.platform()};
};

double bestMilliseconds(const std::function<void()>& prepare, const std::function<void()>& run)
{
    double best = 1e300;
    for (int i = 0; i < Runs; ++i) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        run();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

// Addresses of about 40 bytes each with their CR LF, as a saved list has them.
// `first` numbers the first line, so several files can hold the lines of one.
qint64 writeAddressFile(const QString& path, int lines, int first = 0, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    if (!file.open(mode))
        qFatal("cannot write %s", qPrintable(path));
    quint32 state = 12345 + first;
    for (int i = first; i < first + lines; ++i) {
        state = state * 1664525u + 1013904223u;
        file.write(QStringLiteral("http://www.site%1.com/p/%2.htm\r\n")
                       .arg(i, 7, 10, QChar(u'0'))
                       .arg(state % 10000000u, 7, 10, QChar(u'0'))
                       .toLatin1());
    }
    return file.size();
}

void loadIntoUrlList(Window& window, const QString& path)
{
    window.test.commonDialog.expectChoice({path});
    window.form.PushButton3_Click();
}

qint64 peakKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLongLong();
    }
    return -1;
}

// One child run: the window shown, then the load (or nothing), then the view
// told of the rows and laid out. Prints the peak resident size.
int child(const QString& mode, const QString& path)
{
    Window window;
    window.form.show();
    QApplication::processEvents();
    if (mode == u"load") {
        loadIntoUrlList(window, path);
        window.form.ListView1->model().catchUp();
        window.form.ListView1->doItemsLayout();
        window.form.ListView1->scrollToBottom();
        QApplication::processEvents();
    } else if (mode == u"plain") {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
        std::printf("lines %lld\n", static_cast<long long>(lines.size()));
    }
    std::printf("VmHWM %lld\n", static_cast<long long>(peakKilobytes()));
    return 0;
}

qint64 childPeakKilobytes(const QString& mode, const QString& path)
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), mode, path});
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        qFatal("the %s run failed", qPrintable(mode));
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        if (line.startsWith("VmHWM "))
            return line.mid(6).toLongLong();
    }
    return -1;
}

void report(const char* what, double measured, const char* baselineName, double baseline, const char* unit, const char* target)
{
    std::printf("%-30s %10.1f %-3s  %-28s %10.1f %-3s  ratio %5.2f  (target %s)\n", what, measured, unit, baselineName,
                baseline, unit, measured / baseline, target);
}

// The lines of `files` files of about 1 MB each, loaded as chosen together,
// against the same lines in one file, loaded alone. Each load goes into a
// fresh shown window.
int manyFiles(int files)
{
    constexpr int LinesPerFile = 1000000 / 40;
    QTemporaryDir dir;
    QStringList chosen{dir.path()};
    const QString whole = dir.filePath(QStringLiteral("whole.txt"));
    qint64 bytes = 0;
    for (int i = 0; i < files; ++i) {
        const QString name = QStringLiteral("part%1.txt").arg(i, 3, 10, QChar(u'0'));
        bytes += writeAddressFile(dir.filePath(name), LinesPerFile, i * LinesPerFile);
        writeAddressFile(whole, LinesPerFile, i * LinesPerFile, QIODevice::Append);
        chosen << name;
    }
    std::printf("many files: %d files of %.2f MB against one file of %.1f MB\n", files, bytes / 1e6 / files, bytes / 1e6);

    std::unique_ptr<Window> window;
    auto freshWindow = [&] {
        window.reset();
        window = std::make_unique<Window>();
        window->form.show();
        QApplication::processEvents();
    };
    auto load = [&](const QStringList& returned) {
        window->test.commonDialog.expectReturnedName(returned.join(QChar(u'\0')));
        window->form.PushButton3_Click();
        if (window->form.ListView1->count() != files * LinesPerFile)
            qFatal("loaded %d items", window->form.ListView1->count());
    };
    const double one = bestMilliseconds(freshWindow, [&] { load({whole}); });
    const double many = bestMilliseconds(freshWindow, [&] { load(chosen); });
    window.reset();
    report("load of the files together", many, "load of one file", one, "ms", "<= 1.5");
    return many <= 1.5 * one ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("lines"), QStringLiteral("Lines in the address file."), QStringLiteral("n"),
                      QStringLiteral("1000000")});
    parser.addOption({QStringLiteral("many-files"), QStringLiteral("Many files of 1 MB against one big file.")});
    parser.addOption({QStringLiteral("files"), QStringLiteral("Files in the many-files load."), QStringLiteral("n"),
                      QStringLiteral("300")});
    parser.addOption({QStringLiteral("child"), QStringLiteral("Internal: one memory run."), QStringLiteral("mode")});
    parser.process(application);
    if (parser.isSet(QStringLiteral("child")))
        return child(parser.value(QStringLiteral("child")), parser.positionalArguments().value(0));
    if (parser.isSet(QStringLiteral("many-files")))
        return manyFiles(parser.value(QStringLiteral("files")).toInt());

    const int lines = parser.value(QStringLiteral("lines")).toInt();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("addresses.txt"));
    const qint64 fileBytes = writeAddressFile(path, lines);
    std::printf("lists benchmark: %d lines, %.1f MB address file\n", lines, fileBytes / 1e6);

    qsizetype plainLines = 0;
    auto plainReadAndSplit = [&] {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        const QStringList items = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
        plainLines = items.size();
    };
    plainReadAndSplit();  // the page cache
    const double plainRead = bestMilliseconds([] {}, plainReadAndSplit);

    std::unique_ptr<Window> window;
    const double load = bestMilliseconds(
        [&] {
        window.reset();
        window = std::make_unique<Window>();
        window->form.show();
        QApplication::processEvents();
        },
        [&] { loadIntoUrlList(*window, path); });
    ListView& urlList = *window->form.ListView1;
    if (urlList.count() != lines || plainLines != lines + 1)
        qFatal("loaded %d items, split %lld lines", urlList.count(), static_cast<long long>(plainLines));
    QElapsedTimer catchUp;
    catchUp.start();
    urlList.model().catchUp();
    urlList.doItemsLayout();
    QApplication::processEvents();
    const double catchUpMilliseconds = catchUp.nsecsElapsed() / 1e6;

    const ItemStore& items = urlList.items();
    const QString plainPath = dir.filePath(QStringLiteral("plain.txt"));
    const double plainWrite = bestMilliseconds([] {},
                                               [&] {
        QFile file(plainPath);
        file.open(QIODevice::WriteOnly);
        for (qsizetype i = 0; i < items.size(); ++i) {
            file.write(items.utf8(i).data(), items.utf8(i).size());
            file.write("\r\n", 2);
        }
    });

    ListView& validList = *window->form.ListView2;
    FileToListview1::LoadFileIntoList(validList, path, window->test.dialogs, window->form.fileChannel);
    const QString savedPath = dir.filePath(QStringLiteral("saved.txt"));
    const double save = bestMilliseconds([&] { QFile::remove(savedPath); },
                                         [&] {
        window->test.commonDialog.expectChoice({savedPath});
        window->form.PushButton6_Click();
    });
    QFile original(path), saved(savedPath);
    original.open(QIODevice::ReadOnly);
    saved.open(QIODevice::ReadOnly);
    const bool sameBytes = original.readAll() == saved.readAll();
    window.reset();

    const qint64 baselineKb = childPeakKilobytes(QStringLiteral("baseline"), path);
    const qint64 loadKb = childPeakKilobytes(QStringLiteral("load"), path);
    const qint64 plainKb = childPeakKilobytes(QStringLiteral("plain"), path);
    const double loadMb = (loadKb - baselineKb) / 1024.0;
    const double plainMb = (plainKb - baselineKb) / 1024.0;
    const double budgetMb = (2.0 * fileBytes + 48.0 * lines) / (1024.0 * 1024.0);

    report("load into the URL list", load, "plain read-and-split", plainRead, "ms", "<= 2");
    report("save the valid list", save, "plain write", plainWrite, "ms", "<= 2");
    report("peak memory of the load", loadMb, "2 x file + 48 B/item", budgetMb, "MiB", "<= 1");
    std::printf("the shown view told of %d rows in one batch and laid out: %.1f ms\n"
                "plain read-and-split peak: %.1f MiB; saved file identical to the loaded one: %s\n",
                lines, catchUpMilliseconds, plainMb, sameBytes ? "yes" : "NO");
    return sameBytes && load <= 2 * plainRead && save <= 2 * plainWrite && loadMb <= budgetMb ? 0 : 1;
}
