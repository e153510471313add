#include "app/mainwindow.h"

#include <QHostAddress>

#include "clocklink/clockdatagram.h"
#include "clocklink/udpcommthread.h"

void MainWindow::SendClockVar(QString address, int var, QString text)
{
    // Text form only: no name resolution. An address that is not an IPv4
    // address reaches no clock: nothing is queued, and the link logs it once
    // per run. The address is read once.
    const QHostAddress clock(address);
    if (clock.protocol() != QAbstractSocket::IPv4Protocol) {
        commThread.CheckClockAddress(address);
        return;
    }
    const QByteArray datagram = ClockDatagram::build(var, text);
    commThread.SendUDP(datagram, datagram.size(), clock, CLOCK_UDP_PORT, true, 200, 0);
}
