// SKELETON STUB: replaced by the real scheduler.
#include "mainwindow.h"

void MainWindow::timerTimeout() {}
