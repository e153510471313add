#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>

#include "app/feedstatus.h"
#include "app/notrequestedline.h"
#include "app/requestkind.h"
#include "weather/alertsschedule.h"
#include "weather/standingtexts.h"
#include "weather/weatheritems.h"

class RefreshPlan;
class ServiceRequests;
struct RequestFailure;

// The alerts and forecast rows of the weather block: their requests, their
// schedules, their replies and their texts as time passes. Both are asked
// for all day, every day (a warning keeps no office hours, nor does the
// weekend's forecast), besides each weather refresh. Each reply gives only
// its own rows their text, independent of the observation; a reply that
// failed or cannot be read changes nothing and, unlike an observation, plans
// no retry: the next refresh or alerts tick asks again. The requests go to
// the weather host and wait while it is suspended.
class AlertsForecastFeed : public QObject
{
    Q_OBJECT

public:
    // What the requests and replies read of the window, at the moment they
    // are made or read.
    struct Inputs
    {
        QString latitude;  // the fields as they stand
        QString longitude;
        QString gridId;  // from the point lookup or the settings file
        QString gridX;
        QString gridY;
        bool usUnits = true;
        bool showsAlerts = false;  // some weather row shows the item
        bool showsForecast = false;
        QString baseUrl;  // the weather service
        QByteArray userAgent;
    };

    static constexpr qint64 ForecastIntervalSeconds = 3600;

    // Routes the alerts and forecast replies of `requests` here; `weatherHost`
    // is the weather feed's plan, whose suspension holds these requests too.
    AlertsForecastFeed(ServiceRequests& requests, RefreshPlan& weatherHost, QObject* parent = nullptr);

    void setInputs(std::function<Inputs()> inputs) { inputsNow = std::move(inputs); }

    // A weather refresh (button, schedule or retry): the alerts and the
    // forecast while a row shows them, then the rows' texts due now.
    void refresh(RequestTrigger trigger);
    // The scheduler's second: the alerts and the forecast when their own
    // schedules say, and the rows moved on with the time.
    void tick(const QDateTime& now);
    // When the alerts or the forecast (`feed`) are next asked for by their
    // own schedule, and how often; none while no row shows them, and not
    // before the weather host's suspension ends.
    FeedTiming timing(FeedStatus::Feed feed, const QDateTime& now) const;

    // The point lookup found a grid: a forecast refused before may be known.
    void gridChanged() { forecastUnavailableLogged = false; }

signals:
    // Every weather row whose item comes from `source` shows `text` and sends
    // it to every weather clock.
    void rowsText(WeatherItems::Source source, QString text);
    void logLine(QString line);
    // A failure line (already logged) or a good reply, for the status file.
    void feedFailure(FeedStatus::Feed feed, QString line);
    void feedSucceeded(FeedStatus::Feed feed);

private:
    // The alerts for the point of the latitude and longitude fields
    // (`onlyWhenDue`: a tick, not a refresh).
    void requestAlerts(RequestTrigger trigger, bool onlyWhenDue = false);
    // The forecast for the stored grid, in the units chosen.
    void requestForecast(RequestTrigger trigger);
    void sendRequest(const Inputs& inputs, const QString& path, const char* logFormat, RequestKind kind,
                     const QByteArray& accept);
    void handleAlertsReply(const QString& text);
    void handleForecastReply(const QString& text);
    // A failed reply (HTTP status, 0 for none; the service's reason): a
    // refused point or grid is said once.
    void alertsFailed(const RequestFailure& failure);
    void forecastFailed(const RequestFailure& failure);
    // Gives the rows the texts due at `now`, where they changed.
    void updateStandingTexts(const QDateTime& now);
    void logFailure(FeedStatus::Feed feed, const QString& line);
    Inputs inputs() const { return inputsNow ? inputsNow() : Inputs(); }

    ServiceRequests& requests;
    RefreshPlan& weatherHost;
    std::function<Inputs()> inputsNow;
    // Both counts start due, so the first tick after start-up asks.
    AlertsSchedule alertsSchedule;
    qint64 forecastCounter = ForecastIntervalSeconds;
    // Each "Not Requested" line is logged once until a request goes out
    // again, the forecast's "Not Available" once until a good reply or a
    // new grid.
    NotRequestedLine alertsNotRequested;
    NotRequestedLine forecastNotRequested;
    bool forecastUnavailableLogged = false;
    // The last good alerts and forecast and the texts their rows were given.
    StandingTexts standingTexts;
};
