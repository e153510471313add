#include "clocklink/clockaddresslist.h"

QStringList ClockAddressList::split(const QString& text)
{
    QStringList addresses = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString& address : addresses)
        address.remove(QLatin1Char(' '));
    return addresses;
}
