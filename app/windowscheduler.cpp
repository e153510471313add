// The update scheduler: once a second, each feed counts the tick if it lies
// inside its daily window and refreshes when its interval has passed, unless
// the service has asked it to keep away until later. A retry of a failed
// refresh that has come due goes out on the same tick, unless the scheduled
// refresh does (app/windowrefreshoutcome.cpp). Each tick first gives up the
// requests that have run for their time limit. The alerts and the forecast
// have schedules of their own, outside the weather window too, and on every
// tick their rows move on with the time.
#include "app/mainwindow.h"

#include "app/timesource.h"
#include "app/updateschedule.h"

void MainWindow::timerTimeout()
{
    // One reading of the clock for the whole tick.
    const QDateTime now = TimeSource::now();
    enforceRequestTimeLimits(now);

    // One feed's turn: whether its window is open at this tick.
    const auto scheduleFeed = [&](const QTime& start, const QTime& stop, bool weekend, qint64& counter, int interval,
                                  RetrySeries& retry, void (MainWindow::*refresh)(Trigger), const char* name) {
        const bool open = UpdateSchedule::insideWindow(now, start, stop, weekend);
        if (open && UpdateSchedule::countTick(counter, interval)) {
            counter = 0;
            if (!retry.suspendedAt(now)) {
                retry.scheduled();  // a scheduled refresh ends a retry series
                (this->*refresh)(Trigger::Schedule);
                logLine(QString("Update %1: %2").arg(name, now.toString("MM/dd/yy hh:mm:ss")));
            }
        }
        return open;
    };
    const bool weatherOpen = scheduleFeed(weatherStart, weatherStop, weatherWeekend, weatherCounter, weatherInterval,
                                          weatherRetry, &MainWindow::refreshWeather, "Weather");
    const bool stockOpen = scheduleFeed(stockStart, stockStop, stockWeekend, stockCounter, stockInterval, stockRetry,
                                        &MainWindow::getStocks, "Stock");

    runDueRetries(now, weatherOpen, stockOpen);

    // The alerts' and the forecast's own schedules, window or not; a
    // refresh of this tick that asked for them has restarted the count.
    alertsSchedule.tick();
    requestAlerts(Trigger::Schedule, true);
    if (++forecastCounter >= ForecastIntervalSeconds)
        requestForecast(Trigger::Schedule);
    updateStandingTexts(now);
    writeStatusFileIfDue(now);
}
