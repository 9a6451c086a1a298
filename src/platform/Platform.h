#pragma once

#include "platform/CommonDialog.h"
#include "platform/Dialogs.h"
#include "platform/Environment.h"
#include "platform/InternetLayer.h"
#include "platform/SettingsStore.h"
#include "platform/Shell.h"
#include "platform/SkinFramework.h"
#include "platform/TransferControl.h"

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
