#include "weather/alertsforecastfeed.h"

#include "app/refreshplan.h"
#include "app/servicerequests.h"
#include "app/timesource.h"
#include "weather/alertsreader.h"
#include "weather/forecastreader.h"
#include "weather/weatherpaths.h"
#include "weather/weatherrequest.h"

using WeatherItems::Source;

AlertsForecastFeed::AlertsForecastFeed(ServiceRequests& requests, RefreshPlan& weatherHost, QObject* parent)
    : QObject(parent)
    , requests(requests)
    , weatherHost(weatherHost)
{
    // A long Retry-After on either reply suspends the whole weather host; a
    // good reply to a request sent during the suspension lifts it.
    const auto route = [this](FeedStatus::Feed feed, void (AlertsForecastFeed::*replied)(const QString&),
                              void (AlertsForecastFeed::*failed)(const RequestFailure&)) {
        ServiceRequests::Route route;
        route.feed = feed;
        route.replied = [this, replied](const QString& text) { (this->*replied)(text); };
        route.failed = [this, failed](const RequestFailure& failure) {
            (this->*failed)(failure);
            this->weatherHost.hostFailed(failure.httpStatus, failure.retryAfter);
        };
        route.answered = [this](const QDateTime& sentAt) { this->weatherHost.hostAnswered(sentAt); };
        return route;
    };
    requests.setRoute(RequestKind::Alerts, route(FeedStatus::Alerts, &AlertsForecastFeed::handleAlertsReply,
                                                 &AlertsForecastFeed::alertsFailed));
    requests.setRoute(RequestKind::Forecast, route(FeedStatus::Forecast, &AlertsForecastFeed::handleForecastReply,
                                                   &AlertsForecastFeed::forecastFailed));
}

void AlertsForecastFeed::refresh(RequestTrigger trigger)
{
    requestAlerts(trigger);
    requestForecast(trigger);
    updateStandingTexts(TimeSource::now());
}

// A refresh of this tick that asked for them has restarted the counts.
void AlertsForecastFeed::tick(const QDateTime& now)
{
    alertsSchedule.tick();
    requestAlerts(RequestTrigger::Schedule, true);
    if (++forecastCounter >= ForecastIntervalSeconds)
        requestForecast(RequestTrigger::Schedule);
    updateStandingTexts(now);
}

FeedTiming AlertsForecastFeed::timing(FeedStatus::Feed feed, const QDateTime& now) const
{
    const Inputs in = inputs();
    const bool alerts = feed == FeedStatus::Alerts;
    FeedTiming timing;
    timing.intervalSeconds = alerts ? alertsSchedule.currentWait() : ForecastIntervalSeconds;
    if (alerts ? !in.showsAlerts : !in.showsForecast)
        return timing;
    const qint64 seconds =
        alerts ? alertsSchedule.secondsToDue() : qMax<qint64>(0, ForecastIntervalSeconds - forecastCounter);
    timing.nextDue = now.addSecs(seconds);
    if (weatherHost.suspendedAt(now))
        timing.nextDue = qMax(timing.nextDue, weatherHost.suspendedUntil());
    return timing;
}

// The point is read from the fields at each request, so a change of latitude
// or longitude takes effect at the next one. The scheduler's requests wait
// while the weather host is suspended, and space out while the service fails
// or refuses the point.
void AlertsForecastFeed::requestAlerts(RequestTrigger trigger, bool onlyWhenDue)
{
    const Inputs in = inputs();
    if (!in.showsAlerts)
        return;
    const std::optional<QString> path = WeatherPaths::alerts(in.latitude, in.longitude);
    if (trigger == RequestTrigger::Schedule) {
        const bool due = alertsSchedule.due(path.value_or(QString()));
        if (weatherHost.suspendedAt(TimeSource::now()) || (!due && (onlyWhenDue || alertsSchedule.backingOff())))
            return;
    }
    alertsSchedule.sent(path.value_or(QString()));
    if (!alertsNotRequested.ready(path.has_value(),
                                  "Weather Alerts Not Requested: latitude or longitude is not a number",
                                  [this](const QString& line) { emit logLine(line); }) ||
        !requests.mayRequest(RequestKind::Alerts, trigger))
        return;
    // The service answers alert queries in GeoJSON.
    sendRequest(in, *path, "Requesting Weather Alerts From: %s", RequestKind::Alerts, "application/geo+json");
}

// The grid comes from the point lookup of "Get Stations" (or the settings file).
void AlertsForecastFeed::requestForecast(RequestTrigger trigger)
{
    const Inputs in = inputs();
    if (!in.showsForecast)
        return;
    if (trigger == RequestTrigger::Schedule && weatherHost.suspendedAt(TimeSource::now()))
        return;
    forecastCounter = 0;
    if (!forecastNotRequested.ready(WeatherPaths::hasGrid(in.gridId, in.gridX, in.gridY),
                                    "Weather Forecast Not Requested: no grid (press Get Stations)",
                                    [this](const QString& line) { emit logLine(line); }) ||
        !requests.mayRequest(RequestKind::Forecast, trigger))
        return;
    sendRequest(in, WeatherPaths::forecast(in.gridId, in.gridX, in.gridY, !in.usUnits),
                "Requesting Weather Forecast From: %s", RequestKind::Forecast, "application/json");
}

void AlertsForecastFeed::sendRequest(const Inputs& inputs, const QString& path, const char* logFormat, RequestKind kind,
                                     const QByteArray& accept)
{
    const QString url = inputs.baseUrl + path;
    emit logLine(QString::asprintf(logFormat, url.toUtf8().constData()));
    requests.send(WeatherRequest::build(url, inputs.userAgent, accept), kind);
}

// 400 and 404 are the service's answer for a point outside the area it
// covers: said once, asked hourly, "Alerts --" on the rows. Any other failure
// spaces the requests out.
void AlertsForecastFeed::alertsFailed(const RequestFailure& failure)
{
    if (failure.httpStatus != 400 && failure.httpStatus != 404) {
        alertsSchedule.failed();
        return;
    }
    if (alertsSchedule.refused())
        emit logLine(QString("Weather Alerts Not Available: %1").arg(failure.reason));
    if (const std::optional<QString> text = standingTexts.alertsUnavailable())
        emit rowsText(Source::Alerts, *text);
}

// A grid the service does not know (404) needs a new point lookup.
void AlertsForecastFeed::forecastFailed(const RequestFailure& failure)
{
    if (failure.httpStatus != 404 || forecastUnavailableLogged)
        return;
    forecastUnavailableLogged = true;
    emit logLine(QString("Weather Forecast Not Available: %1 (press Get Stations)").arg(failure.reason));
}

void AlertsForecastFeed::handleAlertsReply(const QString& text)
{
    const AlertsReader::Reading reading = AlertsReader::read(text);
    if (!reading.readable) {
        logFailure(FeedStatus::Alerts, QString("Weather Alerts Unreadable: %1").arg(reading.problem));
        return;
    }
    alertsSchedule.succeeded();
    const QDateTime now = TimeSource::now();
    emit logLine(AlertsReader::summarize(reading, now).logLine());
    emit feedSucceeded(FeedStatus::Alerts);
    emit rowsText(Source::Alerts, standingTexts.keepAlerts(reading, now));
}

// A stale forecast is not sent; a current period without a name or a
// temperature shows "Forecast --": the rows must not keep an ended period's
// text.
void AlertsForecastFeed::handleForecastReply(const QString& text)
{
    const ForecastReader::Reading reading = ForecastReader::read(text, inputs().usUnits);
    if (!reading.readable) {
        logFailure(FeedStatus::Forecast, QString("Weather Forecast Unreadable: %1").arg(reading.problem));
        return;
    }
    forecastUnavailableLogged = false;
    const QDateTime now = TimeSource::now();
    if (ForecastReader::isStale(reading, now)) {
        logFailure(FeedStatus::Forecast,
                   ForecastReader::staleLogLine(ForecastReader::hoursSinceUpdate(reading, now).value_or(0)));
        return;
    }
    const std::optional<QString> shown = standingTexts.keepForecast(reading, now);
    if (!shown) {
        logFailure(FeedStatus::Forecast, "Weather Forecast Missing: the current period has no name or temperature");
        emit rowsText(Source::Forecast, QString::fromLatin1(ForecastReader::NoPeriodLeftText));
        return;
    }
    emit logLine(QString("Weather Forecast: %1").arg(*shown));
    emit feedSucceeded(FeedStatus::Forecast);
    emit rowsText(Source::Forecast, *shown);
}

void AlertsForecastFeed::updateStandingTexts(const QDateTime& now)
{
    if (const std::optional<QString> alerts = standingTexts.alertsChange(now))
        emit rowsText(Source::Alerts, *alerts);
    std::optional<qint64> staleHours;
    const std::optional<QString> forecast = standingTexts.forecastChange(now, staleHours);
    if (staleHours)
        emit logLine(ForecastReader::staleLogLine(*staleHours));
    if (forecast)
        emit rowsText(Source::Forecast, *forecast);
}

void AlertsForecastFeed::logFailure(FeedStatus::Feed feed, const QString& line)
{
    emit logLine(line);
    emit feedFailure(feed, line);
}
