#include <QApplication>

#include "ui/captionfit.h"
#include "app/mainwindow.h"

int main(int argc, char* argv[])
{
    // High-resolution screens: the form's pixel rectangles scale with the
    // screen (200 % doubles them) and images are drawn at the screen's
    // resolution. Qt 5 reads these only before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#ifdef Q_OS_WIN
    // Windows reports exactly the scale the user chose: 150 % scales by 1.5
    // (rounded to 2 the window would not fit a 1080-line screen at 150 %).
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#else
    // X11 derives the resolution from the screen's size in millimetres
    // (unless Xft.dpi is set), which is rarely exact: whole factors only, so
    // a 100-dpi monitor stays at 1 and a 192-dpi one gets exactly 2.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Round);
#endif

    QApplication app(argc, argv);
    // The largest font size, not above the platform's default, at which
    // every caption of both forms fits its fixed rectangle.
    CaptionFit::fitApplicationFont();
    int result = 0;
    {
        // The window goes before the application object does.
        MainWindow window;
        window.show();
        result = app.exec();
    }
    return result;
}
