#include "weather/forecastreader.h"

#include <QtMath>

#include "replies/jsonscan.h"
#include "weather/servicetime.h"
#include "weather/weatherformat.h"

using ForecastReader::Period;

namespace {

bool isKey(QStringView key, const char* name)
{
    return key == QLatin1String(name);
}

// A temperature as the clocks show numbers: whole, truncated toward zero.
// Empty for anything that is not a number.
QString wholeNumber(const QString& value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !qIsFinite(number) || qAbs(number) >= 1e6)
        return QString();
    return QString::number(static_cast<qint64>(number));
}

// The newer form of a period's temperature, a value object read as an
// observation's is: {"unitCode": "wmoUnit:degF", "value": 41}, in degF or
// degC (degC when no unit is stated), converted only when it is not in the
// units asked for. Anything else leaves the temperature missing.
void readTemperatureObject(const QString& text, int open, bool usUnits, Period& period)
{
    JsonScan::Member unitCode, value;
    const bool hasUnit = JsonScan::findMember(text, open, u"unitCode", unitCode);
    if (!JsonScan::findMember(text, open, u"value", value))
        return;
    const QString unit = hasUnit ? WeatherFormat::unitWithoutPrefix(JsonScan::valueText(unitCode.value(text)))
                                 : QString::fromLatin1(WeatherFormat::Unit::Celsius);
    const QString raw = value.value(text).toString();
    const bool understood =
        unit == QLatin1String(WeatherFormat::Unit::Celsius) || unit == QLatin1String(WeatherFormat::Unit::Fahrenheit);
    if (!understood || wholeNumber(raw).isEmpty())
        return;
    period.temperature = QString::number(WeatherFormat::wholeDegrees(usUnits, raw, unit));
    period.temperatureUnit = usUnits ? QStringLiteral("F") : QStringLiteral("C");
}

// One period's values among the top-level members of its own object.
int readPeriod(const QString& text, int open, bool usUnits, Period& period)
{
    bool valueObject = false;  // the temperature's unit is the object's, not "temperatureUnit"
    return JsonScan::walkMembers(text, open, [&](QStringView key, int at) {
        const int valueEnd = JsonScan::valueEnd(text, at);
        if (valueEnd < 0)
            return -1;
        if (isKey(key, "temperature") && JsonScan::charAt(text, at, '{')) {
            valueObject = true;
            period.temperature.clear();
            period.temperatureUnit.clear();
            readTemperatureObject(text, at, usUnits, period);
        } else if (isKey(key, "temperature")) {
            period.temperature = wholeNumber(JsonScan::valueText(QStringView(text).mid(at, valueEnd - at)));
        } else if (isKey(key, "temperatureUnit") && !valueObject) {
            period.temperatureUnit = JsonScan::stringAt(text, at, valueEnd);
        } else if (isKey(key, "name")) {
            period.name = JsonScan::stringAt(text, at, valueEnd);
        } else if (isKey(key, "shortForecast")) {
            period.shortForecast = JsonScan::stringAt(text, at, valueEnd);
        } else if (isKey(key, "startTime")) {
            period.startTime = ServiceTime::parse(JsonScan::stringAt(text, at, valueEnd));
        } else if (isKey(key, "endTime")) {
            period.endTime = ServiceTime::parse(JsonScan::stringAt(text, at, valueEnd));
        }
        return valueEnd;
    });
}

}  // namespace

ForecastReader::Reading ForecastReader::read(const QString& text, bool usUnits)
{
    Reading reading;
    const int root = JsonScan::documentStart(text);
    if (!JsonScan::charAt(text, root, '{')) {
        reading.problem = QStringLiteral("not a JSON object");
        return reading;
    }
    bool havePeriods = false;
    const int end = JsonScan::walkMembers(text, root, [&](QStringView key, int at) {
        if (!isKey(key, "properties") || !JsonScan::charAt(text, at, '{'))
            return JsonScan::valueEnd(text, at);
        return JsonScan::walkMembers(text, at, [&](QStringView member, int value) {
            if (isKey(member, "periods") && JsonScan::charAt(text, value, '[')) {
                havePeriods = true;
                return JsonScan::walkElements(text, value, [&](int element) {
                    if (!JsonScan::charAt(text, element, '{'))
                        return JsonScan::valueEnd(text, element);
                    Period period;
                    const int periodEnd = readPeriod(text, element, usUnits, period);
                    reading.periods << period;
                    return periodEnd;
                });
            }
            const int valueEnd = JsonScan::valueEnd(text, value);
            if (isKey(member, "updateTime"))
                reading.updateTime = ServiceTime::parse(JsonScan::stringAt(text, value, valueEnd));
            return valueEnd;
        });
    });
    if (end < 0) {
        reading.periods.clear();
        reading.problem = QStringLiteral("the reply is cut short or not well-formed JSON");
    } else if (!havePeriods) {
        reading.problem = QStringLiteral("no \"periods\" list in its \"properties\"");
    } else {
        reading.readable = true;
    }
    return reading;
}

int ForecastReader::currentPeriod(const Reading& reading, const QDateTime& now)
{
    for (int i = 0; i < reading.periods.size(); ++i) {
        const QDateTime& end = reading.periods[i].endTime;
        if (end.isValid() && end > now)
            return i;
    }
    return -1;
}

std::optional<QString> ForecastReader::periodText(const Period& period)
{
    if (period.name.isEmpty() || period.temperature.isEmpty() || period.temperatureUnit.isEmpty())
        return std::nullopt;
    QString text = QStringLiteral("%1: %2 %3").arg(period.name, period.temperature, period.temperatureUnit);
    if (!period.shortForecast.isEmpty())
        text += QStringLiteral(", ") + period.shortForecast;
    return text;
}

std::optional<QString> ForecastReader::textAt(const Reading& reading, const QDateTime& now)
{
    const int current = currentPeriod(reading, now);
    if (current < 0)
        return QString::fromLatin1(NoPeriodLeftText);
    return periodText(reading.periods[current]);
}

std::optional<qint64> ForecastReader::hoursSinceUpdate(const Reading& reading, const QDateTime& now)
{
    if (!reading.updateTime.isValid() || !now.isValid())
        return std::nullopt;
    return reading.updateTime.secsTo(now) / 3600;
}

bool ForecastReader::isStale(const Reading& reading, const QDateTime& now)
{
    return reading.updateTime.isValid() && now.isValid() && reading.updateTime.secsTo(now) > qint64(MaxAgeHours) * 3600;
}

QString ForecastReader::staleLogLine(qint64 hours)
{
    return QStringLiteral("Weather Forecast Stale: updated %1 hours ago").arg(hours);
}
