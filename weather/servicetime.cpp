#include "weather/servicetime.h"

QDateTime ServiceTime::parse(const QString& timestamp)
{
    QDateTime moment = QDateTime::fromString(timestamp.trimmed(), Qt::ISODate);
    if (moment.isValid() && moment.timeSpec() == Qt::LocalTime)
        moment.setTimeSpec(Qt::UTC);
    return moment;
}
