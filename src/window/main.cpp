#include "window/app/Form1.h"
#include "window/desktop/DesktopPlatform.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    DesktopPlatform desktop;
    Form1 form(desktop.platform());
    form.start();
    return application.exec();
}
