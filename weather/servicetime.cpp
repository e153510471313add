#include "weather/servicetime.h"

QDateTime ServiceTime::parse(const QString& timestamp)
{
    const QString text = timestamp.trimmed();
    const QDateTime moment = QDateTime::fromString(text, Qt::ISODate);
    if (moment.isValid() && moment.timeSpec() != Qt::LocalTime)
        return moment;
    // Without an offset the time is UTC, as the service's times are, whatever
    // the machine's time zone. Read again as UTC rather than relabelled: a
    // local reading may have been moved out of a daylight-saving gap, or be
    // invalid in it (02:30 on the night the clocks go forward).
    const QDateTime utc = QDateTime::fromString(text + QLatin1Char('Z'), Qt::ISODate);
    return utc.isValid() ? utc : moment;
}
