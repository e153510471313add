// What the clocks show, as their answers confirm: the status board built
// from the clock link's events, the Clocks window over it, and the status
// file and the web page that tell the same to a machine without a desktop.
#include "app/mainwindow.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>

#include "app/refreshplan.h"
#include "app/servicerequests.h"
#include "app/statusboard.h"
#include "app/statusfile.h"
#include "app/timesource.h"
#include "app/webserver.h"
#include "app/windowplacement.h"
#include "clocklink/clockaddresslist.h"
#include "clocklink/udpcommthread.h"
#include "ui/clockstablemodel.h"
#include "ui/clockswindow.h"
#include "ui_mainwindow.h"
#include "weather/alertsforecastfeed.h"

void MainWindow::setupClocks()
{
    statusBoard = new StatusBoard(this);
    connect(statusBoard, &StatusBoard::logLine, this, &MainWindow::logLine);
    // A suspension holds every request to its host: the weather host serves
    // the alerts and the forecast too.
    for (const auto feed : {FeedStatus::Weather, FeedStatus::Alerts, FeedStatus::Forecast})
        statusBoard->setHost(feed, weatherPlan);
    statusBoard->setHost(FeedStatus::Stocks, stockPlan);
    statusBoard->setTiming(FeedStatus::Weather, [this](const QDateTime& now) { return weatherPlan->timing(now); });
    statusBoard->setTiming(FeedStatus::Stocks, [this](const QDateTime& now) { return stockPlan->timing(now); });
    for (const auto feed : {FeedStatus::Alerts, FeedStatus::Forecast})
        statusBoard->setTiming(feed, [this, feed](const QDateTime& now) { return alertsFeed->timing(feed, now); });
    connect(serviceRequests, &ServiceRequests::feedFailure, statusBoard, &StatusBoard::noteFailure);
    connect(alertsFeed, &AlertsForecastFeed::feedFailure, statusBoard, &StatusBoard::noteFailure);
    connect(alertsFeed, &AlertsForecastFeed::feedSucceeded, statusBoard, &StatusBoard::noteSuccess);

    clocksTable = new ClocksTableModel(statusBoard->clocks(), this);
    connect(statusBoard, &StatusBoard::rowsChanged, clocksTable, &ClocksTableModel::rowsChanged);
    connect(statusBoard, &StatusBoard::listsChanged, clocksTable, &ClocksTableModel::listsChanged);
    // The address lists as edited: clocks join or leave the table.
    const auto refreshLists = [this] {
        statusBoard->setLists(ClockAddressList::split(ui->clockWeatherIPListEdit->text()),
                              ClockAddressList::split(ui->clockStockIPListEdit->text()));
    };
    refreshLists();
    connect(ui->clockWeatherIPListEdit, &QLineEdit::textChanged, this, refreshLists);
    connect(ui->clockStockIPListEdit, &QLineEdit::textChanged, this, refreshLists);
    statusBoard->follow(commThread);

    auto* button = new QPushButton(QStringLiteral("Clocks\u2026"), ui->statusbar);
    button->setObjectName(QStringLiteral("clocksPushButton"));
    ui->statusbar->addPermanentWidget(button);
    connect(button, &QPushButton::clicked, this, &MainWindow::openClocksWindow);
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_K), this);
    connect(shortcut, &QShortcut::activated, this, &MainWindow::openClocksWindow);

    statusBoard->startWriting(logDir + StatusFile::FileName);
    // The web server's threads read the snapshot each tick publishes.
    if (webServer->start(statusBoard->publisher()))
        statusBoard->startPublishing(TimeSource::now());
}

void MainWindow::openClocksWindow()
{
    if (!clocksWindow) {
        clocksWindow = new ClocksWindow(clocksTable, this);
        if (const auto size = WindowPlacement::parseSize(clocksWindowSize))
            clocksWindow->resize(*size);
        if (const auto position = WindowPlacement::parsePosition(clocksWindowPos)) {
            QList<QRect> screens;
            for (const QScreen* screen : QGuiApplication::screens())
                screens << screen->availableGeometry();
            const QScreen* primary = QGuiApplication::primaryScreen();
            clocksWindow->move(WindowPlacement::onScreen(*position, clocksWindow->size(), screens,
                                                         primary ? primary->availableGeometry() : QRect()));
        }
    }
    clocksWindow->show();
    clocksWindow->raise();
    clocksWindow->activateWindow();
}
