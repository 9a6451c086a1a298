#include "window/desktop/DesktopPlatform.h"

#include "engine/transfer/QtLoopTransfer.h"
#include "window/desktop/QtDialogs.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QTime>

#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

class BrowserShell : public Shell {
protected:
    bool openInBrowser(const QUrl& address) override { return QDesktopServices::openUrl(address); }
};

// An installed program's data folder lies where the build's install puts it
// relative to the program's own, so a package and any other prefix agree.
class ExecutableFolder : public ProgramFolder {
public:
    QString path() const override { return QCoreApplication::applicationDirPath(); }
    QString dataFolder() const override
    {
        return QDir::cleanPath(path() + QStringLiteral("/" TESSALY_DATA_FROM_PROGRAM));
    }
};

class ClockSeededRandom : public RandomSource {
public:
    void seedFromClock() override { m_engine.seed(static_cast<unsigned>(QTime::currentTime().msecsSinceStartOfDay())); }
    double nextFraction() override { return std::uniform_real_distribution<double>(0.0, 1.0)(m_engine); }

private:
    std::mt19937 m_engine;
};

class ImmediateExit : public ProgramExit {
public:
    [[noreturn]] void exitNow() override
    {
        std::fflush(nullptr);
        std::_Exit(0);
    }
};

}  // namespace

struct DesktopPlatform::Parts {
    QtDialogs dialogs;
    QtCommonDialog commonDialog;
    BrowserShell shell;
    QtSettingsStore settings;
    ExecutableFolder programFolder;
    ClockSeededRandom random;
    ImmediateExit exit;
    AlwaysOnlineInternetLayer internet;
};

DesktopPlatform::DesktopPlatform() : m_parts(std::make_unique<Parts>())
{
    Parts& p = *m_parts;
    m_platform.reset(new Platform{p.dialogs, p.commonDialog, p.shell, p.settings, p.programFolder, p.random, p.exit,
                                  p.internet, [] { return std::make_unique<QtLoopTransfer>(); }});
    m_platform->makeSkinFramework = [] { return std::make_unique<QtSkinFramework>(); };
}

DesktopPlatform::~DesktopPlatform() = default;
