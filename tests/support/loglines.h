#pragma once

#include <QSignalSpy>
#include <QStringList>

// The lines an object logged: the text argument of every logLine signal the
// spy caught, in order.
inline QStringList loggedLines(const QSignalSpy& logLine)
{
    QStringList lines;
    for (const QList<QVariant>& arguments : logLine)
        lines << arguments.value(0).toString();
    return lines;
}
