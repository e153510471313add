// How each feed's refresh ended, and the retries after one that failed for a
// passing reason. The retries are timed by the scheduler's ticks against
// TimeSource::now(), so they move with the clock the scheduler reads; the
// scheduler's counters are never touched here.
#include "app/mainwindow.h"

#include "app/timesource.h"
#include "app/updateschedule.h"

void MainWindow::weatherRefreshSucceeded()
{
    weatherRetry.end();
    noteRefreshSucceeded(Feed::Weather);
}

void MainWindow::stockRefreshSucceeded()
{
    stockRetry.end();
    noteRefreshSucceeded(Feed::Stocks);
}

void MainWindow::weatherRefreshFailed(RefreshRetry::Failure failure, int httpStatus, std::optional<qint64> retryAfter)
{
    const bool open = UpdateSchedule::insideWindow(TimeSource::now(), weatherStart, weatherStop, weatherWeekend);
    planRetry(weatherRetry, "Weather", open, weatherInterval, weatherCounter, failure, httpStatus, retryAfter);
}

void MainWindow::stockRefreshFailed(RefreshRetry::Failure failure, int httpStatus, std::optional<qint64> retryAfter)
{
    const bool open = UpdateSchedule::insideWindow(TimeSource::now(), stockStart, stockStop, stockWeekend);
    planRetry(stockRetry, "Stocks", open, stockInterval, stockCounter, failure, httpStatus, retryAfter);
}

void MainWindow::planRetry(RetrySeries& series, const char* feedName, bool windowOpen, int interval, qint64 counter,
                           RefreshRetry::Failure failure, int httpStatus, std::optional<qint64> retryAfter)
{
    series.due = QDateTime();
    RefreshRetry::Input input = retryInput(series, interval, counter, httpStatus, retryAfter);
    input.failure = failure;
    // While the host is suspended nothing but a button press goes out, so no
    // retry is planned (or said to be).
    if (suspendIfAsked(series, feedName, input) || series.suspendedAt(TimeSource::now()) || !windowOpen)
        return;
    const std::optional<qint64> delay = RefreshRetry::delaySeconds(input);
    if (!delay)
        return;
    series.due = TimeSource::now().addSecs(*delay);
    logLine(QString::asprintf("Retrying %s in %lld s", feedName, static_cast<long long>(*delay)));
}

RefreshRetry::Input MainWindow::retryInput(const RetrySeries& series, int interval, qint64 counter, int httpStatus,
                                           std::optional<qint64> retryAfter) const
{
    RefreshRetry::Input input;
    input.httpStatus = httpStatus;
    input.retryAfter = retryAfter;
    input.attempt = series.retriesMade + 1;
    input.retriesSinceScheduled = series.retriesSinceScheduled;
    input.intervalMinutes = interval;
    input.secondsToNextScheduled = RefreshRetry::secondsToNextScheduled(counter, interval);
    return input;
}

bool MainWindow::suspendIfAsked(RetrySeries& series, const char* feedName, const RefreshRetry::Input& input)
{
    // The service asks the host's requests to keep away past the feed's next
    // scheduled refresh: nothing but a button press goes out until then.
    const std::optional<qint64> suspend = RefreshRetry::suspendSeconds(input);
    if (!suspend)
        return false;
    // Bounded, so that a Retry-After of any size stays a valid moment.
    constexpr qint64 Century = qint64(100) * 366 * 24 * 3600;
    series.due = QDateTime();
    series.suspendedFrom = TimeSource::now();
    series.suspendedUntil = series.suspendedFrom.addSecs(qMin(*suspend, Century));
    logLine(QString::asprintf("%s Suspended Until %s", feedName,
                              qUtf8Printable(series.suspendedUntil.toString("MM/dd/yyyy hh:mm:ss"))));
    return true;
}

void MainWindow::hostAnswered(RequestKind kind)
{
    const bool stocks = kind == RequestKind::Quotes;
    RetrySeries& series = stocks ? stockRetry : weatherRetry;
    // A request sent before the suspension says nothing about the host now.
    if (!series.suspendedAt(TimeSource::now()) || requestsOf(kind).sentAt <= series.suspendedFrom)
        return;
    series.suspendedUntil = QDateTime();
    logLine(QString::asprintf("%s Suspension Lifted", stocks ? "Stocks" : "Weather"));
}

void MainWindow::weatherHostFailed(int httpStatus, std::optional<qint64> retryAfter)
{
    suspendIfAsked(weatherRetry, "Weather",
                   retryInput(weatherRetry, weatherInterval, weatherCounter, httpStatus, retryAfter));
}

void MainWindow::runDueRetries(const QDateTime& now, bool weatherWindowOpen, bool stockWindowOpen)
{
    // Outside its window, or while suspended, a feed is not retried: the
    // series ends there.
    if (weatherRetry.due.isValid() && (!weatherWindowOpen || weatherRetry.suspendedAt(now)))
        weatherRetry.end();
    if (stockRetry.due.isValid() && (!stockWindowOpen || stockRetry.suspendedAt(now)))
        stockRetry.end();

    if (weatherRetry.due.isValid() && now >= weatherRetry.due) {
        weatherRetry.due = QDateTime();
        ++weatherRetry.retriesMade;
        ++weatherRetry.retriesSinceScheduled;
        refreshWeather(Trigger::Schedule);
    }
    if (stockRetry.due.isValid() && now >= stockRetry.due) {
        stockRetry.due = QDateTime();
        ++stockRetry.retriesMade;
        ++stockRetry.retriesSinceScheduled;
        getStocks(Trigger::Schedule);
    }
}
