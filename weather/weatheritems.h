#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include "weather/weatherreplyreader.h"

// The weather items the operator chooses from for each of the five weather
// rows: one table, in the order of the combo boxes. Each row carries the
// item's number, which the settings file stores ("weathercombo1" ..): a new
// item takes a new number, never one of another row or a retired one, so the
// rows saved by every user keep their items after an upgrade.
//
// Each row names the reply its text comes from, the values of that reply it
// reads and how its text is made. The combo boxes, the reading of the
// observation, the "Weather Data Missing" list, the "anything measured" check
// and the conditions summary are all built from the rows, so a new item is
// one row here and its formatter.
namespace WeatherItems {

// The reply whose values make an item's text.
enum class Source {
    Nothing,      // "None": never sent
    Observation,  // the station's latest observation
    Alerts,       // the active alerts for the point (AlertsReader)
    Forecast,     // the forecast for the grid (ForecastReader)
};

// One value of the item's reply, by its key in the reply. A required value
// that is unknown leaves the whole item unknown; an optional one is read and
// handed to the formatter either way. `units` are the units the service may
// state it in (WeatherFormat::Unit), all of which the formatter converts; the
// first is the one a value without a stated unit is taken in. A value stated
// in any other unit is unknown.
struct Value
{
    const char* key;
    bool required;
    QStringList units;
};

// An item's text for one reply; an unknown item is neither sent nor shown.
struct ItemText
{
    QString text;
    bool known = false;
};

// Makes the item's text from its reply's values, once every required value
// is known.
using Formatter = QString (*)(const WeatherReplyReader::Observation& reply, bool usUnits);

struct Item
{
    int number;        // stored in the settings file; never changes
    const char* name;  // the entry shown in the combo boxes
    Source source;
    QVector<Value> reads;     // in the order the service lays them out
    const char* summaryName;  // its part of the conditions summary ("Temp"); null: none
    Formatter format;         // null for "None" and for the items of other replies
};

const QVector<Item>& table();

// Numbers of items that were removed: never given to a new row, so a file
// that still holds one does not show another item.
const QVector<int>& retiredNumbers();

// The row of item `number`; null for a number no row has (-1: no selection,
// or a number stored by a newer version of the program).
const Item* item(int number);

// The item number of the combo box entry at `position`; -1 for none.
int numberAt(int position);

// The combo box entry of item `number`; -1 for a number no row has.
int position(int number);

// The item number a weather row writes to the settings file: the one it
// shows, or, while it shows none, the number read from the file, so that an
// item of a newer version survives a run of this one.
int storedIndex(int shownIndex, int loadedIndex);

// The combo box entries, in table order.
QStringList names();

// The measurements the observation's rows read, each once, in row order.
QStringList observationMeasurements();

// The measurements that count as measured or missing: those of the rows in
// the conditions summary, and those of the rows of `shownItems` (item
// numbers), each once, in row order.
QStringList countedMeasurements(const QVector<int>& shownItems);

// The units the rows understand for that measurement of the observation, the
// assumed one first; none for a key no row reads.
QStringList understoodUnits(const QString& key);

// The item's text from its reply: unknown when a required value is.
ItemText text(const Item& item, const WeatherReplyReader::Observation& reply, bool usUnits);

// "Currently: <description>, Temp: 12 C, Dewpt: .." from the observation's
// rows that have a summary name; "--" for each unknown value.
QString summary(const WeatherReplyReader::Observation& observation, bool usUnits);

}  // namespace WeatherItems
