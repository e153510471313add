#include <QApplication>
#include <cstdio>

#include "app/instanceguard.h"
#include "app/mainwindow.h"
#include "app/stopsignals.h"
#include "ui/captionfit.h"

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

    // One Corvelta per machine: a second copy would take the clocks' answers
    // from the first. It is refused before it reads or writes anything.
    InstanceGuard guard;
    if (!guard.take()) {
        std::fprintf(stderr,
                     "Corvelta is already running (process %d); this copy sends nothing to the clocks and closes.\n",
                     int(guard.holderProcess()));
        return 1;
    }

    QApplication app(argc, argv);
    // Before the window: a stop asked for while it starts is handled once
    // the event loop runs.
    StopSignals stopSignals;
    // The largest font size, not above the platform's default, at which
    // every caption of both forms fits its fixed rectangle.
    CaptionFit::fitApplicationFont();
    int result = 0;
    {
        // The window goes before the application object does.
        MainWindow window;

        // A refused second start brings this window to the front.
        guard.watchForOtherStarts();
        QObject::connect(&guard, &InstanceGuard::anotherStartRefused, &window, [&window] {
            window.logLine("Another start of Corvelta was refused; this window is the one that runs");
            window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
            window.show();
            window.raise();
            window.activateWindow();
        });
        // Every orderly stop goes the way of the window's close.
        QObject::connect(&stopSignals, &StopSignals::stopRequested, &window, [&window](int signalNumber) {
            window.logLine(QString("Stop requested by %1").arg(StopSignals::name(signalNumber)));
            window.close();
            QCoreApplication::quit();
        });
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, &MainWindow::shutDown);

        window.show();
        result = app.exec();
    }
    return result;
}
