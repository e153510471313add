#include "app/mainwindow.h"

#include "clocklink/udpcommthread.h"

void MainWindow::SendClockVar(QString address, int var, QString text)
{
    queueClockVar(address, var, text);
}
