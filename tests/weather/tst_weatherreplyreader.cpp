#include <QtTest>

#include "support/substitutewebserver.h"
#include "support/testmain.h"
#include "weather/weatheritems.h"
#include "weather/weatherreplyreader.h"
#include "weather/weatherreport.h"

using WeatherReplyReader::Observation;

// The three weather replies read without a window, and the texts one
// observation gives: unknown measurements stay unknown, never zero.
class WeatherReplyReaderTest : public QObject
{
    Q_OBJECT

private slots:
    void point_data();
    void point();
    void stationEntries_data();
    void stationEntries();
    void observation_data();
    void observation();
    void texts_data();
    void texts();
    void itemLookup();
};

namespace {

QString reply(const QString& file)
{
    return testDataText("weather/" + file);
}

// A measurement object laid out as the service does it, by default in the unit assumed for it.
QString measurement(const QString& key, const QString& value, const QString& qc = "V", const QString& unit = "")
{
    return QString(
               "        \"%1\": {\n            \"unitCode\": \"%4\",\n"
               "            \"value\": %2,\n            \"qualityControl\": \"%3\"\n        },\n")
        .arg(key, value, qc, unit.isEmpty() ? "wmoUnit:" + WeatherItems::understoodUnits(key).value(0) : unit);
}

}  // namespace

void WeatherReplyReaderTest::point_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("grid");
    QTest::newRow("service reply") << reply("point.json") << QStringList{"OAX", "58", "55"};
    QTest::newRow("grid numbers as strings, keys in another order")
        << R"({"gridY": "7", "gridX": "12", "gridId": "BOX"})" << QStringList{"BOX", "12", "7"};
    QTest::newRow("no grid in the reply")
        << R"({"title": "Unexpected Problem", "status": 500})" << QStringList{"", "", ""};
    QTest::newRow("empty") << "" << QStringList{"", "", ""};
}

void WeatherReplyReaderTest::point()
{
    QFETCH(QString, text);
    QFETCH(QStringList, grid);
    const WeatherReplyReader::PointGrid read = WeatherReplyReader::readPoint(text);
    QCOMPARE(QStringList({read.gridId, read.gridX, read.gridY}), grid);
}

void WeatherReplyReaderTest::stationEntries_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("service reply, sorted")
        << reply("stations.json") << QStringList{"Crete Municipal Airport: KCEK",
                                                 "Fremont Municipal Airport: KFET",
                                                 "Lincoln, Lincoln Municipal Airport: KLNK",
                                                 "Nebraska City Municipal Airport: KAFK",
                                                 "Seward Municipal Airport: KSWT",
                                                 "York Municipal Airport: KJYR"};
    QTest::newRow("upper case before lower case")
        << R"({"features": [{"stationIdentifier": "K001", "name": "apple"},
                            {"stationIdentifier": "K002", "name": "Zebra"},
                            {"stationIdentifier": "K003", "name": "banana"},
                            {"stationIdentifier": "K004", "name": "Apple"}]})"
        << QStringList{"Apple: K004", "Zebra: K002", "apple: K001", "banana: K003"};
    QTest::newRow("no stations") << R"({"features": []})" << QStringList{};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("station without a name takes the next one's")
        << R"([{"stationIdentifier": "K001"}, {"stationIdentifier": "K002", "name": "Two"}])"
        << QStringList{"Two: K001"};
    // The chain would search back to the same id for ever; it stops instead.
    QTest::newRow("layout that would loop") << R"(x, "stationIdentifier": 1)" << QStringList{"x: 1"};
}

void WeatherReplyReaderTest::stationEntries()
{
    QFETCH(QString, text);
    QTEST(WeatherReplyReader::readStationEntries(text), "entries");
}

void WeatherReplyReaderTest::observation_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("values");  // timestamp, description, then the five raw texts
    QTest::addColumn<QStringList>("missing");

    const QStringList all = WeatherItems::countedMeasurements({});
    QTest::newRow("service reply")
        << reply("observation.json")
        << QStringList{"2024-06-12T18:54:00+00:00", "Mostly Cloudy", "12.2", "3.9", "340", "11.16", "54.87"}
        << QStringList{};
    QTest::newRow("null temperature and wind speed")
        << reply("observation-partial.json")
        << QStringList{"2024-06-12T18:54:00+00:00", "Clear", "null", "3.9", "170", "null", "54.87"}
        << QStringList{"temperature", "windSpeed"};
    QTest::newRow("nothing measured")
        << reply("observation-all-null.json")
        << QStringList{"2024-06-12T18:54:00+00:00", "", "null", "null", "null", "null", "null"} << all;

    const QString head =
        "{\n    \"properties\": {\n        \"timestamp\": \"T\",\n"
        "        \"textDescription\": \"Fog\",\n";
    const QString tail = "        \"heatIndex\": {\n            \"value\": null\n        }\n    }\n}\n";
    QTest::newRow("object without value does not borrow the next one")
        << head +
               "        \"temperature\": {\n            \"unitCode\": \"wmoUnit:degC\",\n"
               "            \"qualityControl\": \"Z\"\n        },\n" +
               measurement("dewpoint", "3.9") + measurement("windDirection", "90") + measurement("windSpeed", "7.2") +
               measurement("relativeHumidity", "80") + tail
        << QStringList{"T", "Fog", "", "3.9", "90", "7.2", "80"} << QStringList{"temperature"};
    QTest::newRow("measurement missing altogether")
        << head + measurement("temperature", "1.5") + measurement("dewpoint", "-2") + measurement("windSpeed", "7.2") +
               measurement("relativeHumidity", "80") + tail
        << QStringList{"T", "Fog", "1.5", "-2", "", "7.2", "80"} << QStringList{"windDirection"};
    QTest::newRow("measurement that is null itself")
        << head + "        \"temperature\": null,\n" + measurement("dewpoint", "-2") +
               measurement("windDirection", "90") + measurement("windSpeed", "7.2") +
               measurement("relativeHumidity", "80") + tail
        << QStringList{"T", "Fog", "", "-2", "90", "7.2", "80"} << QStringList{"temperature"};
    QTest::newRow("no description, measurements still read")
        << "{\n    \"properties\": {\n        \"timestamp\": \"T\",\n" + measurement("temperature", "1.5") +
               measurement("dewpoint", "-2") + measurement("windDirection", "90") + measurement("windSpeed", "7.2") +
               measurement("relativeHumidity", "80") + tail
        << QStringList{"T", "", "1.5", "-2", "90", "7.2", "80"} << QStringList{};
    QTest::newRow("values that are no numbers")
        << head + measurement("temperature", "\"warm\"") + measurement("dewpoint", "inf") +
               measurement("windDirection", "90") + measurement("windSpeed", "7.2") +
               measurement("relativeHumidity", "80") + tail
        << QStringList{"T", "Fog", "warm", "inf", "90", "7.2", "80"} << QStringList{"temperature", "dewpoint"};
    QTest::newRow("value last in its object")
        << head + "        \"temperature\": {\n            \"value\": 21.7\n        },\n" +
               measurement("dewpoint", "-2") + measurement("windDirection", "90") + measurement("windSpeed", "7.2") +
               measurement("relativeHumidity", "80") + tail
        << QStringList{"T", "Fog", "21.7\n", "-2", "90", "7.2", "80"} << QStringList{};
    // Rejected ("X") or bad ("B") measurements are unknown; other
    // flags, and a flag of a later measurement, do not count.
    QTest::newRow("quality control X and B")
        << head + measurement("temperature", "12.2", "X") + measurement("dewpoint", "-2", "B") +
               measurement("windDirection", "90", "Z") + measurement("windSpeed", "7.2", "C") +
               measurement("relativeHumidity", "80", "Q") + tail
        << QStringList{"T", "Fog", "12.2", "-2", "90", "7.2", "80"} << QStringList{"temperature", "dewpoint"};
    QTest::newRow("flag before the value, and none at all")
        << head + "        \"temperature\": {\"qualityControl\": \"X\", \"value\": 4},\n" +
               "        \"dewpoint\": {\"value\": 1},\n" + measurement("windDirection", "90", "X") +
               measurement("windSpeed", "7.2") + measurement("relativeHumidity", "80") + tail
        << QStringList{"T", "Fog", "4", "1", "90", "7.2", "80"} << QStringList{"temperature", "windDirection"};
    QTest::newRow("unit not understood, flags qc:X and qc:B")
        << head + measurement("temperature", "285.4", "V", "wmoUnit:K") + measurement("dewpoint", "-2", "qc:X") +
               measurement("windDirection", "90", "qc:B") + measurement("windSpeed", "7.2", "qc:V", "unit:K") +
               measurement("relativeHumidity", "80", "V", "wmoUnit:") + tail
        << QStringList{"T", "Fog", "285.4", "-2", "90", "7.2", "80"}
        << QStringList{"temperature (unit K)", "dewpoint", "windDirection", "windSpeed (unit K)",
                       "relativeHumidity (unit wmoUnit:)"};
    QTest::newRow("null timestamp and description are empty, not null")
        << "{\n    \"properties\": {\n        \"timestamp\": null,\n        \"textDescription\": null,\n" +
               measurement("temperature", "1.5") + measurement("dewpoint", "-2") + measurement("windDirection", "90") +
               measurement("windSpeed", "7.2") + measurement("relativeHumidity", "80") + tail
        << QStringList{"", "", "1.5", "-2", "90", "7.2", "80"} << QStringList{};
    QTest::newRow("error document")
        << R"({"correlationId": "3b2e", "title": "Not Found", "type": "https://api.weather.gov/problems/NotFound", "status": 404})"
        << QStringList{"", "", "", "", "", "", ""} << all;
    QTest::newRow("empty") << "" << QStringList{"", "", "", "", "", "", ""} << all;
}

void WeatherReplyReaderTest::observation()
{
    QFETCH(QString, text);
    QFETCH(QStringList, values);
    QFETCH(QStringList, missing);
    const Observation o = WeatherReplyReader::readObservation(text);
    QStringList read = {o.timestamp, o.description};
    for (const char* key : {"temperature", "dewpoint", "windDirection", "windSpeed", "relativeHumidity"})
        read << o.measurement(key).raw;
    QCOMPARE(read, values);
    QCOMPARE(o.missing(), missing);
    QCOMPARE(o.anyMeasurementKnown(), missing.size() < read.size() - 2);
}

void WeatherReplyReaderTest::texts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("usUnits");
    QTest::addColumn<QStringList>("items");  // items 1 to 5; "" where unknown

    QTest::newRow("metric") << reply("observation.json") << false
                            << QStringList{
                                   "Currently: Mostly Cloudy, Temp: 12 C, Dewpt: 3 C, Wind: N-11 kmh, "
                                   "Humidity: 54%",
                                   "12 C", "3 C", "N-11 kmh", "54%"};
    QTest::newRow("US") << reply("observation.json") << true
                        << QStringList{
                               "Currently: Mostly Cloudy, Temp: 53 F, Dewpt: 39 F, Wind: N-6 mph, "
                               "Humidity: 54%",
                               "53 F", "39 F", "N-6 mph", "54%"};
    QTest::newRow("cold, US") << reply("observation-cold.json") << true
                              << QStringList{
                                     "Currently: Light Snow, Temp: 24 F, Dewpt: 12 F, Wind: NE-3 mph, "
                                     "Humidity: 65%",
                                     "24 F", "12 F", "NE-3 mph", "65%"};
    QTest::newRow("unknowns read -- and are not items")
        << reply("observation-partial.json") << false
        << QStringList{"Currently: Clear, Temp: --, Dewpt: 3 C, Wind: --, Humidity: 54%", "", "3 C", "", "54%"};
    // No compass word, no hyphen (it would read as a minus sign).
    QTest::newRow("no direction: speed and unit alone")
        << reply("observation-nodirection.json") << false
        << QStringList{"Currently: Fair, Temp: 20 C, Dewpt: 11 C, Wind: 9 kmh, Humidity: 55%", "20 C", "11 C", "9 kmh",
                       "55%"};
    // Units stated with either prefix or none (wind direction: none); one in the unit shown is not converted.
    const QString stated = R"({"timestamp": "T", "textDescription": "Fog",
        "temperature": {"unitCode": "unit:degF", "value": 10}, "dewpoint": {"unitCode": "degF", "value": 14},
        "windDirection": {"value": 90}, "windSpeed": {"unitCode": "wmoUnit:m_s-1", "value": 5},
        "relativeHumidity": {"unitCode": "percent", "value": 80}})";
    QTest::newRow("stated units, metric")
        << stated << false
        << QStringList{"Currently: Fog, Temp: -12 C, Dewpt: -10 C, Wind: E-18 kmh, Humidity: 80%", "-12 C", "-10 C",
                       "E-18 kmh", "80%"};
    QTest::newRow("stated units, US") << stated << true
                                      << QStringList{
                                             "Currently: Fog, Temp: 10 F, Dewpt: 14 F, Wind: E-11 mph, Humidity: 80%",
                                             "10 F", "14 F", "E-11 mph", "80%"};
    QTest::newRow("wind speed without a unit is km/h")
        << R"({"windDirection": {"value": 90}, "windSpeed": {"value": 10}})" << false
        << QStringList{"Currently: , Temp: --, Dewpt: --, Wind: E-10 kmh, Humidity: --", "", "", "E-10 kmh", ""};
    QTest::newRow("null description reads empty")
        << "{\"timestamp\": null, \"textDescription\": null, \"temperature\": {\"value\": 1.5}}" << false
        << QStringList{"Currently: , Temp: 1 C, Dewpt: --, Wind: --, Humidity: --", "1 C", "", "", ""};
    QTest::newRow("placeholders in the description stay")
        << "{\"timestamp\": \"T\", \"textDescription\": \"%1 %5 100%\", \"temperature\": {\"value\": 1.5}}" << false
        << QStringList{"Currently: %1 %5 100%, Temp: 1 C, Dewpt: --, Wind: --, Humidity: --", "1 C", "", "", ""};
}

void WeatherReplyReaderTest::texts()
{
    QFETCH(QString, text);
    QFETCH(bool, usUnits);
    QFETCH(QStringList, items);
    const WeatherReport::Texts texts = WeatherReport::compose(WeatherReplyReader::readObservation(text), usUnits);
    QCOMPARE(texts.summary(), items[0]);
    // The rows' texts by item name; items the row does not name are checked elsewhere.
    const QStringList names = {"Current Conditions", "Temperature", "DewPoint", "Wind", "Humidity"};
    for (const WeatherItems::Item& row : WeatherItems::table()) {
        const int at = names.indexOf(row.name);
        if (at < 0)
            continue;
        const WeatherReport::ItemText* item = texts.item(row.number);
        QCOMPARE(item != nullptr, !items.value(at).isEmpty());
        if (item)
            QCOMPARE(item->text, items[at]);
    }
}

void WeatherReplyReaderTest::itemLookup()
{
    const WeatherReport::Texts texts =
        WeatherReport::compose(WeatherReplyReader::readObservation(reply("observation.json")), false);
    QVERIFY(!texts.item(0));   // None
    QVERIFY(!texts.item(-1));  // no selection
    QVERIFY(!texts.item(WeatherItems::table().size()));
    QVERIFY(texts.item(5));

    // Stored numbers are the items' for good: each row its own, never a retired one.
    QSet<int> numbers;
    for (const WeatherItems::Item& row : WeatherItems::table()) {
        QVERIFY2(!numbers.contains(row.number) && !WeatherItems::retiredNumbers().contains(row.number), row.name);
        numbers << row.number;
    }
}

CORVELTA_TEST_APPLESS_MAIN(WeatherReplyReaderTest)
#include "tst_weatherreplyreader.moc"
