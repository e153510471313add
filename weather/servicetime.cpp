#include "weather/servicetime.h"

QDateTime ServiceTime::parse(const QString& timestamp)
{
    const QString text = timestamp.trimmed();
    QDateTime moment = QDateTime::fromString(text, Qt::ISODate);
    // Without an offset the time is UTC, as the service's times are, whatever
    // the machine's time zone. Read again as UTC rather than relabelled: a
    // local reading may already have been moved out of a daylight-saving gap.
    if (moment.isValid() && moment.timeSpec() == Qt::LocalTime)
        moment = QDateTime::fromString(text + QLatin1Char('Z'), Qt::ISODate);
    return moment;
}
