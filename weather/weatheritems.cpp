#include "weather/weatheritems.h"

#include "weather/weatherformat.h"

using WeatherReplyReader::Observation;

namespace {

// Stands for an unknown value in the conditions summary.
const char* const UnknownText = "--";

const WeatherReplyReader::Measurement& measured(const Observation& o, const char* key)
{
    return o.measurement(QLatin1String(key));
}

QString temperature(const Observation& o, bool usUnits)
{
    const WeatherReplyReader::Measurement& m = measured(o, "temperature");
    return WeatherFormat::temperature(usUnits, m.raw, m.unit);
}

QString dewpoint(const Observation& o, bool usUnits)
{
    const WeatherReplyReader::Measurement& m = measured(o, "dewpoint");
    return WeatherFormat::temperature(usUnits, m.raw, m.unit);
}

// A direction missing alone leaves the compass word empty.
QString wind(const Observation& o, bool usUnits)
{
    const WeatherReplyReader::Measurement& direction = measured(o, "windDirection");
    const WeatherReplyReader::Measurement& speed = measured(o, "windSpeed");
    const QString word = direction.known ? WeatherFormat::compassWord(direction.raw.toFloat()) : QString();
    return WeatherFormat::windWithWord(usUnits, speed.raw, word, speed.unit);
}

QString humidity(const Observation& o, bool)
{
    return WeatherFormat::humidity(measured(o, "relativeHumidity").raw);
}

QString pressure(const Observation& o, bool usUnits)
{
    return WeatherFormat::pressure(usUnits, measured(o, "barometricPressure").raw);
}

}  // namespace

const QVector<WeatherItems::Item>& WeatherItems::table()
{
    namespace Unit = WeatherFormat::Unit;
    static const QStringList temperatureUnits = {Unit::Celsius, Unit::Fahrenheit};
    static const QVector<Item> items = {
        {0, "None", Source::Nothing, {}, nullptr, nullptr},
        {1, "Current Conditions", Source::Observation, {}, nullptr, &summary},
        {2, "Temperature", Source::Observation, {{"temperature", true, temperatureUnits}}, "Temp", &temperature},
        {3, "DewPoint", Source::Observation, {{"dewpoint", true, temperatureUnits}}, "Dewpt", &dewpoint},
        {4,
         "Wind",
         Source::Observation,
         {{"windDirection", false, {Unit::Degrees}},
          {"windSpeed", true, {Unit::KilometresPerHour, Unit::MetresPerSecond}}},
         "Wind",
         &wind},
        {5, "Humidity", Source::Observation, {{"relativeHumidity", true, {Unit::Percent}}}, "Humidity", &humidity},
        // Not in the summary: counted as measured or missing only while a row shows it.
        {8, "Pressure", Source::Observation, {{"barometricPressure", true, {Unit::Pascal}}}, nullptr, &pressure},
        // Their own replies make their texts, each sent when its reply arrives.
        {6, "Alerts", Source::Alerts, {}, nullptr, nullptr},
        {7, "Forecast", Source::Forecast, {}, nullptr, nullptr},
    };
    return items;
}

const QVector<int>& WeatherItems::retiredNumbers()
{
    static const QVector<int> retired = {};
    return retired;
}

const WeatherItems::Item* WeatherItems::item(int number)
{
    const int at = position(number);
    return at >= 0 ? &table()[at] : nullptr;
}

int WeatherItems::numberAt(int position)
{
    const QVector<Item>& items = table();
    return position >= 0 && position < items.size() ? items[position].number : -1;
}

int WeatherItems::position(int number)
{
    const QVector<Item>& items = table();
    for (int at = 0; at < items.size(); ++at) {
        if (items[at].number == number)
            return at;
    }
    return -1;
}

int WeatherItems::storedIndex(int shownIndex, int loadedIndex)
{
    return shownIndex >= 0 ? shownIndex : loadedIndex;
}

QStringList WeatherItems::names()
{
    QStringList list;
    for (const Item& row : table())
        list << QLatin1String(row.name);
    return list;
}

QStringList WeatherItems::observationMeasurements()
{
    QStringList keys;
    for (const Item& row : table()) {
        if (row.source != Source::Observation)
            continue;
        for (const Value& value : row.reads) {
            if (!keys.contains(QLatin1String(value.key)))
                keys << QLatin1String(value.key);
        }
    }
    return keys;
}

QStringList WeatherItems::countedMeasurements(const QVector<int>& shownItems)
{
    QStringList keys;
    for (const Item& row : table()) {
        if (row.source != Source::Observation || (!row.summaryName && !shownItems.contains(row.number)))
            continue;
        for (const Value& value : row.reads) {
            if (!keys.contains(QLatin1String(value.key)))
                keys << QLatin1String(value.key);
        }
    }
    return keys;
}

QStringList WeatherItems::understoodUnits(const QString& key)
{
    for (const Item& row : table()) {
        for (const Value& value : row.reads) {
            if (row.source == Source::Observation && key == QLatin1String(value.key))
                return value.units;
        }
    }
    return {};
}

WeatherItems::ItemText WeatherItems::text(const Item& item, const Observation& reply, bool usUnits)
{
    if (!item.format)
        return {};
    for (const Value& value : item.reads) {
        if (value.required && !reply.measurement(QLatin1String(value.key)).known)
            return {};
    }
    return {item.format(reply, usUnits), true};
}

QString WeatherItems::summary(const Observation& observation, bool usUnits)
{
    // Appended part by part, so a "%1" in the station's description stays as it is.
    QString line = QStringLiteral("Currently: ") + observation.description;
    for (const Item& row : table()) {
        if (row.source != Source::Observation || !row.summaryName)
            continue;
        const ItemText part = text(row, observation, usUnits);
        line += QStringLiteral(", ") + QLatin1String(row.summaryName) + QStringLiteral(": ") +
                (part.known ? part.text : QString(UnknownText));
    }
    return line;
}
