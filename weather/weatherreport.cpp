#include "weather/weatherreport.h"

#include "weather/weatherformat.h"

using WeatherReplyReader::Measurement;

namespace {

WeatherReport::ItemText known(const QString& text)
{
    return {text, true};
}

WeatherReport::ItemText temperatureText(bool usUnits, const Measurement& m)
{
    if (!m.known)
        return {};
    return known(WeatherFormat::temperature(usUnits, m.raw));
}

QString orUnknown(const WeatherReport::ItemText& item)
{
    return item.known ? item.text : QString(WeatherReport::UnknownText);
}

}  // namespace

const WeatherReport::ItemText* WeatherReport::Texts::item(int index) const
{
    if (index < 1 || index > 5 || !items[index].known)
        return nullptr;
    return &items[index];
}

WeatherReport::Texts WeatherReport::compose(const WeatherReplyReader::Observation& o, bool usUnits)
{
    Texts texts;
    texts.items[2] = temperatureText(usUnits, o.temperature);
    texts.items[3] = temperatureText(usUnits, o.dewpoint);
    if (o.windSpeed.known) {
        const QString word =
            o.windDirection.known ? WeatherFormat::compassWord(o.windDirection.raw.toFloat()) : QString();
        texts.items[4] = known(WeatherFormat::windWithWord(usUnits, o.windSpeed.raw, word));
    }
    if (o.humidity.known)
        texts.items[5] = known(WeatherFormat::humidity(o.humidity.raw));

    // All five at once, so a "%1" in the station's description stays as it is.
    texts.items[1] = known(QString("Currently: %1, Temp: %2, Dewpt: %3, Wind: %4, Humidity: %5")
                               .arg(o.description, orUnknown(texts.items[2]), orUnknown(texts.items[3]),
                                    orUnknown(texts.items[4]), orUnknown(texts.items[5])));
    return texts;
}
