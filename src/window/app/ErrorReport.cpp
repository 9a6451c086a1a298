#include "window/app/ErrorReport.h"

QString ErrorReport::compose(const QString& location, int step, const QString& description)
{
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") + QString::number(step)
         + QStringLiteral("\r\r") + QStringLiteral("Please email screenshot of this message to ") + SupportAddress;
}

void ShowErrorReport(Dialogs& dialogs, const QString& location, int step, const QString& description)
{
    dialogs.messageBox(ErrorReport::compose(location, step, description), Dialogs::Buttons::Ok, Dialogs::Icon::Warning,
                       ErrorReport::Title);
}
