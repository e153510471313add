#include "app/mainwindow.h"

#include "app/refreshplan.h"
#include "app/servicerequests.h"
#include "ui_mainwindow.h"
#include "weather/alertsforecastfeed.h"
#include "weather/weatherrequest.h"

// The three requests of the weather feed: the point's grid, the grid's
// stations and a station's latest observation, and the operator's controls
// around them.

void MainWindow::sendWeatherRequest(const QString& path, const char* logFormat, RequestKind kind)
{
    const QString url = weatherBaseUrl + path;
    logLine(QString::asprintf(logFormat, url.toUtf8().constData()));
    serviceRequests->send(WeatherRequest::build(url, weatherUserAgent), kind);
}

void MainWindow::on_coordsPushButton_clicked()
{
    if (!serviceRequests->mayRequest(RequestKind::Point, Trigger::Operator))
        return;
    sendWeatherRequest(QString("/points/%1,%2").arg(ui->latitudeLineEdit->text()).arg(ui->longitudeLineEdit->text()),
                       "Requesting Address Data From: %s", RequestKind::Point);
}

// Asked for by the point reply of the operator's lookup: a newer lookup
// replaces an older one still running.
void MainWindow::getStations(QString gridId, QString gridX, QString gridY)
{
    if (!serviceRequests->mayRequest(RequestKind::Stations, Trigger::Operator))
        return;
    sendWeatherRequest(QString("/gridpoints/%1/%2,%3/stations").arg(gridId).arg(gridX).arg(gridY),
                       "Requesting Station Data From: %s", RequestKind::Stations);
}

// Without a station there is nothing to ask for: no request, and one line
// until a request goes out again.
void MainWindow::getWeather(QString stationId, Trigger trigger)
{
    if (!weatherPlan->ready(!stationId.trimmed().isEmpty(), "Weather Not Requested: no station chosen") ||
        !serviceRequests->mayRequest(RequestKind::Observation, trigger))
        return;
    sendWeatherRequest(QString("/stations/%1/observations/latest").arg(stationId), "Requesting Weather Data From: %s",
                       RequestKind::Observation);
}

// The observation, and the alerts and forecast rows' own replies
// (AlertsForecastFeed).
void MainWindow::refreshWeather(Trigger trigger)
{
    getWeather(stationId, trigger);
    alertsFeed->refresh(trigger);
}

// A button press ends a retry series.
void MainWindow::on_updateWeatherPushButton_clicked()
{
    weatherPlan->endSeries();
    refreshWeather(Trigger::Operator);
}

// Checked means metric. What is shown stays; the next observation uses the new units.
void MainWindow::on_metricCheckBox_toggled(bool checked)
{
    units = !checked;
}

// The station entries end in their 4-character station id.
void MainWindow::on_locationComboBox_currentTextChanged(QString)
{
    stationId = ui->locationComboBox->currentText().right(4);
    ui->locationStatusLabel->setText(QString("ID: %1 Grid: %2,%3 Station: %4").arg(gridId, gridX, gridY, stationId));
}

// The errors are only counted, never ignored: the transfer fails and its reply
// arrives at httpResponses as a failed one.
void MainWindow::sslErrors(QNetworkReply*, QList<QSslError> errors)
{
    logLine(QString::asprintf("sslErrors count=%d", errors.size()));
}
