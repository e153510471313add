// The alerts and forecast rows of the weather block: their requests, their
// replies and their texts as time passes. Each reply sends only its own rows,
// independent of the observation; a reply that failed or cannot be read
// changes nothing and, unlike an observation, plans no retry: the next
// refresh or alerts tick asks again.
#include "app/mainwindow.h"

#include <QLabel>

#include "app/timesource.h"
#include "clocklink/clockaddresslist.h"
#include "ui_mainwindow.h"
#include "weather/alertsreader.h"
#include "weather/forecastreader.h"
#include "weather/weatherpaths.h"

using WeatherItems::Source;

void MainWindow::refreshWeather(Trigger trigger)
{
    getWeather(stationId, trigger);
    requestAlerts(trigger);
    requestForecast(trigger);
    updateStandingTexts(TimeSource::now());
}

// The point is read from the fields at each request, so a change of latitude
// or longitude takes effect at the next one. The scheduler's requests wait
// while the weather host is suspended, and space out while the service fails
// or refuses the point.
void MainWindow::requestAlerts(Trigger trigger, bool onlyWhenDue)
{
    if (!someWeatherRowShows(Source::Alerts))
        return;
    const std::optional<QString> path =
        WeatherPaths::alerts(ui->latitudeLineEdit->text(), ui->longitudeLineEdit->text());
    if (trigger == Trigger::Schedule) {
        const bool due = alertsSchedule.due(path.value_or(QString()));
        if (weatherRetry.suspendedAt(TimeSource::now()) || (!due && (onlyWhenDue || alertsSchedule.backingOff())))
            return;
    }
    alertsSchedule.sent(path.value_or(QString()));
    if (!mayRequestWhen(path.has_value(), alertsNotRequestedLogged,
                        "Weather Alerts Not Requested: latitude or longitude is not a number", RequestKind::Alerts,
                        trigger))
        return;
    // The service answers alert queries in GeoJSON.
    sendWeatherRequest(*path, "Requesting Weather Alerts From: %s", RequestKind::Alerts, "application/geo+json");
}

// The grid comes from the point lookup of "Get Stations" (or the settings file).
void MainWindow::requestForecast(Trigger trigger)
{
    if (!someWeatherRowShows(Source::Forecast))
        return;
    if (trigger == Trigger::Schedule && weatherRetry.suspendedAt(TimeSource::now()))
        return;
    forecastCounter = 0;
    if (!mayRequestWhen(WeatherPaths::hasGrid(gridId, gridX, gridY), forecastNotRequestedLogged,
                        "Weather Forecast Not Requested: no grid (press Get Stations)", RequestKind::Forecast, trigger))
        return;
    // `units` is true for US units.
    sendWeatherRequest(WeatherPaths::forecast(gridId, gridX, gridY, !units), "Requesting Weather Forecast From: %s",
                       RequestKind::Forecast);
}

// 400 and 404 are the service's answer for a point outside the area it
// covers: said once, asked hourly, "Alerts --" on the rows. Any other failure
// spaces the requests out.
void MainWindow::alertsFailed(int httpStatus, const QString& reason)
{
    if (httpStatus != 400 && httpStatus != 404) {
        alertsSchedule.failed();
        return;
    }
    if (alertsSchedule.refused())
        logLine(QString("Weather Alerts Not Available: %1").arg(reason));
    if (const std::optional<QString> text = standingTexts.alertsUnavailable())
        sendWeatherRows(Source::Alerts, *text);
}

// A grid the service does not know (404) needs a new point lookup.
void MainWindow::forecastFailed(int httpStatus, const QString& reason)
{
    if (httpStatus != 404 || forecastUnavailableLogged)
        return;
    forecastUnavailableLogged = true;
    logLine(QString("Weather Forecast Not Available: %1 (press Get Stations)").arg(reason));
}

void MainWindow::handleAlertsReply(const QString& text)
{
    const AlertsReader::Reading reading = AlertsReader::read(text);
    if (!reading.readable) {
        logFeedFailure(RequestKind::Alerts, QString("Weather Alerts Unreadable: %1").arg(reading.problem));
        return;
    }
    alertsSchedule.succeeded();
    const QDateTime now = TimeSource::now();
    logLine(AlertsReader::summarize(reading, now).logLine());
    noteFeedSuccess(FeedStatus::Alerts);
    sendWeatherRows(Source::Alerts, standingTexts.keepAlerts(reading, now));
}

// A stale forecast is not sent; a current period without a name or a
// temperature shows "Forecast --": the rows must not keep an ended period's
// text.
void MainWindow::handleForecastReply(const QString& text)
{
    const ForecastReader::Reading reading = ForecastReader::read(text, units);
    if (!reading.readable) {
        logFeedFailure(RequestKind::Forecast, QString("Weather Forecast Unreadable: %1").arg(reading.problem));
        return;
    }
    forecastUnavailableLogged = false;
    const QDateTime now = TimeSource::now();
    if (ForecastReader::isStale(reading, now)) {
        logFeedFailure(RequestKind::Forecast,
                       ForecastReader::staleLogLine(ForecastReader::hoursSinceUpdate(reading, now).value_or(0)));
        return;
    }
    const std::optional<QString> shown = standingTexts.keepForecast(reading, now);
    if (!shown) {
        logFeedFailure(RequestKind::Forecast,
                       "Weather Forecast Missing: the current period has no name or temperature");
        sendWeatherRows(Source::Forecast, QString::fromLatin1(ForecastReader::NoPeriodLeftText));
        return;
    }
    logLine(QString("Weather Forecast: %1").arg(*shown));
    noteFeedSuccess(FeedStatus::Forecast);
    sendWeatherRows(Source::Forecast, *shown);
}

void MainWindow::updateStandingTexts(const QDateTime& now)
{
    if (const std::optional<QString> alerts = standingTexts.alertsChange(now))
        sendWeatherRows(Source::Alerts, *alerts);
    std::optional<qint64> staleHours;
    const std::optional<QString> forecast = standingTexts.forecastChange(now, staleHours);
    if (staleHours)
        logLine(ForecastReader::staleLogLine(*staleHours));
    if (forecast)
        sendWeatherRows(Source::Forecast, *forecast);
}

bool MainWindow::someWeatherRowShows(Source source) const
{
    for (const QComboBox* box : {ui->weatherItemComboBox1, ui->weatherItemComboBox2, ui->weatherItemComboBox3,
                                 ui->weatherItemComboBox4, ui->weatherItemComboBox5}) {
        const WeatherItems::Item* item = WeatherItems::item(WeatherItems::numberAt(box->currentIndex()));
        if (item && item->source == source)
            return true;
    }
    return false;
}

// As the observation's rows: one "Sending" line per address, the label set
// with each (so an empty clock list leaves it as it was).
void MainWindow::sendWeatherRows(Source source, const QString& text)
{
    const QStringList addresses = ClockAddressList::split(ui->clockWeatherIPListEdit->text());
    const QComboBox* const boxes[5] = {ui->weatherItemComboBox1, ui->weatherItemComboBox2, ui->weatherItemComboBox3,
                                       ui->weatherItemComboBox4, ui->weatherItemComboBox5};
    for (int slot = 0; slot < 5; ++slot) {
        const WeatherItems::Item* item = WeatherItems::item(WeatherItems::numberAt(boxes[slot]->currentIndex()));
        if (!item || item->source != source)
            continue;
        for (const QString& address : addresses) {
            logLine(QString::asprintf("Sending Weather Data to %s", address.toUtf8().constData()));
            SendClockVar(address, slot, text);
            weatherVarLabels[slot]->setText(text);
        }
    }
}
