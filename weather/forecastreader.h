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
    QString name;             // "Tonight"; empty when missing or null
    QDateTime startTime;      // invalid when missing or unreadable
    QDateTime endTime;
    QString temperature;      // the whole number as text; empty when missing, null or no number
    QString temperatureUnit;  // "F" or "C", as the service gives it
    QString shortForecast;    // "Chance Snow Showers"
};

struct Reading
{
    bool readable = false;  // a complete JSON object with "properties" holding a "periods" list
    QString problem;        // why not, for the log line
    QDateTime updateTime;   // invalid when missing or unreadable
    QVector<Period> periods;  // in reply order
};

Reading read(const QString& text);

// Index of the first period whose end is after `now`; -1 when none is left.
int currentPeriod(const Reading& reading, const QDateTime& now);

// "%name: %temperature %unit, %shortForecast" ("Tonight: 28 F, Chance Snow
// Showers"; without ", ..." when the period has no short forecast). Nothing
// when the name, the temperature or its unit is missing: nothing is sent and
// the label keeps its text, as for a missing measurement.
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
