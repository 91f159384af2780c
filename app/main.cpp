#include "app/mainappwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    MainAppWindow window;
    window.show();
    return application.exec();
}
