#include <QApplication>

#include "mainwindow.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    int result = 0;
    {
        // The window goes before the application object does.
        MainWindow window;
        window.show();
        result = app.exec();
    }
    return result;
}
