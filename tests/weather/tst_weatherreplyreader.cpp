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

// What a row expects, by name: "temperature: 12.2" (a measurement's key,
// "timestamp" or "description"), "Wind: N-11 kmh" (an item's name or
// "summary"). Whatever a row does not name is another row's business.
std::pair<QString, QString> named(const QString& entry)
{
    const int colon = entry.indexOf(": ");
    return {entry.left(colon), entry.mid(colon + 2)};
}

// A measurement object laid out as the service does it, by default in the unit assumed for it.
QString measurement(const QString& key, const QString& value, const QString& qc = "V", const QString& unit = "")
{
    return QString(
               "        \"%1\": {\n            \"unitCode\": \"%4\",\n"
               "            \"value\": %2,\n            \"qualityControl\": \"%3\"\n        },\n")
        .arg(key, value, qc, unit.isEmpty() ? "wmoUnit:" + WeatherItems::understoodUnits(key).value(0) : unit);
}

// An observation: `head` (the timestamp and description), then every
// measurement the items read, in their order, each 7 in its assumed unit
// unless `members` gives its member's text ("" leaves it out).
QString observationText(const QMap<QString, QString>& members,
                        const QString& head = "\"timestamp\": \"T\", \"textDescription\": \"Fog\",")
{
    QString text = "{\"properties\": {" + head + "\n";
    for (const QString& key : WeatherItems::observationMeasurements())
        text += members.contains(key) ? members[key] + "\n" : measurement(key, "7");
    return text + "\"heatIndex\": {\"value\": null}}}\n";
}

}  // namespace

void WeatherReplyReaderTest::point_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("grid");
    dataRow("service reply", reply("point.json"), QStringList{"OAX", "58", "55"});
    dataRow("grid numbers as strings, keys in another order", R"({"gridY": "7", "gridX": "12", "gridId": "BOX"})",
            QStringList{"BOX", "12", "7"});
    dataRow("no grid in the reply", R"({"title": "Unexpected Problem", "status": 500})", QStringList{"", "", ""});
    dataRow("empty", "", QStringList{"", "", ""});
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

    dataRow("service reply, sorted", reply("stations.json"),
            QStringList{"Crete Municipal Airport: KCEK", "Fremont Municipal Airport: KFET",
                        "Lincoln, Lincoln Municipal Airport: KLNK", "Nebraska City Municipal Airport: KAFK",
                        "Seward Municipal Airport: KSWT", "York Municipal Airport: KJYR"});
    dataRow("upper case before lower case", R"({"features": [{"stationIdentifier": "K001", "name": "apple"},
                            {"stationIdentifier": "K002", "name": "Zebra"},
                            {"stationIdentifier": "K003", "name": "banana"},
                            {"stationIdentifier": "K004", "name": "Apple"}]})",
            QStringList{"Apple: K004", "Zebra: K002", "apple: K001", "banana: K003"});
    dataRow("no stations", R"({"features": []})", QStringList{});
    dataRow("empty", "", QStringList{});
    dataRow("station without a name takes the next one's",
            R"([{"stationIdentifier": "K001"}, {"stationIdentifier": "K002", "name": "Two"}])",
            QStringList{"Two: K001"});
    // The chain would search back to the same id for ever; it stops instead.
    dataRow("layout that would loop", R"(x, "stationIdentifier": 1)", QStringList{"x: 1"});
}

void WeatherReplyReaderTest::stationEntries()
{
    QFETCH(QString, text);
    QTEST(WeatherReplyReader::readStationEntries(text), "entries");
}

void WeatherReplyReaderTest::observation_data()
{
    addColumns<QString, QStringList, QStringList>({"text", "read", "missing"});

    const QStringList all = WeatherItems::countedMeasurements({});
    dataRow("service reply", reply("observation.json"),
            QStringList{"timestamp: 2024-06-12T18:54:00+00:00", "description: Mostly Cloudy", "temperature: 12.2",
                        "dewpoint: 3.9", "windDirection: 340", "windSpeed: 11.16", "relativeHumidity: 54.87"},
            QStringList{});
    dataRow("null temperature and wind speed", reply("observation-partial.json"),
            QStringList{"description: Clear", "temperature: null", "windDirection: 170", "windSpeed: null"},
            QStringList{"temperature", "windSpeed"});
    dataRow("nothing measured", reply("observation-all-null.json"),
            QStringList{"description: ", "temperature: null", "dewpoint: null"}, all);

    dataRow("object without value does not borrow the next one",
            observationText(
                {{"temperature", "\"temperature\": {\"unitCode\": \"wmoUnit:degC\", \"qualityControl\": \"Z\"},"},
                 {"dewpoint", measurement("dewpoint", "3.9")}}),
            QStringList{"temperature: ", "dewpoint: 3.9"}, QStringList{"temperature"});
    dataRow("measurement missing altogether", observationText({{"windDirection", ""}}),
            QStringList{"windDirection: ", "windSpeed: 7"}, QStringList{"windDirection"});
    dataRow("measurement that is null itself", observationText({{"temperature", "\"temperature\": null,"}}),
            QStringList{"temperature: ", "dewpoint: 7"}, QStringList{"temperature"});
    dataRow("no description, measurements still read", observationText({}, "\"timestamp\": \"T\","),
            QStringList{"description: ", "temperature: 7"}, QStringList{});
    dataRow("values that are no numbers",
            observationText({{"temperature", measurement("temperature", "\"warm\"")},
                             {"dewpoint", measurement("dewpoint", "inf")}}),
            QStringList{"temperature: warm", "dewpoint: inf"}, QStringList{"temperature", "dewpoint"});
    dataRow("value last in its object",
            observationText({{"temperature", "\"temperature\": {\n            \"value\": 21.7\n        },"}}),
            QStringList{"temperature: 21.7\n"}, QStringList{});
    // Rejected ("X") or bad ("B") measurements are unknown; other
    // flags, and a flag of a later measurement, do not count.
    dataRow("quality control X and B",
            observationText({{"temperature", measurement("temperature", "12.2", "X")},
                             {"dewpoint", measurement("dewpoint", "-2", "B")},
                             {"windDirection", measurement("windDirection", "90", "Z")},
                             {"windSpeed", measurement("windSpeed", "7.2", "C")},
                             {"relativeHumidity", measurement("relativeHumidity", "80", "Q")}}),
            QStringList{"temperature: 12.2", "dewpoint: -2", "windDirection: 90"},
            QStringList{"temperature", "dewpoint"});
    dataRow("flag before the value, and none at all",
            observationText({{"temperature", "\"temperature\": {\"qualityControl\": \"X\", \"value\": 4},"},
                             {"dewpoint", "\"dewpoint\": {\"value\": 1},"},
                             {"windDirection", measurement("windDirection", "90", "X")}}),
            QStringList{"temperature: 4", "dewpoint: 1", "windDirection: 90"},
            QStringList{"temperature", "windDirection"});
    dataRow("unit not understood, flags qc:X and qc:B",
            observationText({{"temperature", measurement("temperature", "285.4", "V", "wmoUnit:K")},
                             {"dewpoint", measurement("dewpoint", "-2", "qc:X")},
                             {"windDirection", measurement("windDirection", "90", "qc:B")},
                             {"windSpeed", measurement("windSpeed", "7.2", "qc:V", "unit:K")},
                             {"relativeHumidity", measurement("relativeHumidity", "80", "V", "wmoUnit:")}}),
            QStringList{"temperature: 285.4", "windSpeed: 7.2"},
            QStringList{"temperature (unit K)", "dewpoint", "windDirection", "windSpeed (unit K)",
                        "relativeHumidity (unit wmoUnit:)"});
    dataRow("measurement cut short is unknown",
            observationText({}).left(observationText({}).indexOf("\"value\": 7,") + 12), QStringList{"temperature: "},
            all);
    dataRow("null timestamp and description are empty, not null",
            observationText({}, "\"timestamp\": null, \"textDescription\": null,"),
            QStringList{"timestamp: ", "description: ", "temperature: 7"}, QStringList{});
    const QStringList nothing{"timestamp: ", "description: ", "temperature: "};
    dataRow(
        "error document",
        R"({"correlationId": "3b2e", "title": "Not Found", "type": "https://api.weather.gov/problems/NotFound", "status": 404})",
        nothing, all);
    dataRow("empty", "", nothing, all);
}

void WeatherReplyReaderTest::observation()
{
    QFETCH(QString, text);
    QFETCH(QStringList, read);
    QFETCH(QStringList, missing);
    const Observation o = WeatherReplyReader::readObservation(text);
    for (const QString& entry : read) {
        const auto [name, expected] = named(entry);
        const QString value = name == "timestamp"     ? o.timestamp
                              : name == "description" ? o.description
                                                      : o.measurement(name).raw;
        QCOMPARE(qMakePair(name, value), qMakePair(name, expected));
    }
    QCOMPARE(o.missing(), missing);
    QCOMPARE(o.anyMeasurementKnown(), missing.size() < WeatherItems::countedMeasurements({}).size());
}

void WeatherReplyReaderTest::texts_data()
{
    // An item named with no text is unknown: no text at all.
    addColumns<QString, bool, QStringList>({"text", "usUnits", "texts"});

    dataRow("metric", reply("observation.json"), false,
            QStringList{"summary: Currently: Mostly Cloudy, Temp: 12 C, Dewpt: 3 C, Wind: N-11 kmh, Humidity: 54%",
                        "Temperature: 12 C", "DewPoint: 3 C", "Wind: N-11 kmh", "Humidity: 54%"});
    dataRow("US", reply("observation.json"), true,
            QStringList{"summary: Currently: Mostly Cloudy, Temp: 53 F, Dewpt: 39 F, Wind: N-6 mph, Humidity: 54%",
                        "Temperature: 53 F", "DewPoint: 39 F", "Wind: N-6 mph", "Humidity: 54%"});
    dataRow("cold, US", reply("observation-cold.json"), true,
            QStringList{"summary: Currently: Light Snow, Temp: 24 F, Dewpt: 12 F, Wind: NE-3 mph, Humidity: 65%",
                        "Temperature: 24 F", "DewPoint: 12 F", "Wind: NE-3 mph", "Humidity: 65%"});
    dataRow("unknowns read -- and are not items", reply("observation-partial.json"), false,
            QStringList{"summary: Currently: Clear, Temp: --, Dewpt: 3 C, Wind: --, Humidity: 54%",
                        "Temperature: ", "DewPoint: 3 C", "Wind: "});
    // No compass word, no hyphen (it would read as a minus sign).
    dataRow(
        "no direction: speed and unit alone", reply("observation-nodirection.json"), false,
        QStringList{"summary: Currently: Fair, Temp: 20 C, Dewpt: 11 C, Wind: 9 kmh, Humidity: 55%", "Wind: 9 kmh"});
    // Units stated with either prefix or none (wind direction: none); one in the unit shown is not converted.
    const QString stated = R"({"timestamp": "T", "textDescription": "Fog",
        "temperature": {"unitCode": "unit:degF", "value": 10}, "dewpoint": {"unitCode": "degF", "value": 14},
        "windDirection": {"value": 90}, "windSpeed": {"unitCode": "wmoUnit:m_s-1", "value": 5},
        "relativeHumidity": {"unitCode": "percent", "value": 80}})";
    dataRow("stated units, metric", stated, false,
            QStringList{"summary: Currently: Fog, Temp: -12 C, Dewpt: -10 C, Wind: E-18 kmh, Humidity: 80%",
                        "Wind: E-18 kmh"});
    dataRow("stated units, US", stated, true,
            QStringList{"summary: Currently: Fog, Temp: 10 F, Dewpt: 14 F, Wind: E-11 mph, Humidity: 80%",
                        "Humidity: 80%"});
    dataRow("wind speed without a unit is km/h", R"({"windDirection": {"value": 90}, "windSpeed": {"value": 10}})",
            false,
            QStringList{"summary: Currently: , Temp: --, Dewpt: --, Wind: E-10 kmh, Humidity: --", "Wind: E-10 kmh",
                        "Humidity: "});
    dataRow("null description reads empty",
            "{\"timestamp\": null, \"textDescription\": null, \"temperature\": {\"value\": 1.5}}", false,
            QStringList{"summary: Currently: , Temp: 1 C, Dewpt: --, Wind: --, Humidity: --", "Temperature: 1 C"});
    dataRow("placeholders in the description stay",
            "{\"timestamp\": \"T\", \"textDescription\": \"%1 %5 100%\", \"temperature\": {\"value\": 1.5}}", false,
            QStringList{"summary: Currently: %1 %5 100%, Temp: 1 C, Dewpt: --, Wind: --, Humidity: --"});
    dataRow("pressure, US", reply("observation.json"), true, QStringList{"Pressure: 30.02 inHg"});
}

void WeatherReplyReaderTest::texts()
{
    QFETCH(QString, text);
    QFETCH(bool, usUnits);
    QFETCH(QStringList, texts);
    const WeatherReport::Texts composed = WeatherReport::compose(WeatherReplyReader::readObservation(text), usUnits);
    for (const QString& entry : texts) {
        const auto [name, expected] = named(entry);
        QString shown = composed.summary();
        if (name != "summary") {
            const int position = WeatherItems::names().indexOf(name);
            QVERIFY2(position >= 0, qPrintable(name));
            const WeatherReport::ItemText* item = composed.item(WeatherItems::numberAt(position));
            QCOMPARE(item != nullptr, !expected.isEmpty());
            shown = item ? item->text : "";
        }
        QCOMPARE(qMakePair(name, shown), qMakePair(name, expected));
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
