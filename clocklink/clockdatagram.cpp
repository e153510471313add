#include "clocklink/clockdatagram.h"

QByteArray ClockDatagram::build(int variable, const QString& text)
{
    // Most texts are ASCII: written straight into the datagram (a round
    // to many clocks builds thousands).
    QByteArray ascii(text.size() + 3, Qt::Uninitialized);
    char* out = ascii.data();
    *out++ = LeadByte;
    *out++ = char(variable & 0xFF);
    const QChar* c = text.constData();
    const QChar* const end = c + text.size();
    for (; c != end && c->unicode() < 0x80; ++c)
        *out++ = char(c->unicode());
    if (c == end) {
        *out = '\0';
        return ascii;
    }
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
