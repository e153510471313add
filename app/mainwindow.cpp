#include "app/mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include "app/deploymentconfig.h"
#include "app/statusfile.h"
#include "app/timesource.h"
#include "clocklink/udpcommthread.h"
#include "ui/captionfit.h"
#include "ui/clockstablemodel.h"
#include "ui/clockswindow.h"
#include "ui_mainwindow.h"
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

    for (QComboBox* box : {ui->weatherItemComboBox1, ui->weatherItemComboBox2, ui->weatherItemComboBox3,
                           ui->weatherItemComboBox4, ui->weatherItemComboBox5})
        box->addItems(WeatherItems::names());

    weatherVarLabels[0] = ui->lastWeatherVar1;
    weatherVarLabels[1] = ui->lastWeatherVar2;
    weatherVarLabels[2] = ui->lastWeatherVar3;
    weatherVarLabels[3] = ui->lastWeatherVar4;
    weatherVarLabels[4] = ui->lastWeatherVar5;
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

    updateTimer = new QTimer(this);
    updateTimer->setInterval(1000);
    updateTimer->start();
    connect(updateTimer, &QTimer::timeout, this, &MainWindow::timerTimeout);
}

MainWindow::~MainWindow()
{
    commThread.StopThread();
    writeFinalStatusFile();
    delete statusWriter;
    // Before the clocks' state they show goes with the members.
    delete clocksWindow;
    delete clocksTable;
    delete ui;
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
    writeFinalStatusFile();
    if (logOpen && logFile.isOpen())
        logFile.close();
}

void MainWindow::noteRefreshSucceeded(Feed feed)
{
    (feed == Feed::Weather ? statusState.weather : statusState.stocks) = TimeSource::now().time();
    noteFeedSuccess(feed == Feed::Weather ? FeedStatus::Weather : FeedStatus::Stocks);
    updateStatusBar();
}

void MainWindow::updateStatusBar()
{
    // A clock taken out of both lists leaves the status bar.
    statusState.listed =
        StatusBarText::listedClocks(ui->clockWeatherIPListEdit->text(), ui->clockStockIPListEdit->text());
    ui->statusbar->showMessage(StatusBarText::compose(statusState));
}
