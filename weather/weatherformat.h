#pragma once

#include <QString>

// Turns the weather service's raw numbers (degrees Celsius, km/h, degrees,
// percent) into the short texts the clocks show. `usUnits` selects degrees
// Fahrenheit and mph. Numbers are read with QString::toFloat (anything else
// reads as 0) and written truncated toward zero, never rounded.
namespace WeatherFormat {

QString temperature(bool usUnits, const QString& raw);
QString humidity(const QString& raw);
QString wind(bool usUnits, const QString& speed, const QString& direction);

// The wind text with a compass word chosen elsewhere: "<word>-<speed> <unit>",
// or "<speed> <unit>" when there is no word (a direction unknown, below 0 or
// above 360), so that the text never reads as a negative speed.
QString windWithWord(bool usUnits, const QString& speed, const QString& word);

// The eight-sector compass word for a direction in degrees; empty outside 0..360.
QString compassWord(float degrees);

}  // namespace WeatherFormat
