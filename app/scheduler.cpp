// The update scheduler: once a second, each feed counts the tick if it lies
// inside its daily window and refreshes when its interval has passed. A retry
// of a failed refresh that has come due goes out on the same tick, unless the
// scheduled refresh does (app/refreshoutcome.cpp).
#include "app/mainwindow.h"

#include "app/timesource.h"
#include "app/updateschedule.h"

void MainWindow::timerTimeout()
{
    // One reading of the clock for the whole tick.
    const QDateTime now = TimeSource::now();

    const bool weatherOpen = UpdateSchedule::insideWindow(now, weatherStart, weatherStop, weatherWeekend);
    if (weatherOpen && UpdateSchedule::countTick(weatherCounter, weatherInterval)) {
        on_updateWeatherPushButton_clicked();  // also ends a retry series
        weatherCounter = 0;
        logLine(QString("Update Weather: %1").arg(now.toString("MM/dd/yy hh:mm:ss")));
    }

    const bool stockOpen = UpdateSchedule::insideWindow(now, stockStart, stockStop, stockWeekend);
    if (stockOpen && UpdateSchedule::countTick(stockCounter, stockInterval)) {
        stockRetry = RetrySeries();  // a scheduled refresh ends a retry series
        getStocks();
        stockCounter = 0;
        logLine(QString("Update Stock: %1").arg(now.toString("MM/dd/yy hh:mm:ss")));
    }

    runDueRetries(now, weatherOpen, stockOpen);
}
