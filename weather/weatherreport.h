#pragma once

#include <QString>
#include <QVector>

#include "weather/weatheritems.h"
#include "weather/weatherreplyreader.h"

// The texts of one observation, one per weather item, in the units chosen.
namespace WeatherReport {

using ItemText = WeatherItems::ItemText;

struct Texts
{
    // In table order (WeatherItems::table()); items of other replies
    // and "None" are never known.
    QVector<ItemText> items;
    QString summaryText;

    const QString& summary() const { return summaryText; }

    // The text of item `number` when it is known; nothing otherwise.
    const ItemText* item(int number) const;
};

// Wind is unknown when its speed is; a direction missing alone leaves the
// compass word empty. The summary shows "--" for each unknown value.
Texts compose(const WeatherReplyReader::Observation& observation, bool usUnits);

}  // namespace WeatherReport
