#include "weather/observationage.h"

#include "weather/servicetime.h"

std::optional<qint64> ObservationAge::ageSeconds(const QString& timestamp, const QDateTime& now)
{
    const QDateTime taken = ServiceTime::parse(timestamp);
    if (!taken.isValid() || !now.isValid())
        return std::nullopt;
    return taken.secsTo(now);
}

bool ObservationAge::isStale(const QString& timestamp, const QDateTime& now, qint64 maxMinutes)
{
    const std::optional<qint64> age = ageSeconds(timestamp, now);
    return age && *age > maxMinutes * 60;
}

QString ObservationAge::staleLogLine(const QString& station, qint64 ageSeconds)
{
    return QString::asprintf("Weather Observation Stale: %s is %lld minutes old", qUtf8Printable(station),
                             static_cast<long long>(ageSeconds / 60));
}

int ObservationAge::maxMinutesFromSetting(const QString& setting)
{
    bool ok = false;
    const int minutes = setting.trimmed().toInt(&ok);
    return ok && minutes > 0 ? minutes : DefaultMaxMinutes;
}
