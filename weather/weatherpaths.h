#pragma once

#include <QString>
#include <optional>

// The paths of the weather service's alerts and forecast requests, appended
// to the weather host's base URL.
namespace WeatherPaths {

// A latitude or longitude as the service takes it in a point: at most four
// decimals. A text that already is such a number (as the window's fields,
// masked to four decimals, hold it) is kept as it stands, so the alerts ask
// for the very point the point lookup asked for; another number is rounded
// to four decimals, trailing zeros dropped ("40.81064" -> "40.8106",
// "40." -> "40"). Nothing when the text is no number.
std::optional<QString> coordinate(const QString& text);

// "/alerts/active?point=40.8106,-96.6274"; nothing when either coordinate is
// no number.
std::optional<QString> alerts(const QString& latitude, const QString& longitude);

// Whether the point lookup has stored a grid to ask the forecast for.
bool hasGrid(const QString& gridId, const QString& gridX, const QString& gridY);

// "/gridpoints/OAX/77,62/forecast", with "?units=si" when metric.
QString forecast(const QString& gridId, const QString& gridX, const QString& gridY, bool metric);

}  // namespace WeatherPaths
