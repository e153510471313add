// What the clocks show, as their answers confirm: the state built from the
// clock link's events, the Clocks window over it, and the status file that
// tells the same to a machine without a desktop.
#include "app/mainwindow.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>

#include "app/statusfile.h"
#include "app/timesource.h"
#include "app/windowplacement.h"
#include "clocklink/clockaddresslist.h"
#include "clocklink/udpcommthread.h"
#include "ui/clockstablemodel.h"
#include "ui/clockswindow.h"
#include "ui_mainwindow.h"

void MainWindow::setupClocks()
{
    startedAt = TimeSource::now();
    clocksTable = new ClocksTableModel(clockStates, this);
    refreshClockLists();
    connect(ui->clockWeatherIPListEdit, &QLineEdit::textChanged, this, &MainWindow::refreshClockLists);
    connect(ui->clockStockIPListEdit, &QLineEdit::textChanged, this, &MainWindow::refreshClockLists);
    connect(&commThread, &UDPCommThread::clockEvents, this, &MainWindow::applyClockEvents, Qt::QueuedConnection);

    auto* button = new QPushButton(QStringLiteral("Clocks\u2026"), ui->statusbar);
    button->setObjectName(QStringLiteral("clocksPushButton"));
    ui->statusbar->addPermanentWidget(button);
    connect(button, &QPushButton::clicked, this, &MainWindow::openClocksWindow);
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_K), this);
    connect(shortcut, &QShortcut::activated, this, &MainWindow::openClocksWindow);

    statusWriter = new StatusFileWriter(logDir + StatusFile::FileName);
    connect(statusWriter, &StatusFileWriter::failed, this, &MainWindow::logLine);
}

void MainWindow::applyClockEvents(const ClockLinkEvents& events)
{
    ClockLinkEvents stamped = events;
    stampEvents(stamped, TimeSource::now(), commThread.GetClockNowNs());
    clocksTable->rowsChanged(clockStates.apply(stamped));
}

void MainWindow::refreshClockLists()
{
    if (clockStates.setLists(ClockAddressList::split(ui->clockWeatherIPListEdit->text()),
                             ClockAddressList::split(ui->clockStockIPListEdit->text())))
        clocksTable->listsChanged();
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

void MainWindow::noteFeedSuccess(FeedStatus::Feed feed)
{
    feedStatus[feed].lastSuccess = TimeSource::now();
    ++feedChanges;
}

void MainWindow::logFeedFailure(RequestKind kind, const QString& line)
{
    logLine(line);
    FeedStatus& feed = feedStatus[FeedStatus::ofKind(kind)];
    feed.lastFailureLine = line;
    feed.lastFailureAt = TimeSource::now();
    ++feedChanges;
}

StatusSnapshot MainWindow::statusSnapshot(const QDateTime& now, bool running) const
{
    StatusSnapshot snapshot;
    snapshot.version =
        QString::asprintf("%d.%d.%d", CORVELTA_VERSION_MAJOR, CORVELTA_VERSION_MINOR, CORVELTA_VERSION_PATCH);
    snapshot.started = startedAt;
    snapshot.written = now;
    snapshot.running = running;
    snapshot.feeds = feedStatus;
    // A suspension holds every request to its host: the weather host serves
    // the alerts and the forecast too.
    if (weatherRetry.suspendedAt(now))
        for (const auto feed : {FeedStatus::Weather, FeedStatus::Alerts, FeedStatus::Forecast})
            snapshot.feeds[feed].suspendedUntil = weatherRetry.suspendedUntil;
    if (stockRetry.suspendedAt(now))
        snapshot.feeds[FeedStatus::Stocks].suspendedUntil = stockRetry.suspendedUntil;
    snapshot.clocks = clockStates.clocks();
    return snapshot;
}

void MainWindow::writeStatusFileIfDue(const QDateTime& now)
{
    if (!statusWriter || finalStatusWritten)
        return;
    const quint64 changes = clockStates.generation() + feedChanges;
    if (!StatusFile::due(now, statusWrittenAt, changes != statusWrittenChanges, int(clockStates.clocks().size())))
        return;
    statusWriter->submit(statusSnapshot(now, true));
    statusWrittenAt = now;
    statusWrittenChanges = changes;
}

void MainWindow::writeFinalStatusFile()
{
    if (!statusWriter || finalStatusWritten)
        return;
    finalStatusWritten = true;
    statusWriter->writeNow(statusSnapshot(TimeSource::now(), false));
}
