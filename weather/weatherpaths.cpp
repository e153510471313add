#include "weather/weatherpaths.h"

#include <QRegularExpression>
#include <QtMath>

std::optional<QString> WeatherPaths::coordinate(const QString& text)
{
    static const QRegularExpression fourDecimals(QStringLiteral("^-?[0-9]+(\\.[0-9]{1,4})?$"));
    const QString trimmed = text.trimmed();
    if (fourDecimals.match(trimmed).hasMatch())
        return trimmed;
    bool ok = false;
    const double value = trimmed.toDouble(&ok);
    if (!ok || !qIsFinite(value))
        return std::nullopt;
    QString rounded = QString::number(value, 'f', 4);
    while (rounded.endsWith(QLatin1Char('0')))
        rounded.chop(1);
    if (rounded.endsWith(QLatin1Char('.')))
        rounded.chop(1);
    return rounded == QLatin1String("-0") ? QStringLiteral("0") : rounded;
}

std::optional<QString> WeatherPaths::alerts(const QString& latitude, const QString& longitude)
{
    const std::optional<QString> lat = coordinate(latitude);
    const std::optional<QString> lon = coordinate(longitude);
    if (!lat || !lon)
        return std::nullopt;
    return QStringLiteral("/alerts/active?point=%1,%2").arg(*lat, *lon);
}

bool WeatherPaths::hasGrid(const QString& gridId, const QString& gridX, const QString& gridY)
{
    return !gridId.trimmed().isEmpty() && !gridX.trimmed().isEmpty() && !gridY.trimmed().isEmpty();
}

QString WeatherPaths::forecast(const QString& gridId, const QString& gridX, const QString& gridY, bool metric)
{
    const QString path = QStringLiteral("/gridpoints/%1/%2,%3/forecast").arg(gridId, gridX, gridY);
    return metric ? path + QStringLiteral("?units=si") : path;
}
