#pragma once

// A clock datagram written out by hand, as the clocks expect it: 0xBE, the
// variable number, the text in UTF-8, 0x00. Tests compare what the program
// sends with this, not with the program's own datagram builder.

#include <QByteArray>
#include <QString>

inline QByteArray datagram(int variable, const QByteArray& utf8Text)
{
    QByteArray bytes;
    bytes.append(char(0xBE));
    bytes.append(char(variable));
    bytes.append(utf8Text);
    bytes.append('\0');
    return bytes;
}

inline QByteArray datagram(int variable, const QString& text)
{
    return datagram(variable, text.toUtf8());
}

inline QByteArray datagram(int variable, const char* utf8Text)
{
    return datagram(variable, QByteArray(utf8Text));
}
