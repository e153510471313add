// SKELETON STUB: replaced by the real settings file.
#include "mainwindow.h"

void MainWindow::loadSettings() {}
void MainWindow::saveSettings() {}
