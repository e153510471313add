#pragma once

#include <QByteArray>
#include <QString>

// Every clock listens on this UDP port, and the program sends from it.
constexpr quint16 CLOCK_UDP_PORT = 7372;

namespace ClockDatagram {

constexpr char LeadByte = char(0xBE);
constexpr char AckByte = 'A';

// 0xBE, the low 8 bits of the variable number, the text as UTF-8, 0x00.
QByteArray build(int variable, const QString& text);

// The text of a datagram build() made (empty for anything else).
QString textOf(const QByteArray& datagram);

// A clock acknowledges with any datagram whose first byte is "A".
inline bool isAcknowledgement(const QByteArray& datagram)
{
    return !datagram.isEmpty() && datagram.at(0) == AckByte;
}

}  // namespace ClockDatagram
