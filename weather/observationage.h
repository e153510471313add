#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// How old an observation is. The weather service sometimes serves an
// observation hours old as the latest one; such a one is not sent.
namespace ObservationAge {

// Minutes an observation may be old before it is stale (the deployment key
// "maxobservationage" changes it).
constexpr int DefaultMaxMinutes = 120;

// The observation's age at `now` in seconds, from its ISO 8601 timestamp
// ("2024-06-12T18:54:00+00:00"; one without an offset is UTC); nothing when
// the timestamp cannot be read.
// A timestamp in the future gives a negative age.
std::optional<qint64> ageSeconds(const QString& timestamp, const QDateTime& now);

// Whether the observation is more than `maxMinutes` old. A timestamp that
// cannot be read is not stale by itself.
bool isStale(const QString& timestamp, const QDateTime& now, qint64 maxMinutes);

// "Weather Observation Stale: %s is %d minutes old" (station, whole minutes).
QString staleLogLine(const QString& station, qint64 ageSeconds);

// The value of "maxobservationage" as read from the settings file: a whole
// number of minutes above 0; anything else (absent, empty, no number, 0 or
// less) means the default.
int maxMinutesFromSetting(const QString& setting);

}  // namespace ObservationAge
