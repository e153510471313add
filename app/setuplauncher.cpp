// SKELETON STUB: replaced by the setup dialog.
#include "mainwindow.h"

void MainWindow::on_setupPushButton_clicked() {}
