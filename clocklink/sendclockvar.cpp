#include "app/mainwindow.h"

#include <QHostAddress>

#include "clocklink/clockdatagram.h"
#include "clocklink/udpcommthread.h"

void MainWindow::SendClockVar(QString address, int var, QString text)
{
    const QByteArray datagram = ClockDatagram::build(var, text);
    // Text form only: no name resolution. An address that does not parse is
    // a null address, given up on the same timeline as a silent clock.
    commThread.SendUDP(datagram, datagram.size(), QHostAddress(address), CLOCK_UDP_PORT, true, 200, 0);
}
