#include "clocklink/clockdatagram.h"

QByteArray ClockDatagram::build(int variable, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray datagram;
    datagram.reserve(utf8.size() + 3);
    datagram.append(LeadByte);
    datagram.append(char(variable & 0xFF));
    datagram.append(utf8);
    datagram.append('\0');
    return datagram;
}
