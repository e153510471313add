// The update scheduler: once a second, each feed counts the tick if it lies
// inside its daily window and refreshes when its interval has passed.
#include "mainwindow.h"

#include "timesource.h"
#include "updateschedule.h"

void MainWindow::timerTimeout()
{
    // One reading of the clock for the whole tick.
    const QDateTime now = TimeSource::now();

    if (UpdateSchedule::insideWindow(now, weatherStart, weatherStop, weatherWeekend)
        && UpdateSchedule::countTick(weatherCounter, weatherInterval)) {
        on_updateWeatherPushButton_clicked();
        weatherCounter = 0;
        logLine(QString("Update Weather: %1").arg(now.toString("MM/dd/yy hh:mm:ss")));
    }

    if (UpdateSchedule::insideWindow(now, stockStart, stockStop, stockWeekend)
        && UpdateSchedule::countTick(stockCounter, stockInterval)) {
        getStocks();
        stockCounter = 0;
        logLine(QString("Update Stock: %1").arg(now.toString("MM/dd/yy hh:mm:ss")));
    }
}
