// Uses the clock port: the window starts the clock link.
//
// Resident memory of the program over an hour of refreshes, run in
// simulated time: the main window against the substitute weather and quote
// services (tools/demo/substitute_services.py, a separate process) with the
// demo settings (both feeds every minute, all day), three substitute clocks
// that acknowledge, and the scheduler driven tick by tick through the time
// seam. After each tick that starts a refresh, events are processed until
// that refresh's reply has been handled. Reports VmRSS from /proc/self/status
// after start, after the first refreshes and after the hour, and the time
// from constructing the window to the window being exposed.
//
// Run from a scratch directory: the log file goes to the working directory,
// the settings file beside this executable.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "app/mainwindow.h"
#include "app/timesource.h"
#include "bench/benchhelpers.h"
#include "clocksim/simulatedclock.h"
#include "support/clockportlock.h"
#include "support/mainwindowprobe.h"

namespace {

const QString SettingsTool = QStringLiteral(CORVELTA_BINARY_DIR "/corvelta-demo-settings");

// A field of /proc/self/status in kB ("VmRSS", "VmHWM").
long statusKb(const char* field)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression line(QStringLiteral("^%1:\\s+(\\d+) kB").arg(field));
    for (const QByteArray& text : file.readAll().split('\n')) {
        const auto match = line.match(QString::fromLatin1(text));
        if (match.hasMatch())
            return match.captured(1).toLong();
    }
    return -1;
}

void fail(const char* message)
{
    std::fprintf(stderr, "bench_refreshhour: %s\n", message);
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ClockPortLock lock;

    // The substitute services, on free loopback ports.
    QProcess services;
    QString weatherUrl, stockUrl;
    const QString servicesError = startSubstituteServices(services, weatherUrl, stockUrl);
    if (!servicesError.isEmpty())
        fail(qPrintable(servicesError));

    // The demo's settings, beside this executable where the window reads them.
    QProcess settingsTool;
    settingsTool.start(SettingsTool, {"--output", QCoreApplication::applicationDirPath() + "/crv_settings.ini",
                                      "--weather-url", weatherUrl, "--stock-url", stockUrl, "--weather-clocks",
                                      "127.0.0.2, 127.0.0.3", "--stock-clocks", "127.0.0.4"});
    if (!settingsTool.waitForFinished(30000) || settingsTool.exitCode() != 0)
        fail("corvelta-demo-settings failed (is it built?)");

    SimulatedClock clock2(QHostAddress("127.0.0.2")), clock3(QHostAddress("127.0.0.3")),
        clock4(QHostAddress("127.0.0.4"));
    if (!clock2.bind() || !clock3.bind() || !clock4.bind())
        fail("cannot bind the simulated clocks");

    // Simulated time: a Wednesday from 10:00, one second per tick.
    QDateTime simulated(QDate(2026, 3, 4), QTime(10, 0));
    TimeSource::setNowFunction([&simulated] { return simulated; });

    const long rssBeforeWindow = statusKb("VmRSS");
    QElapsedTimer startTimer;
    startTimer.start();
    auto window = std::make_unique<MainWindow>();
    const double constructedMs = startTimer.nsecsElapsed() / 1e6;
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get(), 10000))
        fail("the window was never exposed");
    const double exposedMs = startTimer.nsecsElapsed() / 1e6;
    MainWindowProbe::updateTimer(*window)->stop();  // the bench drives the ticks

    int refreshes = 0, handled = 0, weatherUpdates = 0, stockUpdates = 0;
    QObject::connect(window.get(), &MainWindow::OnSendToLogfile, [&](const QString& line) {
        if (line.startsWith("Update Weather: "))
            ++weatherUpdates, ++refreshes;
        else if (line.startsWith("Update Stock: "))
            ++stockUpdates, ++refreshes;
    });
    // Connected after the window's own slot, so it runs once a reply is handled.
    QObject::connect(MainWindowProbe::networkManager(*window), &QNetworkAccessManager::finished,
                     [&](QNetworkReply*) { ++handled; });

    QCoreApplication::processEvents();
    const long rssAfterStart = statusKb("VmRSS");

    auto runTicks = [&](int first, int count) {
        for (int i = first; i < first + count; ++i) {
            simulated = QDateTime(QDate(2026, 3, 4), QTime(10, 0)).addSecs(i);
            MainWindowProbe::tick(*window);
            QElapsedTimer t;
            t.start();
            while (handled < refreshes && t.elapsed() < 30000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            if (handled < refreshes)
                fail("a refresh's reply never came");
        }
    };

    QElapsedTimer hour;
    hour.start();
    runTicks(0, 60);  // the first refresh of each feed and its datagrams
    QTest::qWait(1000);
    const long rssAfterFirst = statusKb("VmRSS");
    runTicks(60, 3600 - 60);
    const double hourMs = hour.nsecsElapsed() / 1e6;
    QTest::qWait(1000);  // the last datagrams are acknowledged
    const long rssAfterHour = statusKb("VmRSS");
    const long hwm = statusKb("VmHWM");

    const int datagrams = clock2.arrivals.size() + clock3.arrivals.size() + clock4.arrivals.size();
    std::printf("#### Resident memory over one simulated hour (in-process window, demo settings)\n\n");
    std::printf("| moment | VmRSS (KB) |\n|---|---:|\n");
    std::printf("| before the window | %ld |\n", rssBeforeWindow);
    std::printf("| window shown (after start) | %ld |\n", rssAfterStart);
    std::printf("| after the first refresh of each feed | %ld |\n", rssAfterFirst);
    std::printf("| after 3600 ticks (one simulated hour) | %ld |\n", rssAfterHour);
    std::printf("| peak (VmHWM) | %ld |\n\n", hwm);
    std::printf(
        "Growth from the first refreshes to the end of the hour: %+ld KB. Refreshes: %d weather, %d stock; "
        "replies handled %d; datagrams received by the three clocks %d. The hour took %.1f s of real time.\n\n",
        rssAfterHour - rssAfterFirst, weatherUpdates, stockUpdates, handled, datagrams, hourMs / 1000.0);
    std::printf(
        "In-process start: MainWindow constructed in %.1f ms, window exposed (offscreen) %.1f ms after "
        "construction began.\n\n",
        constructedMs, exposedMs);

    window->close();
    window.reset();
    TimeSource::setNowFunction({});
    services.terminate();
    services.waitForFinished(10000);
    return 0;
}
