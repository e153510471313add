#include <QtTest>
#include <ctime>

#include "support/alertreplies.h"
#include "support/substitutewebserver.h"
#include "support/testmain.h"
#include "weather/alertsreader.h"
#include "weather/forecastreader.h"
#include "weather/weatherpaths.h"

// The active alerts and the forecast read without a window: which alerts are
// in force, what the slots show as time passes, and the request paths.
class AlertsForecastReaderTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void alerts_data();
    void alerts();
    void alertValues();
    void forecast_data();
    void forecast();
    void paths();
};

namespace {

QString reply(const QString& file)
{
    return testDataText("weather/" + file);
}

QDateTime utc(const char* text)
{
    return QDateTime::fromString(text, Qt::ISODate).toUTC();
}

const char* const Nothing = "(nothing)";

}  // namespace

void AlertsForecastReaderTest::initTestCase()
{
    // Not UTC, so a time without an offset read as local time would show.
    qputenv("TZ", "America/Chicago");
    tzset();
}

void AlertsForecastReaderTest::alerts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("log");  // empty: the reply is not readable
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QDateTime>("validUntil");
    QTest::addColumn<QDateTime>("later");
    QTest::addColumn<QString>("shownLater");

    const QString file = reply("alerts.json");
    const QDateTime end = utc("2024-01-10T18:00:00Z"), day = end.addDays(-1), six = utc("2024-01-10T00:00:00Z");
    auto update = [](const char* id, const QString& of) {
        return alertFeature(id, "Flood Watch", "Severe").replace("\"references\": []", "\"references\": [" + of + "]");
    };
    dataRow("an update of an update is one alert",
            alertsReply(
                {update("a", ""), update("b", R"({"identifier": "a"})"), update("c", R"({"@id": "a"}, {"@id": "b"})")}),
            day, "Weather Alerts: 1 active: Flood Watch", "Flood Watch", six, six, "Alerts --");
    // Event codes: one event per office, phenomenon, significance and number; an early and a late version.
    const QString storm = "Winter Storm Warning", early = "2024-01-09T03:12:00-06:00",
                  late = "2024-01-09T09:12:00-06:00", ends = "2024-01-09T18:00:00-06:00";
    auto coded = [](const char* id, const QString& event, const QString& sent, const QString& expires,
                    QStringList codes) {
        for (QString& code : codes)
            code = "/" + code + ".240109T1800Z-240110T1800Z/";
        return withVtec(alertFeature(id, event, "Severe", "Expected", expires, sent), codes);
    };
    const QString chainEnd = coded("c", storm, late, "2024-01-10T06:00:00-06:00", {"O.EXT.KOAX.WS.W.0003"});
    dataRow("an update chain with its middle version absent is one event",
            alertsReply({coded("a", storm, early, ends, {"O.NEW.KOAX.WS.W.0003"}),
                         QString(chainEnd).replace("\"references\": []", R"("references": [{"identifier": "b"}])")}),
            day, "Weather Alerts: 1 active: " + storm, storm, utc("2024-01-10T12:00:00Z"), six, storm);
    dataRow("two events of one phenomenon; a test code is no event's",
            alertsReply({coded("a", storm, late, ends, {"O.NEW.KOAX.WS.W.0003"}),
                         coded("b", storm, late, ends, {"T.CAN.KOAX.WS.W.0004", "O.NEW.KOAX.WS.W.0004"})}),
            day, "Weather Alerts: 2 active: " + storm + ", " + storm, storm + " +1", six, six, "Alerts --");
    dataRow(
        "an upgrade and a cancellation end their events, whatever the messageType",
        alertsReply({coded("w", "Winter Storm Watch", early, ends, {"O.NEW.KOAX.WS.A.0001"}),
                     coded("x", storm, late, ends, {"O.UPG.KOAX.WS.A.0001", "O.NEW.KOAX.WS.W.0002"}),
                     coded("y", "Wind Advisory", late, ends, {"O.CAN.KOAX.WI.Y.0005"}),
                     coded("z", "Wind Advisory", early, ends, {"O.NEW.KOAX.WI.Y.0005"}),
                     coded("v", "Winter Storm Watch", late, ends, {"O.UPG.KOAX.WS.A.0006", "O.EXP.KOAX.WS.A.0007"})}),
        day, "Weather Alerts: 1 active: " + storm, storm, six, six, "Alerts --");
    dataRow("a stated alert that ended is no 'No Alerts'", alertsReply({alertFeature("a", "Wind Advisory", "Minor")}),
            six.addSecs(-600), "Weather Alerts: 1 active: Wind Advisory", "Wind Advisory", six, six, "Alerts --");
    // The older warning, the cancelled advisory, the cancel and the test do not count.
    dataRow("mixed: update, cancel, test; moves on as the advisory ends", file, utc("2024-01-09T16:00:00Z"),
            "Weather Alerts: 2 active: Winter Storm Warning, Wind Advisory", "Winter Storm Warning +1", end,
            utc("2024-01-09T22:00:00Z"), "Winter Storm Warning");
    dataRow("mixed, earlier: latest sent first among equals", file, utc("2024-01-09T14:00:00Z"),
            "Weather Alerts: 3 active: Winter Storm Warning, Wind Advisory, Special Weather Statement",
            "Winter Storm Warning +2", end, end, "Alerts --");
    dataRow("all ended; No Alerts holds 30 minutes", file, end, "Weather Alerts: 0 active: ", "No Alerts", QDateTime(),
            end.addSecs(30 * 60), "Alerts --");
    dataRow("no alerts", reply("alerts-none.json"), end, "Weather Alerts: 0 active: ", "No Alerts", QDateTime(), end,
            "No Alerts");
    dataRow("urgency before sent; the later end is valid",
            alertsReply({alertFeature("a", "Winter Storm Watch", "Severe", "Future", "2024-01-10T06:00:00-06:00"),
                         alertFeature("b", "Wind Warning", "Severe", "Expected", "2024-01-09T18:00:00-06:00",
                                      "2024-01-09T01:00:00-06:00")}),
            day, "Weather Alerts: 2 active: Wind Warning, Winter Storm Watch", "Wind Warning +1",
            utc("2024-01-10T12:00:00Z"), six, "Winter Storm Watch");
    dataRow(
        "severity before sent; an unknown severity ranks last",
        alertsReply({alertFeature("a", "Flood Advisory", "Bogus"),
                     alertFeature("b", "Frost Advisory", "Minor", "Past", "2024-01-09T18:00:00-06:00", "2024-01-08")}),
        day, "Weather Alerts: 2 active: Frost Advisory, Flood Advisory", "Frost Advisory +1", six, six.addSecs(-1),
        "Frost Advisory +1");
    dataRow("50 alerts with long descriptions", manyAlertsReply(50, 20000, 37), day,
            "Weather Alerts: 50 active: Tornado Warning, " + QString("Winter Storm Warning, ").repeated(49).chopped(2),
            "Tornado Warning +49", six, six, "Alerts --");
    dataRow("empty", "", end, "", "", QDateTime(), end, "");
    dataRow("cut short", file.left(file.size() / 2), end, "", "", QDateTime(), end, "");
    dataRow("no features list", R"({"status": 400, "features": {}})", end, "", "", QDateTime(), end, "");
}

void AlertsForecastReaderTest::alerts()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, now);
    QFETCH(QString, log);
    const AlertsReader::Reading reading = AlertsReader::read(text);
    QCOMPARE(reading.readable, !log.isEmpty());
    if (!reading.readable)
        return;
    const AlertsReader::Summary summary = AlertsReader::summarize(reading, now);
    QCOMPARE(summary.logLine(), log);
    QTEST(summary.text, "shown");
    QTEST(summary.validUntil, "validUntil");
    QFETCH(QDateTime, later);
    QTEST(AlertsReader::textAt(reading, now, later), "shownLater");
}

// Each alert's values come from its own properties, never from a reference
// or a description.
void AlertsForecastReaderTest::alertValues()
{
    const AlertsReader::Reading reading = AlertsReader::read(reply("alerts.json"));
    QCOMPARE(reading.alerts.size(), 7);
    QCOMPARE(reading.alerts[0].sent, utc("2024-01-09T15:12:00Z"));
    QCOMPARE(reading.alerts[0].references,
             QStringList({"https://api.weather.gov/alerts/" + reading.alerts[1].id, reading.alerts[1].id}));
}

void AlertsForecastReaderTest::forecast_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("shown");  // empty: the reply is not readable
    QTest::addColumn<QString>("staleLine");

    const QString us = reply("forecast.json");
    const QDateTime morning = utc("2024-01-09T13:00:00Z");
    const QString tonight = "Tuesday Night: 11 F, Chance Snow Showers";
    dataRow("first period ended", us, morning, "Tuesday: 27 F, Snow", "");
    dataRow("next period as time passes; 24 hours old", us, utc("2024-01-10T05:52:39Z"), tonight, "");
    dataRow("a second more than 24 hours old", us, utc("2024-01-10T05:52:40Z"), tonight,
            "Weather Forecast Stale: updated 24 hours ago");
    dataRow("at a period's end, the next", us, utc("2024-01-10T12:00:00Z"), "Wednesday: 20 F, Mostly Sunny",
            "Weather Forecast Stale: updated 30 hours ago");
    dataRow("no period left", us, utc("2024-01-11T00:00:00Z"), "Forecast --",
            "Weather Forecast Stale: updated 42 hours ago");
    dataRow("old updateTime", QString(us).replace("2024-01-09T05:52:39+00:00", "2024-01-08T09:47:03+00:00"), morning,
            "Tuesday: 27 F, Snow", "Weather Forecast Stale: updated 27 hours ago");
    dataRow("null temperature", QString(us).replace("\"temperature\": 27,", "\"temperature\": null,"), morning, Nothing,
            "");
    dataRow("units=si", reply("forecast-si.json"), utc("2024-04-16T19:00:00Z"), "This Afternoon: 7 C, Sunny", "");
    dataRow("no name", R"({"properties": {"periods": [{"endTime": "2024-01-10T00:00:00Z",
                                   "temperature": 3, "temperatureUnit": "C", "shortForecast": "Sunny"}]}})",
            morning, Nothing, "");
    dataRow("times without offset are UTC; truncated; no short forecast",
            R"({"properties": {"updateTime": "2024-01-08T13:00:00", "periods": [{"name": "Today",
              "endTime": "2024-01-09T13:00:00", "temperature": 5, "temperatureUnit": "C"}, {"name": "Tonight",
              "endTime": "2024-01-10T01:00:00", "temperature": -3.7, "temperatureUnit": "C"}]}})",
            utc("2024-01-09T13:30:00Z"), "Tonight: -3 C", "Weather Forecast Stale: updated 24 hours ago");
    dataRow("cut short", us.left(us.size() - 40), morning, "", "");
    dataRow("no periods", R"({"properties": {"periods": null}, "status": 500})", morning, "", "");
    const QString o = R"("temperature": {"unitCode": "%1", "value": %2},)", t = "\"temperature\": 27,";
    dataRow("value object in degF", QString(us).replace(t, o.arg("wmoUnit:degF", "27.9")), morning,
            "Tuesday: 27 F, Snow", "");
    dataRow("value object in degC, US units", QString(us).replace(t, o.arg("degC", "-2.8")), morning,
            "Tuesday: 26 F, Snow", "");
    dataRow("value object in degF, metric", QString(us).replace(t, o.arg("unit:degF", "27")), morning,
            "Tuesday: -2 C, Snow", "");
    dataRow("value object in kelvin", QString(us).replace(t, o.arg("wmoUnit:K", "270")), morning, Nothing, "");
    dataRow("value object in degC, metric",
            QString(reply("forecast-si.json")).replace("\"temperature\": 7,", o.arg("degC", "7")),
            utc("2024-04-16T19:00:00Z"), "This Afternoon: 7 C, Sunny", "");
}

void AlertsForecastReaderTest::forecast()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, now);
    QFETCH(QString, shown);
    const bool metric = QByteArray(QTest::currentDataTag()).endsWith("metric");  // the units asked for
    const ForecastReader::Reading reading = ForecastReader::read(text, !metric);
    QCOMPARE(reading.readable, !shown.isEmpty());
    if (!reading.readable)
        return;
    QCOMPARE(ForecastReader::textAt(reading, now).value_or(Nothing), shown);
    const std::optional<qint64> hours = ForecastReader::hoursSinceUpdate(reading, now);
    QTEST(ForecastReader::isStale(reading, now) ? ForecastReader::staleLogLine(hours.value()) : "", "staleLine");
}

void AlertsForecastReaderTest::paths()
{
    const QString point = "/alerts/active?point=40.8106,-96.6274";
    QCOMPARE(WeatherPaths::alerts("40.8106", "-96.6274").value_or(Nothing), point);      // as the point lookup
    QCOMPARE(WeatherPaths::alerts(" 40.81064 ", "-96.62736").value_or(Nothing), point);  // rounded
    QCOMPARE(WeatherPaths::alerts("40.", "-96.0000").value_or(Nothing), "/alerts/active?point=40,-96.0000");
    QVERIFY(!WeatherPaths::alerts("", "-96.6274"));
    QCOMPARE(WeatherPaths::forecast("OAX", "77", "62", false), "/gridpoints/OAX/77,62/forecast");
    QCOMPARE(WeatherPaths::forecast("OAX", "77", "62", true), "/gridpoints/OAX/77,62/forecast?units=si");
    QVERIFY(WeatherPaths::hasGrid("OAX", "77", "62") && !WeatherPaths::hasGrid("OAX", " ", "62"));
}

CORVELTA_TEST_GUILESS_MAIN(AlertsForecastReaderTest)
#include "tst_alertsforecastreader.moc"
