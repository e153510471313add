#include "support/substituteclock.h"

#include <QNetworkDatagram>

SubstituteClock::SubstituteClock(const QHostAddress& address, quint16 port, QObject* parent)
    : QObject(parent)
    , boundAddress(address)
{
    clock.start();
    // Address reuse lets the clock share port 7372 with the program's socket.
    socket.bind(address, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    connect(&socket, &QUdpSocket::readyRead, this, &SubstituteClock::readPending);
}

bool SubstituteClock::isBound() const
{
    return socket.state() == QAbstractSocket::BoundState;
}

void SubstituteClock::sendTo(const QHostAddress& address, quint16 port, const QByteArray& data)
{
    socket.writeDatagram(data, address, port);
}

void SubstituteClock::readPending()
{
    while (socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket.receiveDatagram();
        Arrival arrival;
        arrival.data = datagram.data();
        arrival.sender = datagram.senderAddress();
        arrival.senderPort = quint16(datagram.senderPort());
        arrival.msecs = clock.elapsed();
        arrivals.append(arrival);
        if (!answerBytes.isEmpty())
            socket.writeDatagram(answerBytes, arrival.sender, arrival.senderPort);
        emit datagramReceived(arrival.data);
    }
}
