#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>
#include <optional>

// Reads the weather service's forecast for a grid (a GeoJSON feature whose
// "properties" hold "updateTime" and the list of "periods": today, tonight,
// tomorrow...) and gives the text of the period in progress. The periods are
// kept, so the slot can move on to the next one as time passes without asking
// the service again. Each value is read only among the top-level members of
// its own object, in one pass over the reply.
namespace ForecastReader {

struct Period
{
    QString name;         // "Tonight"; empty when missing or null
    QDateTime startTime;  // invalid when missing or unreadable
    QDateTime endTime;
    // The whole number as text; empty when missing, null, no number or in a
    // unit other than degF and degC. From the older integer form with the
    // unit letter it states, or from the value object in the units asked for.
    QString temperature;
    QString temperatureUnit;  // "F" or "C"
    QString shortForecast;    // "Chance Snow Showers"
};

struct Reading
{
    bool readable = false;    // a complete JSON object with "properties" holding a "periods" list
    QString problem;          // why not, for the log line
    QDateTime updateTime;     // invalid when missing or unreadable
    QVector<Period> periods;  // in reply order
};

// `usUnits`: the units the forecast was asked in; a temperature given as a
// value object in the other unit is converted to them.
Reading read(const QString& text, bool usUnits = true);

// Index of the first period whose end is after `now`; -1 when none is left.
int currentPeriod(const Reading& reading, const QDateTime& now);

// "%name: %temperature %unit, %shortForecast" ("Tonight: 28 F, Chance Snow
// Showers"; without ", ..." when the period has no short forecast). Nothing
// when the name, the temperature or its unit is missing (the rows then show
// "Forecast --").
std::optional<QString> periodText(const Period& period);

// The slot's text at `now`: that of the current period, nothing when it
// cannot be told (as periodText), or "Forecast --" when no period is left.
std::optional<QString> textAt(const Reading& reading, const QDateTime& now);

// A forecast more than this many hours old is not sent.
constexpr int MaxAgeHours = 24;

// Whole hours since "updateTime"; nothing when it cannot be read (such a
// forecast is not stale by itself, as for an observation).
std::optional<qint64> hoursSinceUpdate(const Reading& reading, const QDateTime& now);
bool isStale(const Reading& reading, const QDateTime& now);

// "Weather Forecast Stale: updated %d hours ago"
QString staleLogLine(qint64 hours);

inline const char* const NoPeriodLeftText = "Forecast --";

}  // namespace ForecastReader
