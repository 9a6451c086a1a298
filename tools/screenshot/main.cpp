// Photographs the main window as it opens, once with the desktop's own look
// and once with a skin, for the README.
// Run: tessaly_screenshot <skin file> <hand pointer file> <output folder>
// (with QT_QPA_PLATFORM=offscreen on a machine without a display).
#include "window/app/Form1.h"
#include "engine/transfer/QtLoopTransfer.h"
#include "window/desktop/InternetLayer.h"
#include "window/desktop/QtDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {
// A box during start-up means something is wrong with the picture; say what
// and carry on, rather than wait for a click nobody can give.
class ReportingDialogs : public Dialogs {
public:
    int shown = 0;
    void setApplicationTitle(const QString& title) override { m_title = title; }
    QString applicationTitle() const override { return m_title; }
    Answer messageBox(const QString& text, Buttons, Icon, const QString&) override
    {
        ++shown;
        std::fprintf(stderr, "box: %s\n", qPrintable(QtDialogs::displayText(text)));
        return Answer::Ok;
    }
    QString inputBox(const QString& prompt, const QString&, const QString&) override
    {
        ++shown;
        std::fprintf(stderr, "input box: %s\n", qPrintable(prompt));
        return {};
    }

private:
    QString m_title;
};

class FixedFolder : public ProgramFolder {
public:
    explicit FixedFolder(QString path) : m_path(std::move(path)) {}
    QString path() const override { return m_path; }

private:
    QString m_path;
};

class NoBrowser : public Shell {
protected:
    bool openInBrowser(const QUrl&) override { return true; }
};

// Never the one draw in a hundred that opens the home page.
class MiddleDraw : public RandomSource {
public:
    void seedFromClock() override {}
    double nextFraction() override { return 0.5; }
};

class NoExit : public ProgramExit {
public:
    void exitNow() override {}
};

bool photograph(const QString& skinFile, const QString& cursorFile, const QString& picturePath)
{
    QTemporaryDir programFolder;
    QTemporaryDir settingsFolder;
    if (!programFolder.isValid() || !settingsFolder.isValid())
        return false;
    QFile::copy(cursorFile, programFolder.filePath(Form1::CursorFileName));
    if (!skinFile.isEmpty()) {
        QDir(programFolder.path()).mkpath(QStringLiteral("x"));
        if (!QFile::copy(skinFile, programFolder.filePath(QStringLiteral("x/o.cjs")))) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(skinFile));
            return false;
        }
    }

    ReportingDialogs dialogs;
    QtCommonDialog commonDialog;
    NoBrowser shell;
    QtSettingsStore settings(settingsFolder.path());
    FixedFolder folder(programFolder.path());
    MiddleDraw random;
    NoExit exit;
    AlwaysOnlineInternetLayer internet;
    Platform platform{dialogs,  commonDialog, shell,
                      settings, folder,       random,
                      exit,     internet,     [] { return std::make_unique<QtLoopTransfer>(); }};
    platform.makeSkinFramework = [] { return std::make_unique<QtSkinFramework>(); };

    Form1 form(platform);
    form.start();
    // A list in the middle of being checked.
    for (const char* address : {"http://www.example.com/", "https://www.example.org/about/",
                                "http://www.example.net/missing-page.html", "https://example.edu/"})
        form.ListView1->add(QString::fromLatin1(address));
    form.ListView2->add(u"http://www.example.com/");
    form.ListView2->add(u"https://www.example.org/about/");
    form.ListView3->add(u"http://www.example.net/missing-page.html");
    for (ListView* list : {form.ListView1, form.ListView2, form.ListView3})
        list->model().catchUp();
    QCoreApplication::processEvents();
    const bool saved = form.grab().save(picturePath);
    if (!saved)
        std::fprintf(stderr, "cannot write %s\n", qPrintable(picturePath));
    qApp->setStyleSheet({});
    return saved && dialogs.shown == 0;
}
}  // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: tessaly_screenshot <skin file> <hand pointer file> <output folder>\n");
        return 2;
    }
    const QString skin = QString::fromLocal8Bit(argv[1]);
    const QString cursor = QString::fromLocal8Bit(argv[2]);
    const QDir output(QString::fromLocal8Bit(argv[3]));
    output.mkpath(QStringLiteral("."));
    const bool plain = photograph({}, cursor, output.filePath(QStringLiteral("window.png")));
    const bool skinned = photograph(skin, cursor, output.filePath(QStringLiteral("window-skinned.png")));
    return plain && skinned ? 0 : 1;
}
