#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

#include "weather/alertsreader.h"
#include "weather/forecastreader.h"

// The alerts and forecast slots show what the last good reply of each said,
// and that stays true only for a while: alerts end, forecast periods pass.
// Keeps the last good reply of each and the text its slots were last given,
// and tells, as time passes, when that text has to change, so a slot never
// shows a warning that is over or a period that has ended, and a clock is
// sent a text only when it changes.
class StandingTexts
{
public:
    // A good alerts reply arrived at `now`: kept; returns its text, which its
    // slots are given.
    QString keepAlerts(const AlertsReader::Reading& reading, const QDateTime& now);

    // A good forecast that is not stale arrived: kept; returns the text of
    // its current period, which its slots are given, or nothing when that
    // period has no text (its slots are then given "Forecast --").
    std::optional<QString> keepForecast(const ForecastReader::Reading& reading, const QDateTime& now);

    // The alerts text at `now` when it is not the one last given (from then
    // on it is).
    std::optional<QString> alertsChange(const QDateTime& now);

    // The service no longer answers for the point: the kept alerts are
    // dropped and the slots are given "Alerts --" (when they were not).
    std::optional<QString> alertsUnavailable();

    // The same for the forecast, which moves on to its next period ("Forecast
    // --" while a period has no text). A kept
    // forecast that has grown stale is dropped: `staleHours` tells its age and
    // its slots are given "Forecast --" (stale texts are not left standing).
    std::optional<QString> forecastChange(const QDateTime& now, std::optional<qint64>& staleHours);

private:
    std::optional<AlertsReader::Reading> alerts;
    QDateTime alertsReceived;
    QString alertsGiven;
    std::optional<ForecastReader::Reading> forecast;
    QString forecastGiven;
};
