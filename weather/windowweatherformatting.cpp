#include "app/mainwindow.h"

#include "replies/jsonextract.h"
#include "weather/weatherformat.h"

// The window's reading and formatting operations: thin doors to the plain
// functions the weather rows and the reply readers call, which tests and
// fuzzers call without a window.

void MainWindow::extractJsonValue(const QString& text, QString& key, QString& value, int position, int& resumePosition)
{
    JsonText::extractValue(text, key, value, position, resumePosition);
}

QString MainWindow::formatTemperature(QString raw)
{
    return WeatherFormat::temperature(units, raw);
}

QString MainWindow::formatHumidity(QString raw)
{
    return WeatherFormat::humidity(raw);
}

QString MainWindow::formatWind(QString speed, QString direction)
{
    return WeatherFormat::windWithWord(units, speed, WeatherFormat::compassWord(direction.toFloat()));
}
