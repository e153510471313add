#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// Reads the weather service's three replies (point, station list, latest
// observation) out of their text, without a window and without the network.
namespace WeatherReplyReader {

// The forecast grid of a point: each key searched from the start of the text.
struct PointGrid
{
    QString gridId;
    QString gridX;
    QString gridY;
};
PointGrid readPoint(const QString& text);

// One "name: id" entry per station, sorted by UTF-16 code units (so names in
// upper case come before names in lower case).
QStringList readStationEntries(const QString& text);

// One measurement of an observation, by its key in the reply: the raw text
// cut from the reply, its unit, and whether it is a number the station
// actually reported in a unit the weather items understand. A null value, a
// value that is not a number, a value whose "qualityControl" (inside the
// measurement's own object) is "X" (rejected) or "B" (judged bad), in older
// replies "qc:X" and "qc:B", a value stated in a unit the items do not
// understand, or a measurement (or its "value") that is missing from the
// reply is unknown.
struct Measurement
{
    QString key;
    QString raw;
    QString qualityControl;  // the flag as the reply gives it; empty when absent
    // The measurement's own "unitCode" without its "wmoUnit:" or "unit:"
    // prefix ("degF"); when it states none (or null), the unit the items
    // assume (WeatherItems::understoodUnits).
    QString unit;
    bool unitUnderstood = true;
    bool known = false;
};

// The timestamp and the description are empty when missing or JSON null. The
// measurements are those the weather items read (weather/weatheritems.h).
struct Observation
{
    QString timestamp;
    QString description;
    QVector<Measurement> measurements;  // in the items' order

    // The measurement of that key; an unknown one when it was not read.
    const Measurement& measurement(const QString& key) const;
    // The reply's key names of the unknown measurements, in the items' order;
    // one stated in a unit not understood with that unit: "temperature (unit K)".
    // Only the measurements that count are looked at: those of the summary
    // and of the items numbered in `shownItems` (WeatherItems::countedMeasurements).
    QStringList missing(const QVector<int>& shownItems = {}) const;
    bool anyMeasurementKnown(const QVector<int>& shownItems = {}) const;
};

// The timestamp, the description and then the items' measurements in the
// order they stand in the reply, each search starting where the one before it
// stopped; each measurement's members read in one walk of its own object.
Observation readObservation(const QString& text);

}  // namespace WeatherReplyReader
