#include "app/mainappwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Where QSettings keeps what the window remembers (the map shown or not).
    QApplication::setOrganizationName(QStringLiteral("Harvix"));
    QApplication::setApplicationName(QStringLiteral("Harvix"));
    MainAppWindow window;
    window.show();
    return application.exec();
}
