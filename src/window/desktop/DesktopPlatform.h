#pragma once

#include "window/desktop/Platform.h"

#include <memory>

// The platform of a real desktop session: Qt's boxes and file dialogs, the
// user's browser, the user's configuration folder.
class DesktopPlatform {
public:
    DesktopPlatform();
    ~DesktopPlatform();
    Platform& platform() { return *m_platform; }

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
    std::unique_ptr<Platform> m_platform;
};
