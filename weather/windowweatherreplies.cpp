// The weather replies' branches: the point's grid, the grid's stations, and
// the observation shown in the weather rows and sent to the weather clocks.
#include "app/mainwindow.h"

#include <QDebug>

#include "app/refreshplan.h"
#include "app/timesource.h"
#include "clocklink/clockaddresslist.h"
#include "ui_mainwindow.h"
#include "weather/alertsforecastfeed.h"
#include "weather/observationage.h"
#include "weather/weatherreplyreader.h"
#include "weather/weatherreport.h"

void MainWindow::handlePointReply(const QString& text)
{
    const WeatherReplyReader::PointGrid grid = WeatherReplyReader::readPoint(text);
    gridId = grid.gridId;
    gridX = grid.gridX;
    gridY = grid.gridY;
    alertsFeed->gridChanged();
    ui->locationStatusLabel->setText(QString("ID: %1 Grid: %2,%3").arg(gridId, gridX, gridY));

    getStations(gridId, gridX, gridY);
}

// The box is never cleared: a second lookup appends its stations again. The
// first entry put into an empty box becomes current, which sets stationId.
void MainWindow::handleStationListReply(const QString& text)
{
    const QStringList entries = WeatherReplyReader::readStationEntries(text);
    ui->locationComboBox->insertItems(ui->locationComboBox->count(), entries);
    for (int k = 0; k < entries.size(); ++k)
        qDebug("%2d: %s", k, entries[k].toUtf8().constData());
}

// A measurement the station did not report (or that its quality control
// rejected) is not made up: its item is not sent, its label keeps the last
// good value and the clock keeps what it shows. An observation that is too old
// is not sent at all.
void MainWindow::handleObservationReply(const QString& text)
{
    logLine(QString::asprintf("Station Weather Response: %s", text.toUtf8().constData()));

    const WeatherReplyReader::Observation observation = WeatherReplyReader::readObservation(text);
    QVector<int> shownItems;
    for (const WeatherRow& row : weatherRows)
        shownItems << WeatherItems::numberAt(row.item->currentIndex());
    const QStringList missing = observation.missing(shownItems);
    if (!observation.anyMeasurementKnown(shownItems)) {
        // Nothing was measured: treated like a failed reply, nothing changes.
        logFeedFailure(FeedStatus::Weather, QString::asprintf("Weather Data Missing: %s; observation ignored",
                                                              missing.join(", ").toUtf8().constData()));
        weatherPlan->refreshFailed(RefreshRetry::Failure::Passing);
        return;
    }

    const QDateTime now = TimeSource::now();
    if (ObservationAge::isStale(observation.timestamp, now, maxObservationAge)) {
        const qint64 age = ObservationAge::ageSeconds(observation.timestamp, now).value_or(0);
        logFeedFailure(FeedStatus::Weather, ObservationAge::staleLogLine(stationId, age));
        weatherPlan->refreshFailed(RefreshRetry::Failure::Passing);
        return;
    }

    // A timestamp that is missing or null keeps what the label shows.
    if (!observation.timestamp.isEmpty())
        ui->lastUpdateLabel->setText("Last Update:" + observation.timestamp);
    if (!missing.isEmpty())
        logLine(QString::asprintf("Weather Data Missing: %s", missing.join(", ").toUtf8().constData()));

    const WeatherReport::Texts texts = WeatherReport::compose(observation, units);
    logLine(texts.summary());

    const QStringList addresses = ClockAddressList::split(ui->clockWeatherIPListEdit->text());
    for (const WeatherRow& row : weatherRows) {
        const WeatherReport::ItemText* item = texts.item(shownItems[row.variable]);
        sendWeatherRow(row, addresses, item ? &item->text : nullptr);
    }
    weatherPlan->endSeries();
    noteRefreshSucceeded(FeedStatus::Weather);
}

void MainWindow::sendWeatherRow(const WeatherRow& row, const QStringList& addresses, const QString* text)
{
    for (const QString& address : addresses) {
        logLine(QString::asprintf("Sending Weather Data to %s", address.toUtf8().constData()));
        if (!text)
            continue;
        SendClockVar(address, row.variable, *text);
        row.label->setText(*text);
    }
}

void MainWindow::sendWeatherRows(WeatherItems::Source source, const QString& text)
{
    const QStringList addresses = ClockAddressList::split(ui->clockWeatherIPListEdit->text());
    for (const WeatherRow& row : weatherRows) {
        const WeatherItems::Item* item = WeatherItems::item(WeatherItems::numberAt(row.item->currentIndex()));
        if (item && item->source == source)
            sendWeatherRow(row, addresses, &text);
    }
}
