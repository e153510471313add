#include "weather/weatherformat.h"

#include <QtMath>
#include <limits>

namespace {

// Truncation toward zero. A value beyond what the integer holds (or not a
// number at all) must not reach the conversion, which would be undefined.
qint64 truncated(double value)
{
    if (qIsNaN(value))
        return 0;
    constexpr double limit = 9.0e18;
    if (value >= limit)
        return qint64(limit);
    if (value <= -limit)
        return -qint64(limit);
    return qint64(value);
}

// A value converted between units, truncated for the text. The value is read
// and converted in double precision and rounded to 1e-9 first, so a whole
// degree sent as a one-decimal value of the other unit (53.6 F, 12 C) is not
// shown one lower because the arithmetic landed just below it.
qint64 convertedShown(double value)
{
    return truncated(std::round(value * 1e9) / 1e9);
}

}  // namespace

QString WeatherFormat::unitWithoutPrefix(const QString& unitCode)
{
    for (const QLatin1String prefix : {QLatin1String("wmoUnit:"), QLatin1String("unit:")}) {
        if (unitCode.startsWith(prefix) && unitCode.size() > prefix.size())
            return unitCode.mid(prefix.size());
    }
    return unitCode;
}

QString WeatherFormat::temperature(bool usUnits, const QString& raw, const QString& unit)
{
    return QString(usUnits ? "%1 F" : "%1 C").arg(wholeDegrees(usUnits, raw, unit));
}

qint64 WeatherFormat::wholeDegrees(bool usUnits, const QString& raw, const QString& unit)
{
    const bool fahrenheit = unit == QLatin1String(Unit::Fahrenheit);
    // Shown in the unit it is stated in, as it stands: converted there and
    // back, a truncation could take a degree off (10 F would show as 9 F).
    if (usUnits == fahrenheit)
        return truncated(raw.toFloat());
    const double v = raw.toDouble();
    return convertedShown(fahrenheit ? (v - 32) * 5 / 9 : v * 9 / 5 + 32);
}

QString WeatherFormat::humidity(const QString& raw)
{
    return QString("%1%").arg(truncated(raw.toFloat()));
}

QString WeatherFormat::pressure(bool usUnits, const QString& raw)
{
    const double pascals = raw.toDouble();
    if (!usUnits)
        return QString("%1 hPa").arg(convertedShown(pascals / 100));
    constexpr double PascalsPerInchOfMercury = 3386.389;
    const double hundredths = std::round(pascals / PascalsPerInchOfMercury * 100);
    return QString("%1 inHg").arg(qIsFinite(hundredths) ? hundredths / 100 : 0.0, 0, 'f', 2);
}

QString WeatherFormat::compassWord(float d)
{
    if ((d >= 337.5f && d <= 360.0f) || (d >= 0.0f && d < 22.5f))
        return "N";
    if (d >= 22.5f && d < 67.5f)
        return "NE";
    if (d >= 67.5f && d < 112.5f)
        return "E";
    if (d >= 112.5f && d < 157.5f)
        return "SE";
    if (d >= 157.5f && d < 202.5f)
        return "S";
    if (d >= 202.5f && d < 247.5f)
        return "SW";
    if (d >= 247.5f && d < 292.5f)
        return "W";
    if (d >= 292.5f && d < 337.5f)
        return "NW";
    return QString();
}

QString WeatherFormat::wind(bool usUnits, const QString& speed, const QString& direction)
{
    return windWithWord(usUnits, speed, compassWord(direction.toFloat()));
}

QString WeatherFormat::windWithWord(bool usUnits, const QString& speed, const QString& word, const QString& speedUnit)
{
    const bool metresPerSecond = speedUnit == QLatin1String(Unit::MetresPerSecond);
    qint64 shown;
    if (!usUnits && !metresPerSecond) {
        shown = truncated(speed.toFloat());  // km/h as it stands
    } else {
        double s = speed.toDouble();
        if (metresPerSecond)
            s *= 3.6;  // km/h, the unit the texts start from
        shown = convertedShown(usUnits ? s * 0.62137 : s);
    }
    const QString unit = usUnits ? "mph" : "kmh";
    // Without a compass word the hyphen would read as a minus sign.
    if (word.isEmpty())
        return QString("%1 %2").arg(QString::number(shown), unit);
    return QString("%1-%2 %3").arg(word, QString::number(shown), unit);
}
