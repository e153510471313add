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

QString ClockDatagram::textOf(const QByteArray& datagram)
{
    if (datagram.size() < 3 || datagram.at(0) != LeadByte)
        return QString();
    return QString::fromUtf8(datagram.constData() + 2, datagram.size() - 3);
}
