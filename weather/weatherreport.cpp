#include "weather/weatherreport.h"

const WeatherReport::ItemText* WeatherReport::Texts::item(int number) const
{
    const int index = WeatherItems::position(number);
    if (index < 0 || index >= items.size() || !items[index].known)
        return nullptr;
    return &items[index];
}

WeatherReport::Texts WeatherReport::compose(const WeatherReplyReader::Observation& o, bool usUnits)
{
    Texts texts;
    for (const WeatherItems::Item& row : WeatherItems::table())
        texts.items.append(row.source == WeatherItems::Source::Observation ? WeatherItems::text(row, o, usUnits)
                                                                           : ItemText());
    texts.summaryText = WeatherItems::summary(o, usUnits);
    return texts;
}
