// SKELETON STUB: replaced by the reply handling.
#include "mainwindow.h"

#include <QNetworkReply>

void MainWindow::httpResponses(QNetworkReply* rep) { rep->deleteLater(); }
void MainWindow::handlePointReply(const QString&) {}
void MainWindow::handleStationListReply(const QString&) {}
void MainWindow::handleObservationReply(const QString&) {}
