// corvelta-demo-settings: writes the settings file of the offline demo. It
// uses QSettings, so the four window times are stored as the time values
// the program reads back, not as text.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>
#include <QTime>
#include <cstdio>

#include "weather/weatheritems.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a Corvelta settings file for the offline demo: substitute services, "
                       "simulated clocks, both feeds refreshed every minute all day."));
    parser.addHelpOption();
    const QCommandLineOption outputOption(QStringLiteral("output"),
                                          QStringLiteral("Settings file to write (replaced)."), QStringLiteral("file"));
    const QCommandLineOption weatherOption(QStringLiteral("weather-url"),
                                           QStringLiteral("Base URL of the weather service."), QStringLiteral("url"));
    const QCommandLineOption stockOption(QStringLiteral("stock-url"), QStringLiteral("Base URL of the quote service."),
                                         QStringLiteral("url"));
    const QCommandLineOption weatherClocksOption(QStringLiteral("weather-clocks"),
                                                 QStringLiteral("Weather clock list (127.0.0.2, 127.0.0.3)."),
                                                 QStringLiteral("list"), QStringLiteral("127.0.0.2, 127.0.0.3"));
    const QCommandLineOption stockClocksOption(QStringLiteral("stock-clocks"),
                                               QStringLiteral("Stock clock list (127.0.0.4)."), QStringLiteral("list"),
                                               QStringLiteral("127.0.0.4"));
    parser.addOptions({outputOption, weatherOption, stockOption, weatherClocksOption, stockClocksOption});
    parser.process(app);

    if (!parser.isSet(outputOption) || !parser.isSet(weatherOption) || !parser.isSet(stockOption)) {
        std::fprintf(stderr, "corvelta-demo-settings: --output, --weather-url and --stock-url are needed\n");
        return 2;
    }

    QSettings settings(parser.value(outputOption), QSettings::IniFormat);
    settings.clear();

    // Where the substitute services are.
    settings.setValue(QStringLiteral("weatherhost"), parser.value(weatherOption));
    settings.setValue(QStringLiteral("stockhost"), parser.value(stockOption));

    // A station chosen already, so the weather refreshes without a lookup.
    settings.setValue(QStringLiteral("latitudeEdit"), QStringLiteral("40.8106"));
    settings.setValue(QStringLiteral("longitudeEdit"), QStringLiteral("-96.6274"));
    settings.setValue(QStringLiteral("units"), false);  // metric
    settings.setValue(QStringLiteral("gridid"), QStringLiteral("OAX"));
    settings.setValue(QStringLiteral("gridx"), QStringLiteral("77"));
    settings.setValue(QStringLiteral("gridy"), QStringLiteral("62"));
    settings.setValue(QStringLiteral("stationid"), QStringLiteral("KLNK"));

    // The settings file stores each row's item by the item's number.
    // Three values of the observation, then the warning the substitute
    // service has in force and its forecast.
    const char* const weatherItems[5] = {"Temperature", "Wind", "Humidity", "Alerts", "Forecast"};
    for (int slot = 0; slot < 5; ++slot)
        settings.setValue(QStringLiteral("weathercombo%1").arg(slot + 1),
                          WeatherItems::numberAt(WeatherItems::names().indexOf(QLatin1String(weatherItems[slot]))));
    settings.setValue(QStringLiteral("clockweatheriplist"), parser.value(weatherClocksOption));

    // The substitute quote service needs no key.
    settings.setValue(QStringLiteral("stockapikey"), QStringLiteral("demo"));
    const char* const tickers[5] = {"AAPL", "MSFT", "NVDA", "AMZN", "TSLA"};
    for (int field = 0; field < 5; ++field)
        settings.setValue(QStringLiteral("stockedit%1").arg(field + 1), QString::fromLatin1(tickers[field]));
    settings.setValue(QStringLiteral("clockstockiplist"), parser.value(stockClocksOption));
    settings.setValue(QStringLiteral("cbname"), false);
    settings.setValue(QStringLiteral("cbticker"), true);
    settings.setValue(QStringLiteral("cbprice"), true);
    settings.setValue(QStringLiteral("cbchange"), true);
    settings.setValue(QStringLiteral("cbvolume"), false);

    // Both feeds every minute, all day, weekends included.
    const QTime dayStart(0, 0, 0, 0);
    const QTime dayEnd(23, 59, 59, 999);
    settings.setValue(QStringLiteral("weatherstart"), dayStart);
    settings.setValue(QStringLiteral("weatherstop"), dayEnd);
    settings.setValue(QStringLiteral("stockstart"), dayStart);
    settings.setValue(QStringLiteral("stockstop"), dayEnd);
    settings.setValue(QStringLiteral("weatherinterval"), 1);
    settings.setValue(QStringLiteral("stockinterval"), 1);
    settings.setValue(QStringLiteral("weatherweekend"), false);
    settings.setValue(QStringLiteral("stockweekend"), false);

    settings.sync();
    if (settings.status() != QSettings::NoError) {
        std::fprintf(stderr, "corvelta-demo-settings: cannot write %s\n", qPrintable(parser.value(outputOption)));
        return 1;
    }
    return 0;
}
