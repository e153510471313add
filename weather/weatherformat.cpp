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

}  // namespace

QString WeatherFormat::temperature(bool usUnits, const QString& raw, const QString& unit)
{
    const double v = raw.toFloat();
    if (unit == QLatin1String(Unit::Fahrenheit)) {
        // Shown in US units as it stands: converted there and back, a
        // truncation could take a degree off (10 F would show as 9 F).
        if (usUnits)
            return QString("%1 F").arg(truncated(v));
        return QString("%1 C").arg(truncated((v - 32) * 5 / 9));
    }
    if (usUnits) {
        const double fahrenheit = v * 9 / 5 + 32;
        return QString("%1 F").arg(truncated(fahrenheit));
    }
    return QString("%1 C").arg(truncated(v));
}

QString WeatherFormat::humidity(const QString& raw)
{
    return QString("%1%").arg(truncated(raw.toFloat()));
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
    double s = speed.toFloat();
    if (speedUnit == QLatin1String(Unit::MetresPerSecond))
        s *= 3.6;  // km/h, the unit the texts start from
    const qint64 shown = usUnits ? truncated(s * 0.62137) : truncated(s);
    const QString unit = usUnits ? "mph" : "kmh";
    // Without a compass word the hyphen would read as a minus sign.
    if (word.isEmpty())
        return QString("%1 %2").arg(QString::number(shown), unit);
    return QString("%1-%2 %3").arg(word, QString::number(shown), unit);
}
