#include "app/mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include "app/deploymentconfig.h"
#include "app/refreshplan.h"
#include "app/servicerequests.h"
#include "app/statusboard.h"
#include "app/timesource.h"
#include "app/updateschedule.h"
#include "app/webserver.h"
#include "clocklink/udpcommthread.h"
#include "ui/captionfit.h"
#include "ui/clockstablemodel.h"
#include "ui/clockswindow.h"
#include "ui_mainwindow.h"
#include "weather/alertsforecastfeed.h"
#include "weather/weatheritems.h"

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    // Steps in this order: the settings path exists before anything reads it,
    // the log is open before the first log line, and the settings are loaded
    // before the status label and the counters that depend on them.
    settingsFile = QCoreApplication::applicationDirPath() + "/crv_settings.ini";

    networkManager = new QNetworkAccessManager(this);
    connect(networkManager, &QNetworkAccessManager::finished, this, &MainWindow::httpResponses);
    connect(networkManager, &QNetworkAccessManager::sslErrors, this, &MainWindow::sslErrors);
    // The requests go through the manager; each feed's plan judges a failure
    // against the feed's schedule as it stands then.
    serviceRequests = new ServiceRequests(networkManager, this);
    weatherPlan = new RefreshPlan(QStringLiteral("Weather"), this);
    weatherPlan->setSchedule([this] {
        const bool open = UpdateSchedule::insideWindow(TimeSource::now(), weatherStart, weatherStop, weatherWeekend);
        return RefreshPlan::Schedule{open, weatherInterval, weatherCounter};
    });
    stockPlan = new RefreshPlan(QStringLiteral("Stocks"), this);
    stockPlan->setSchedule([this] {
        const bool open = UpdateSchedule::insideWindow(TimeSource::now(), stockStart, stockStop, stockWeekend);
        return RefreshPlan::Schedule{open, stockInterval, stockCounter};
    });
    alertsFeed = new AlertsForecastFeed(*serviceRequests, *weatherPlan, this);
    connect(serviceRequests, &ServiceRequests::logLine, this, &MainWindow::logLine);
    connect(weatherPlan, &RefreshPlan::logLine, this, &MainWindow::logLine);
    connect(stockPlan, &RefreshPlan::logLine, this, &MainWindow::logLine);
    connect(alertsFeed, &AlertsForecastFeed::logLine, this, &MainWindow::logLine);
    connect(alertsFeed, &AlertsForecastFeed::rowsText, this, &MainWindow::sendWeatherRows);
    routeReplies();
    // Before the settings: its deployment keys are read into it.
    webServer = new WebServer(this);
    connect(webServer, &WebServer::logLine, this, &MainWindow::logLine);

    ui->setupUi(this);

    ui->latitudeLineEdit->setInputMask("099.9900");
    ui->longitudeLineEdit->setInputMask("-099.9900");

    setWindowTitle(QString::asprintf("Corvelta Version %d.%d.%d", CORVELTA_VERSION_MAJOR, CORVELTA_VERSION_MINOR,
                                     CORVELTA_VERSION_PATCH));

    commThread.start(QThread::NormalPriority);

    connect(this, &MainWindow::OnSendToLogfile, this, &MainWindow::SendToLogfile);
    // The clock link tells of clocks that stop or start answering from its
    // own thread; the lines reach the log and the status bar here.
    connect(&commThread, &UDPCommThread::clockLinkMessage, this, &MainWindow::logLine, Qt::QueuedConnection);
    connect(
        &commThread, &UDPCommThread::clockAnswering, this,
        [this](QString address, bool answering) {
            statusState.clocks[address] = answering;
            updateStatusBar();
        },
        Qt::QueuedConnection);
    // Texts a clock missed are kept for it only while it is in a list.
    for (QLineEdit* list : {ui->clockWeatherIPListEdit, ui->clockStockIPListEdit})
        connect(list, &QLineEdit::editingFinished, this, [this] {
            commThread.ForgetUnlistedClocks(
                StatusBarText::listedClocks(ui->clockWeatherIPListEdit->text(), ui->clockStockIPListEdit->text())
                    .values());
        });

    // The weather rows, once: item box, label and variable of each.
    QComboBox* const itemBoxes[5] = {ui->weatherItemComboBox1, ui->weatherItemComboBox2, ui->weatherItemComboBox3,
                                     ui->weatherItemComboBox4, ui->weatherItemComboBox5};
    weatherVarLabels[0] = ui->lastWeatherVar1;
    weatherVarLabels[1] = ui->lastWeatherVar2;
    weatherVarLabels[2] = ui->lastWeatherVar3;
    weatherVarLabels[3] = ui->lastWeatherVar4;
    weatherVarLabels[4] = ui->lastWeatherVar5;
    for (int slot = 0; slot < 5; ++slot) {
        itemBoxes[slot]->addItems(WeatherItems::names());
        weatherRows[size_t(slot)] = WeatherRow{itemBoxes[slot], weatherVarLabels[slot], slot, 0};
    }
    stockVarLabels[0] = ui->lastStockVar1;
    stockVarLabels[1] = ui->lastStockVar2;
    stockVarLabels[2] = ui->lastStockVar3;
    stockVarLabels[3] = ui->lastStockVar4;
    stockVarLabels[4] = ui->lastStockVar5;
    // Texts that grow with data may be longer than their label: the whole
    // text is the label's tool tip.
    CaptionFit::showTextAsToolTip({ui->locationStatusLabel, ui->lastUpdateLabel, ui->lastWeatherVar1,
                                   ui->lastWeatherVar2, ui->lastWeatherVar3, ui->lastWeatherVar4, ui->lastWeatherVar5,
                                   ui->lastStockVar1, ui->lastStockVar2, ui->lastStockVar3, ui->lastStockVar4,
                                   ui->lastStockVar5});

    // What the alerts and forecast rows read of the window when they ask.
    alertsFeed->setInputs([this] {
        AlertsForecastFeed::Inputs inputs;
        inputs.latitude = ui->latitudeLineEdit->text();
        inputs.longitude = ui->longitudeLineEdit->text();
        inputs.gridId = gridId;
        inputs.gridX = gridX;
        inputs.gridY = gridY;
        inputs.usUnits = units;
        for (const WeatherRow& row : weatherRows) {
            const WeatherItems::Item* item = WeatherItems::item(WeatherItems::numberAt(row.item->currentIndex()));
            inputs.showsAlerts |= item && item->source == WeatherItems::Source::Alerts;
            inputs.showsForecast |= item && item->source == WeatherItems::Source::Forecast;
        }
        inputs.baseUrl = weatherBaseUrl;
        inputs.userAgent = weatherUserAgent;
        return inputs;
    });

    openLogFile(QDir::currentPath() + "/");
    logLine("****************Corvelta Startup*******");

    loadSettings();
    watchSettingsEdits();
    removeExpiredLogs();
    setupClocks();

    ui->locationStatusLabel->setText(
        QString("ID: %1 Grid: %2,%3 Station: %4").arg(gridId).arg(gridX).arg(gridY).arg(stationId));

    commThread.SetRetryParameters(3, 100);

    stockHost = serviceEndpoint(stockBaseUrl).host;

    // In 64 bits, as the tick comparison: a huge interval must not overflow.
    weatherCounter = qint64(weatherInterval) * 60;
    stockCounter = qint64(stockInterval) * 60 - 10;

    updateStatusBar();
    // Once more when the event loop runs, for whoever connected to the
    // window after it was built.
    QTimer::singleShot(0, this, &MainWindow::updateStatusBar);

    updateTimer = new QTimer(this);
    updateTimer->setInterval(1000);
    updateTimer->start();
    connect(updateTimer, &QTimer::timeout, this, &MainWindow::timerTimeout);
}

MainWindow::~MainWindow()
{
    commThread.StopThread();
    webServer->stop();
    statusBoard->writeFinal();
    // Before the clocks' state they show goes with the children.
    delete clocksWindow;
    delete clocksTable;
    delete ui;
}

// Each kind of reply goes to its branch; the observation's and the quotes'
// failures to their feed's retries, every other reply of the weather host
// only to its suspension.
void MainWindow::routeReplies()
{
    const auto weatherAnswered = [this](const QDateTime& sentAt) { weatherPlan->hostAnswered(sentAt); };
    const auto weatherHostFailed = [this](const RequestFailure& failure) {
        weatherPlan->hostFailed(failure.httpStatus, failure.retryAfter);
    };
    ServiceRequests::Route point{FeedStatus::Weather, [this](const QString& text) { handlePointReply(text); },
                                 weatherHostFailed, weatherAnswered, nullptr};
    serviceRequests->setRoute(RequestKind::Point, point);
    ServiceRequests::Route stations{FeedStatus::Weather, [this](const QString& text) { handleStationListReply(text); },
                                    weatherHostFailed, weatherAnswered, nullptr};
    serviceRequests->setRoute(RequestKind::Stations, stations);
    ServiceRequests::Route observation{
        FeedStatus::Weather, [this](const QString& text) { handleObservationReply(text); },
        [this](const RequestFailure& f) { weatherPlan->refreshFailed(f.failure, f.httpStatus, f.retryAfter); },
        weatherAnswered, nullptr};
    serviceRequests->setRoute(RequestKind::Observation, observation);
    ServiceRequests::Route quotes{
        FeedStatus::Stocks, [this](const QString& text) { handleStockReply(text); },
        [this](const RequestFailure& f) { stockPlan->refreshFailed(f.failure, f.httpStatus, f.retryAfter); },
        [this](const QDateTime& sentAt) { stockPlan->hostAnswered(sentAt); },
        // The quote service reports the operator's remaining quota with each reply.
        [this](QNetworkReply* reply) {
            if (reply->hasRawHeader("X-RateLimit-Requests-Remaining"))
                logLine(QString::asprintf("StockQuote Quota: %s requests left",
                                          reply->rawHeader("X-RateLimit-Requests-Remaining").trimmed().constData()));
        }};
    serviceRequests->setRoute(RequestKind::Quotes, quotes);
}

// Every reply of both feeds arrives here and is read as the kind of its own
// request (ServiceRequests::handle), never as whatever was asked last.
void MainWindow::httpResponses(QNetworkReply* rep)
{
    serviceRequests->handle(rep);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    shutDown();
    // Left accepted, base handler not called: the window always closes.
    Q_UNUSED(event);
}

void MainWindow::shutDown()
{
    if (shutDownDone)
        return;
    shutDownDone = true;
    settingsWriteTimer->stop();
    saveSettingsIfChanged();
    if (clocksWindow)
        clocksWindow->close();  // its place is saved; it goes with this window
    logLine("*****Corvelta Shutdown******");
    // No page shows a state the last status file would contradict.
    webServer->stop();
    statusBoard->writeFinal();
    if (logOpen && logFile.isOpen())
        logFile.close();
}

void MainWindow::noteRefreshSucceeded(FeedStatus::Feed feed)
{
    (feed == FeedStatus::Weather ? statusState.weather : statusState.stocks) = TimeSource::now().time();
    statusBoard->noteSuccess(feed);
    updateStatusBar();
}

void MainWindow::logFeedFailure(FeedStatus::Feed feed, const QString& line)
{
    logLine(line);
    statusBoard->noteFailure(feed, line);
}

void MainWindow::updateStatusBar()
{
    // A clock taken out of both lists leaves the status bar.
    statusState.listed =
        StatusBarText::listedClocks(ui->clockWeatherIPListEdit->text(), ui->clockStockIPListEdit->text());
    ui->statusbar->showMessage(StatusBarText::compose(statusState));
    emit serviceStatusChanged(StatusBarText::serviceLine(statusState));
}
