#pragma once

#include <QString>

#include "weather/weatherreplyreader.h"

// The texts of one observation, one per weather item, in the units chosen.
namespace WeatherReport {

// Stands for an unknown value in the conditions summary.
inline const char* const UnknownText = "--";

struct ItemText
{
    QString text;
    bool known = false;  // an unknown item is neither sent nor shown
};

struct Texts
{
    // Indexed by weather item: 0 None (never known), 1 Current Conditions,
    // 2 Temperature, 3 DewPoint, 4 Wind, 5 Humidity.
    ItemText items[6];

    const QString& summary() const { return items[1].text; }
    // The item's text when the index names a known item; nothing otherwise.
    const ItemText* item(int index) const;
};

// Wind is unknown when its speed is; a direction missing alone leaves the
// compass word empty. The summary shows "--" for each unknown value.
Texts compose(const WeatherReplyReader::Observation& observation, bool usUnits);

}  // namespace WeatherReport
