#include "window/app/ErrorReport.h"
#include "window/app/Form1.h"

#include <QLineEdit>

// Every change of the pause text is stored at once, whatever it holds; the
// check run is what validates it.
void Form1::Text1_Change()
{
    untrapped("Text1_Change", [&] {
        m_platform.settings.write(SettingsApplication, SettingsSection, QStringLiteral("Text1"), Text1->text());
    });
}
