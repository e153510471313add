// SKELETON STUB: replaced by the stock feed.
#include "mainwindow.h"

void MainWindow::getStocks() {}
void MainWindow::on_updateStocksPushButton_clicked() { getStocks(); }
void MainWindow::handleStockReply(const QString&) {}
