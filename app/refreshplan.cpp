#include "app/refreshplan.h"

#include "app/timesource.h"

RefreshPlan::RefreshPlan(QString feedName, QObject* parent)
    : QObject(parent)
    , feedName(std::move(feedName))
{}

bool RefreshPlan::ready(bool isReady, const char* notRequestedLine)
{
    return notRequested.ready(isReady, notRequestedLine, [this](const QString& line) { emit logLine(line); });
}

void RefreshPlan::endSeries()
{
    due = QDateTime();
    retriesMade = 0;
}

void RefreshPlan::refreshFailed(RefreshRetry::Failure failure, int httpStatus, std::optional<qint64> retryAfter)
{
    due = QDateTime();
    const Schedule schedule = currentSchedule();
    RefreshRetry::Input input = retryInput(schedule, httpStatus, retryAfter);
    input.failure = failure;
    // While the host is suspended nothing but a button press goes out, so no
    // retry is planned (or said to be).
    const QDateTime now = TimeSource::now();
    if (suspendIfAsked(input) || suspendedAt(now) || !schedule.windowOpen)
        return;
    const std::optional<qint64> delay = RefreshRetry::delaySeconds(input);
    if (!delay)
        return;
    due = now.addSecs(*delay);
    emit logLine(QString::asprintf("Retrying %s in %lld s", qUtf8Printable(feedName), static_cast<long long>(*delay)));
}

void RefreshPlan::hostFailed(int httpStatus, std::optional<qint64> retryAfter)
{
    suspendIfAsked(retryInput(currentSchedule(), httpStatus, retryAfter));
}

void RefreshPlan::hostAnswered(const QDateTime& sentAt)
{
    // A request sent before the suspension says nothing about the host now.
    if (!suspendedAt(TimeSource::now()) || sentAt <= suspendedFrom)
        return;
    suspendedTo = QDateTime();
    emit logLine(QString::asprintf("%s Suspension Lifted", qUtf8Printable(feedName)));
}

bool RefreshPlan::scheduledRefreshGoes(const QDateTime& now)
{
    if (suspendedAt(now))
        return false;
    endSeries();
    retriesSinceScheduled = 0;
    return true;
}

bool RefreshPlan::retryDue(const QDateTime& now, bool windowOpen)
{
    if (due.isValid() && (!windowOpen || suspendedAt(now)))
        endSeries();
    if (!due.isValid() || now < due)
        return false;
    due = QDateTime();
    ++retriesMade;
    ++retriesSinceScheduled;
    return true;
}

FeedTiming RefreshPlan::timing(const QDateTime& now) const
{
    const Schedule schedule = currentSchedule();
    FeedTiming timing;
    // The counter fires on the tick after it passes interval x 60.
    const qint64 period = qMax<qint64>(1, qint64(schedule.intervalMinutes) * 60 + 1);
    timing.intervalSeconds = period - 1;
    if (!schedule.windowOpen)
        return timing;
    QDateTime next = now.addSecs(RefreshRetry::secondsToNextScheduled(schedule.counter, schedule.intervalMinutes));
    if (due.isValid() && due < next)
        next = due;
    if (suspendedAt(now) && next < suspendedTo)
        next = next.addSecs((next.secsTo(suspendedTo) + period - 1) / period * period);
    timing.nextDue = next;
    return timing;
}

RefreshPlan::Schedule RefreshPlan::currentSchedule() const
{
    return scheduleNow ? scheduleNow() : Schedule();
}

RefreshRetry::Input RefreshPlan::retryInput(const Schedule& schedule, int httpStatus,
                                            std::optional<qint64> retryAfter) const
{
    RefreshRetry::Input input;
    input.httpStatus = httpStatus;
    input.retryAfter = retryAfter;
    input.attempt = retriesMade + 1;
    input.retriesSinceScheduled = retriesSinceScheduled;
    input.intervalMinutes = schedule.intervalMinutes;
    input.secondsToNextScheduled = RefreshRetry::secondsToNextScheduled(schedule.counter, schedule.intervalMinutes);
    return input;
}

bool RefreshPlan::suspendIfAsked(const RefreshRetry::Input& input)
{
    // The service asks the host's requests to keep away past the feed's next
    // scheduled refresh: nothing but a button press goes out until then.
    const std::optional<qint64> suspend = RefreshRetry::suspendSeconds(input);
    if (!suspend)
        return false;
    // Bounded, so that a Retry-After of any size stays a valid moment.
    constexpr qint64 Century = qint64(100) * 366 * 24 * 3600;
    due = QDateTime();
    suspendedFrom = TimeSource::now();
    suspendedTo = suspendedFrom.addSecs(qMin(*suspend, Century));
    emit logLine(QString::asprintf("%s Suspended Until %s", qUtf8Printable(feedName),
                                   qUtf8Printable(suspendedTo.toString("MM/dd/yyyy hh:mm:ss"))));
    return true;
}
