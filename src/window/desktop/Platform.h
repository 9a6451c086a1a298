#pragma once

#include "window/desktop/CommonDialog.h"
#include "window/desktop/Dialogs.h"
#include "window/desktop/Environment.h"
#include "window/desktop/InternetLayer.h"
#include "window/desktop/SettingsStore.h"
#include "window/desktop/Shell.h"
#include "window/desktop/SkinFramework.h"
#include "engine/transfer/TransferControl.h"

#include <functional>
#include <memory>

// What the program asks of the desktop, in one place: the real desktop gives
// DesktopPlatform, the tests give TestPlatform with stand-ins that record what
// was asked and answer from a script.
struct Platform {
    Dialogs& dialogs;
    CommonDialog& commonDialog;
    Shell& shell;
    SettingsStore& settings;
    ProgramFolder& programFolder;
    RandomSource& random;
    ProgramExit& exit;
    InternetLayer& internet;
    // Makes the HTTP transfer control that the main window owns.
    std::function<std::unique_ptr<TransferControl>()> makeTransferControl;
    // Makes the window's theming layer.
    std::function<std::unique_ptr<SkinFramework>()> makeSkinFramework = {};
};
