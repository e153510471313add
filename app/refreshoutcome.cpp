// How each feed's refresh ended, and the retries after one that failed for a
// passing reason. The retries are timed by the scheduler's ticks against
// TimeSource::now(), so they move with the clock the scheduler reads; the
// scheduler's counters are never touched here.
#include "app/mainwindow.h"

#include "app/timesource.h"
#include "app/updateschedule.h"

void MainWindow::weatherRefreshSucceeded()
{
    weatherRetry = RetrySeries();
    noteRefreshSucceeded(Feed::Weather);
}

void MainWindow::stockRefreshSucceeded()
{
    stockRetry = RetrySeries();
    noteRefreshSucceeded(Feed::Stocks);
}

void MainWindow::weatherRefreshFailed(RefreshRetry::Failure failure, int httpStatus,
                                      std::optional<qint64> retryAfter)
{
    const bool open = UpdateSchedule::insideWindow(TimeSource::now(), weatherStart, weatherStop, weatherWeekend);
    planRetry(weatherRetry, "Weather", open, weatherInterval, weatherCounter, failure, httpStatus, retryAfter);
}

void MainWindow::stockRefreshFailed(RefreshRetry::Failure failure, int httpStatus,
                                    std::optional<qint64> retryAfter)
{
    const bool open = UpdateSchedule::insideWindow(TimeSource::now(), stockStart, stockStop, stockWeekend);
    planRetry(stockRetry, "Stocks", open, stockInterval, stockCounter, failure, httpStatus, retryAfter);
}

void MainWindow::planRetry(RetrySeries& series, const char* feedName, bool windowOpen, int interval,
                           qint64 counter, RefreshRetry::Failure failure, int httpStatus,
                           std::optional<qint64> retryAfter)
{
    series.due = QDateTime();
    if (!windowOpen)
        return;
    RefreshRetry::Input input;
    input.failure = failure;
    input.httpStatus = httpStatus;
    input.retryAfter = retryAfter;
    input.attempt = series.retriesMade + 1;
    input.intervalMinutes = interval;
    input.secondsToNextScheduled = RefreshRetry::secondsToNextScheduled(counter, interval);
    const std::optional<qint64> delay = RefreshRetry::delaySeconds(input);
    if (!delay)
        return;
    series.due = TimeSource::now().addSecs(*delay);
    logLine(QString::asprintf("Retrying %s in %lld s", feedName, static_cast<long long>(*delay)));
}

void MainWindow::runDueRetries(const QDateTime& now, bool weatherWindowOpen, bool stockWindowOpen)
{
    // Outside its window a feed is not retried: the series ends there.
    if (weatherRetry.due.isValid() && !weatherWindowOpen)
        weatherRetry = RetrySeries();
    if (stockRetry.due.isValid() && !stockWindowOpen)
        stockRetry = RetrySeries();

    if (weatherRetry.due.isValid() && now >= weatherRetry.due) {
        weatherRetry.due = QDateTime();
        ++weatherRetry.retriesMade;
        getWeather(stationId);
    }
    if (stockRetry.due.isValid() && now >= stockRetry.due) {
        stockRetry.due = QDateTime();
        ++stockRetry.retriesMade;
        getStocks();
    }
}
