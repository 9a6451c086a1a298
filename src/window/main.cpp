#include "window/app/Form1.h"
#include "window/desktop/DesktopPlatform.h"
#include "engine/OpenFiles.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // A run keeps a connection open for each host it will ask again.
    OpenFiles::raiseLimit();
    QApplication application(argc, argv);
    DesktopPlatform desktop;
    Form1 form(desktop.platform());
    form.start();
    return application.exec();
}
