#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

#include "app/instanceguard.h"
#include "app/interruptedwrites.h"
#include "app/mainwindow.h"
#include "app/servicenotifier.h"
#include "app/statusfile.h"
#include "app/stopsignals.h"
#include "ui/captionfit.h"

int main(int argc, char* argv[])
{
    // From the first line: a stop asked for at any moment of the start waits
    // until the event loop runs and then closes the program as any stop does.
    StopSignals::catchFromNow();

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

    // One Corvelta per machine and per folder: a second copy would take the
    // clocks' answers from the first, or share its files. It is refused
    // before it reads or writes anything but the folder's lock file.
    InstanceGuard guard;
    switch (guard.take()) {
    case InstanceGuard::Outcome::Taken:
        break;
    case InstanceGuard::Outcome::Refused:
        std::fprintf(stderr,
                     "Corvelta is already running (process %d); this copy sends nothing to the clocks and closes.\n",
                     int(guard.holderProcess()));
        return 1;
    case InstanceGuard::Outcome::NotAnswering:
        std::fprintf(stderr,
                     "Corvelta is already running (process %d) but does not answer; this copy sends nothing to the "
                     "clocks and closes.\n",
                     int(guard.holderProcess()));
        return 1;
    }

    QApplication app(argc, argv);
    // Before the window: a stop asked for while it starts is handled once
    // the event loop runs.
    StopSignals stopSignals;
    // Readiness, watchdog pings, the stop and a line of state for systemd,
    // when it started Corvelta.
    ServiceNotifier notifier;
    // What writes cut short by an earlier end left beside the settings file
    // and the status file: no other copy of this folder writes them now.
    const int leftovers = InterruptedWrites::remove(QCoreApplication::applicationDirPath(), "crv_settings.ini") +
                          InterruptedWrites::remove(QDir::currentPath(), StatusFile::FileName);
    // The largest font size, not above the platform's default, at which
    // every caption of both forms fits its fixed rectangle.
    CaptionFit::fitApplicationFont();
    int result = 0;
    {
        // The window goes before the application object does.
        MainWindow window;
        window.logLine(QString("Temporary files of interrupted writes deleted: %1").arg(leftovers));

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
        QObject::connect(&stopSignals, &StopSignals::stopRequested, &window, [&](int signalNumber) {
            notifier.stopping();
            window.logLine(QString("Stop requested by %1").arg(StopSignals::name(signalNumber)));
            window.close();
            QCoreApplication::quit();
        });
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &notifier, &ServiceNotifier::stopping);
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, &MainWindow::shutDown);
        QObject::connect(&window, &MainWindow::serviceStatusChanged, &notifier, &ServiceNotifier::setStatus);

        window.show();
        // Ready when the event loop runs: the settings are read and the window is shown.
        QTimer::singleShot(0, &notifier, &ServiceNotifier::ready);
        result = app.exec();
    }
    return result;
}
