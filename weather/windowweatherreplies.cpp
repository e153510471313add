#include "app/mainwindow.h"

#include <QDebug>
#include <QNetworkReply>
#include <QTimer>
#include <algorithm>

#include "app/timesource.h"
#include "clocklink/clockaddresslist.h"
#include "replies/failurereason.h"
#include "replies/replytext.h"
#include "ui_mainwindow.h"
#include "weather/observationage.h"
#include "weather/weatherreplyreader.h"
#include "weather/weatherreport.h"

// Every reply of both feeds arrives here. A reply is read as the kind of its
// own request, carried on the request, never as whatever was asked last: a
// weather refresh and a stock refresh may be in flight at once.
void MainWindow::httpResponses(QNetworkReply* rep)
{
    rep->deleteLater();
    if (rep->property(GivenUpProperty).toBool())
        return;
    const RequestKind kind = RequestKind(rep->request().attribute(RequestKindAttribute).toInt());
    const qint64 number = rep->request().attribute(RequestNumberAttribute).toLongLong();
    const bool known = std::find(AllRequestKinds.begin(), AllRequestKinds.end(), kind) != AllRequestKinds.end();
    // Only the newest request of a kind decides; an older one's reply is
    // logged and changes nothing else.
    const bool newest = known && number == requestsOf(kind).newest;
    if (newest && requestsOf(kind).outstanding == rep) {
        requestsOf(kind).outstanding = nullptr;
        requestsOf(kind).limit->stop();
    }

    // The quote service reports the operator's remaining quota with each reply.
    if (kind == RequestKind::Quotes && rep->hasRawHeader("X-RateLimit-Requests-Remaining"))
        logLine(QString::asprintf("StockQuote Quota: %s requests left",
                                  rep->rawHeader("X-RateLimit-Requests-Remaining").trimmed().constData()));

    // A transfer, TLS or HTTP failure carries no data: say so, with the
    // service's reason, and change nothing. A refresh that failed for a
    // passing reason is retried; a Retry-After may suspend the host.
    if (rep->error() != QNetworkReply::NoError) {
        const QString reason = FailureReason::fromBody(ReplyText::decode(rep->readAll()));
        const QString failed = QString::asprintf("Request Failed: %s Error: %d ErrorString: %s",
                                                 rep->url().toString().toUtf8().constData(), int(rep->error()),
                                                 rep->errorString().toUtf8().constData()) +
                               FailureReason::suffix(reason);
        if (newest) {
            logFeedFailure(kind, failed);
            serviceRequestFailed(kind, rep, reason);
        } else {
            logLine(failed);
        }
        return;
    }
    if (newest)
        hostAnswered(kind);
    if (known && !newest) {
        logLine(QString::asprintf("Reply Superseded: %s", rep->url().toString().toUtf8().constData()));
        return;
    }

    const QString text = ReplyText::decode(rep->readAll());
    switch (kind) {
    case RequestKind::Point:
        handlePointReply(text);
        return;
    case RequestKind::Stations:
        handleStationListReply(text);
        return;
    case RequestKind::Observation:
        handleObservationReply(text);
        return;
    case RequestKind::Quotes:
        handleStockReply(text);
        return;
    case RequestKind::Alerts:
        handleAlertsReply(text);
        return;
    case RequestKind::Forecast:
        handleForecastReply(text);
        return;
    }
    const QString line = QString::asprintf("No Match http Response: %s", text.toUtf8().constData());
    qDebug("%s", line.toUtf8().constData());
    logLine(line);
}

void MainWindow::serviceRequestFailed(RequestKind kind, QNetworkReply* rep, const QString& reason)
{
    const int status = rep->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const std::optional<qint64> retryAfter =
        RefreshRetry::retryAfterSeconds(rep->rawHeader("Retry-After"), TimeSource::now());
    const RefreshRetry::Failure failure = RefreshRetry::classify(rep->error(), status);
    routeFeedFailure(kind, failure, status, retryAfter, reason.isEmpty() ? rep->errorString() : reason);
    // The two feeds' retries judge their own hosts; every other weather
    // request's failure may suspend the weather host.
    if (kind == RequestKind::Observation || kind == RequestKind::Quotes)
        return;
    weatherHostFailed(status, retryAfter);
}

// Where a failed request of each kind goes: the retry of the observation or
// the quotes, the alerts' or the forecast's own handling; the station lookups
// have none.
void MainWindow::routeFeedFailure(RequestKind kind, RefreshRetry::Failure failure, int status,
                                  std::optional<qint64> retryAfter, const QString& reason)
{
    switch (kind) {
    case RequestKind::Observation:
        weatherRefreshFailed(failure, status, retryAfter);
        break;
    case RequestKind::Quotes:
        stockRefreshFailed(failure, status, retryAfter);
        break;
    case RequestKind::Alerts:
        alertsFailed(status, reason);
        break;
    case RequestKind::Forecast:
        forecastFailed(status, reason);
        break;
    case RequestKind::Point:
    case RequestKind::Stations:
        break;
    }
}

void MainWindow::handlePointReply(const QString& text)
{
    const WeatherReplyReader::PointGrid grid = WeatherReplyReader::readPoint(text);
    gridId = grid.gridId;
    gridX = grid.gridX;
    gridY = grid.gridY;
    forecastUnavailableLogged = false;  // a new grid may be known
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
    const QComboBox* const itemBoxes[5] = {ui->weatherItemComboBox1, ui->weatherItemComboBox2, ui->weatherItemComboBox3,
                                           ui->weatherItemComboBox4, ui->weatherItemComboBox5};
    QVector<int> shownItems;
    for (const QComboBox* box : itemBoxes)
        shownItems << WeatherItems::numberAt(box->currentIndex());
    const QStringList missing = observation.missing(shownItems);
    if (!observation.anyMeasurementKnown(shownItems)) {
        // Nothing was measured: treated like a failed reply, nothing changes.
        logFeedFailure(RequestKind::Observation, QString::asprintf("Weather Data Missing: %s; observation ignored",
                                                                   missing.join(", ").toUtf8().constData()));
        weatherRefreshFailed(RefreshRetry::Failure::Passing);
        return;
    }

    const QDateTime now = TimeSource::now();
    if (ObservationAge::isStale(observation.timestamp, now, maxObservationAge)) {
        const qint64 age = ObservationAge::ageSeconds(observation.timestamp, now).value_or(0);
        logFeedFailure(RequestKind::Observation, ObservationAge::staleLogLine(stationId, age));
        weatherRefreshFailed(RefreshRetry::Failure::Passing);
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
    for (int slot = 0; slot < 5; ++slot) {
        const WeatherReport::ItemText* item = texts.item(WeatherItems::numberAt(itemBoxes[slot]->currentIndex()));
        for (const QString& address : addresses) {
            logLine(QString::asprintf("Sending Weather Data to %s", address.toUtf8().constData()));
            if (!item)
                continue;
            SendClockVar(address, slot, item->text);
            weatherVarLabels[slot]->setText(item->text);
        }
    }
    weatherRefreshSucceeded();
}
