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

    const bool weatherOpen = UpdateSchedule::insideWindow(now, weatherStart, weatherStop, weatherWeekend);
    if (weatherOpen && UpdateSchedule::countTick(weatherCounter, weatherInterval)) {
        weatherCounter = 0;
        if (!weatherRetry.suspendedAt(now)) {
            weatherRetry.scheduled();  // a scheduled refresh ends a retry series
            refreshWeather(Trigger::Schedule);
            logLine(QString("Update Weather: %1").arg(now.toString("MM/dd/yy hh:mm:ss")));
        }
    }

    const bool stockOpen = UpdateSchedule::insideWindow(now, stockStart, stockStop, stockWeekend);
    if (stockOpen && UpdateSchedule::countTick(stockCounter, stockInterval)) {
        stockCounter = 0;
        if (!stockRetry.suspendedAt(now)) {
            stockRetry.scheduled();  // a scheduled refresh ends a retry series
            getStocks(Trigger::Schedule);
            logLine(QString("Update Stock: %1").arg(now.toString("MM/dd/yy hh:mm:ss")));
        }
    }

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
