#include "weather/standingtexts.h"

namespace {

// The text now due when it differs from the one given; it is given from then on.
std::optional<QString> change(QString& given, const std::optional<QString>& due)
{
    if (!due || *due == given)
        return std::nullopt;
    given = *due;
    return due;
}

}  // namespace

QString StandingTexts::keepAlerts(const AlertsReader::Reading& reading, const QDateTime& now)
{
    alerts = reading;
    alertsReceived = now;
    alertsGiven = AlertsReader::textAt(reading, now, now);
    return alertsGiven;
}

std::optional<QString> StandingTexts::keepForecast(const ForecastReader::Reading& reading, const QDateTime& now)
{
    forecast = reading;
    const std::optional<QString> text = ForecastReader::textAt(reading, now);
    forecastGiven = text.value_or(QString::fromLatin1(ForecastReader::NoPeriodLeftText));
    return text;
}

std::optional<QString> StandingTexts::alertsChange(const QDateTime& now)
{
    if (!alerts)
        return std::nullopt;
    return change(alertsGiven, AlertsReader::textAt(*alerts, alertsReceived, now));
}

std::optional<QString> StandingTexts::alertsUnavailable()
{
    alerts.reset();
    return change(alertsGiven, QString::fromLatin1(AlertsReader::EndedText));
}

std::optional<QString> StandingTexts::forecastChange(const QDateTime& now, std::optional<qint64>& staleHours)
{
    staleHours.reset();
    if (!forecast)
        return std::nullopt;
    if (ForecastReader::isStale(*forecast, now)) {
        staleHours = ForecastReader::hoursSinceUpdate(*forecast, now);
        forecast.reset();
        // Only a text that was given is taken back.
        if (forecastGiven.isEmpty())
            return std::nullopt;
        return change(forecastGiven, QString::fromLatin1(ForecastReader::NoPeriodLeftText));
    }
    // A period without a text shows that nothing can be said, never the
    // ended period's text.
    return change(
        forecastGiven,
        ForecastReader::textAt(*forecast, now).value_or(QString::fromLatin1(ForecastReader::NoPeriodLeftText)));
}
