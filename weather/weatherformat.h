#pragma once

#include <QString>

// Turns the weather service's raw numbers (degrees Celsius, km/h, degrees,
// percent, unless a unit below says otherwise) into the short texts the clocks
// show. `usUnits` selects degrees Fahrenheit and mph. A number shown in the
// unit it is stated in is read with QString::toFloat; one converted to another
// unit is read and converted in double precision and rounded to 1e-9 (anything
// not a number reads as 0). Texts are truncated toward zero, never rounded.
namespace WeatherFormat {

// The units the service states a measurement in ("unitCode", without its
// "wmoUnit:" or "unit:" prefix) that the texts understand.
namespace Unit {
constexpr const char Celsius[] = "degC";
constexpr const char Fahrenheit[] = "degF";
constexpr const char KilometresPerHour[] = "km_h-1";
constexpr const char MetresPerSecond[] = "m_s-1";
constexpr const char Degrees[] = "degree_(angle)";
constexpr const char Percent[] = "percent";
constexpr const char Pascal[] = "Pa";
}  // namespace Unit

// A unit code without its "wmoUnit:" or "unit:" prefix; one that is only a
// prefix stays as it is.
QString unitWithoutPrefix(const QString& unitCode);

// `unit` is the one the value is stated in: Unit::Fahrenheit, or degrees
// Celsius for anything else.
QString temperature(bool usUnits, const QString& raw, const QString& unit = QString());
// The whole degrees of that text (F with `usUnits`, else C).
qint64 wholeDegrees(bool usUnits, const QString& raw, const QString& unit);
QString humidity(const QString& raw);
// Barometric pressure stated in pascals: "1013 hPa" (truncated), or in US
// units "29.92 inHg" rounded to the hundredth, since the service rounds an
// altimeter setting to 10 Pa and a truncated 29.92 would read 29.91.
QString pressure(bool usUnits, const QString& raw);
QString wind(bool usUnits, const QString& speed, const QString& direction);

// The wind text with a compass word chosen elsewhere: "<word>-<speed> <unit>",
// or "<speed> <unit>" when there is no word (a direction unknown, below 0 or
// above 360), so that the text never reads as a negative speed.
// `speedUnit` is the one the speed is stated in: Unit::MetresPerSecond, or km/h
// for anything else.
QString windWithWord(bool usUnits, const QString& speed, const QString& word, const QString& speedUnit = QString());

// The eight-sector compass word for a direction in degrees; empty outside 0..360.
QString compassWord(float degrees);

}  // namespace WeatherFormat
