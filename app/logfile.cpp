// SKELETON STUB: replaced by the real log file.
#include "mainwindow.h"

#include <QDebug>

void MainWindow::logLine(QString message) { emit OnSendToLogfile(message); }
void MainWindow::SendToLogfile(QString s) { qDebug("%s", s.toLocal8Bit().constData()); }
void MainWindow::openLogFile(QString dir) { logDir = dir; }
void MainWindow::reopenLogFile() { openLogFile(logDir); }
void MainWindow::removeOldLogs(int) {}
