// The update scheduler: once a second, each feed counts the tick if it lies
// inside its daily window and refreshes when its interval has passed, unless
// the service has asked it to keep away until later. A retry of a failed
// refresh that has come due goes out on the same tick, unless the scheduled
// refresh does (each feed's RefreshPlan). Each tick first gives up the
// requests that have run for their time limit. The alerts and the forecast
// have schedules of their own (AlertsForecastFeed), outside the weather
// window too, and on every tick their rows move on with the time.
#include "app/mainwindow.h"

#include "app/refreshplan.h"
#include "app/servicerequests.h"
#include "app/statusboard.h"
#include "app/timesource.h"
#include "app/updateschedule.h"
#include "weather/alertsforecastfeed.h"

void MainWindow::timerTimeout()
{
    // One reading of the clock for the whole tick.
    const QDateTime now = TimeSource::now();
    serviceRequests->enforceTimeLimits(now);

    // One feed's turn: whether its window is open at this tick.
    const auto scheduleFeed = [&](const QTime& start, const QTime& stop, bool weekend, qint64& counter, int interval,
                                  RefreshPlan& plan, void (MainWindow::*refresh)(Trigger), const char* name) {
        const bool open = UpdateSchedule::insideWindow(now, start, stop, weekend);
        if (open && UpdateSchedule::countTick(counter, interval)) {
            counter = 0;
            if (plan.scheduledRefreshGoes(now)) {
                (this->*refresh)(Trigger::Schedule);
                logLine(QString("Update %1: %2").arg(name, now.toString("MM/dd/yy hh:mm:ss")));
            }
        }
        return open;
    };
    const bool weatherOpen = scheduleFeed(weatherStart, weatherStop, weatherWeekend, weatherCounter, weatherInterval,
                                          *weatherPlan, &MainWindow::refreshWeather, "Weather");
    const bool stockOpen = scheduleFeed(stockStart, stockStop, stockWeekend, stockCounter, stockInterval, *stockPlan,
                                        &MainWindow::getStocks, "Stock");
    if (weatherPlan->retryDue(now, weatherOpen))
        refreshWeather(Trigger::Schedule);
    if (stockPlan->retryDue(now, stockOpen))
        getStocks(Trigger::Schedule);

    alertsFeed->tick(now);
    statusBoard->tick(now);
}
