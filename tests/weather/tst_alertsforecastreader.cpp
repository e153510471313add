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
    void alertsPath_data();
    void alertsPath();
    void forecastPath();
};

namespace {

QString reply(const QString& file)
{
    QFile f(testDataPath("weather/" + file));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing test reply %s", qPrintable(file));
    return QString::fromUtf8(f.readAll());
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
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QDateTime>("validUntil");
    QTest::addColumn<QDateTime>("later");
    QTest::addColumn<QString>("shownLater");

    const QString file = reply("alerts.json");
    const QDateTime end = utc("2024-01-10T18:00:00Z");
    // The older warning, the cancelled advisory, the cancel and the test do not count.
    QTest::newRow("mixed: update, cancel, test; moves on as the advisory ends")
        << file << utc("2024-01-09T16:00:00Z") << true
        << "Weather Alerts: 2 active: Winter Storm Warning, Wind Advisory" << "Winter Storm Warning +1" << end
        << utc("2024-01-09T22:00:00Z") << "Winter Storm Warning";
    QTest::newRow("mixed, earlier: latest sent first among equals; ends at the latest end")
        << file << utc("2024-01-09T14:00:00Z") << true
        << "Weather Alerts: 3 active: Winter Storm Warning, Wind Advisory, Special Weather Statement"
        << "Winter Storm Warning +2" << end << end << "Alerts --";
    QTest::newRow("mixed, all ended") << file << end << true << "Weather Alerts: 0 active: " << "No Alerts"
                                      << QDateTime() << end.addDays(1) << "No Alerts";
    QTest::newRow("no alerts") << reply("alerts-none.json") << end << true << "Weather Alerts: 0 active: "
                               << "No Alerts" << QDateTime() << end << "No Alerts";
    const QDateTime noon = utc("2024-01-10T00:00:00Z");  // the generated alerts' end
    QTest::newRow("urgency before sent")
        << alertsReply({{"a", "Winter Storm Watch", "Severe", "Future", "", "2024-01-10T06:00:00-06:00"},
                        {"b", "High Wind Warning", "Severe", "Expected", "2024-01-09T01:00:00-06:00"}})
        << end.addDays(-1) << true << "Weather Alerts: 2 active: High Wind Warning, Winter Storm Watch"
        << "High Wind Warning +1" << utc("2024-01-10T12:00:00Z") << noon << "Winter Storm Watch";
    QTest::newRow("severity before sent; an unknown severity ranks last")
        << alertsReply({{"a", "Flood Advisory", "Bogus"}, {"b", "Frost Advisory", "Minor", "Past", "2024-01-08T00:00:00Z"}})
        << end.addDays(-1) << true << "Weather Alerts: 2 active: Frost Advisory, Flood Advisory"
        << "Frost Advisory +1" << noon << noon.addSecs(-1) << "Frost Advisory +1";
    QTest::newRow("50 alerts with long descriptions")
        << manyAlertsReply(50, 20000, 37) << end.addDays(-1) << true
        << "Weather Alerts: 50 active: Tornado Warning, " + QString("Winter Storm Warning, ").repeated(49).chopped(2)
        << "Tornado Warning +49" << noon << noon << "Alerts --";
    QTest::newRow("empty") << "" << end << false << "" << "" << QDateTime() << end << "";
    QTest::newRow("cut short") << file.left(file.size() / 2) << end << false << "" << "" << QDateTime() << end << "";
    QTest::newRow("no features list") << R"({"title": "Bad Request", "status": 400, "features": {}})" << end << false
                                      << "" << "" << QDateTime() << end << "";
}

void AlertsForecastReaderTest::alerts()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, now);
    QFETCH(bool, readable);
    const AlertsReader::Reading reading = AlertsReader::read(text);
    QCOMPARE(reading.readable, readable);
    QCOMPARE(reading.problem.isEmpty(), readable);
    if (!readable) {
        QVERIFY(reading.alerts.isEmpty());
        return;
    }
    const AlertsReader::Summary summary = AlertsReader::summarize(reading, now);
    QTEST(summary.logLine(), "log");
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
    const AlertsReader::Alert& update = reading.alerts.first();
    QCOMPARE(update.id, "urn:oid:2.49.0.1.840.0.5d3a1f0c2b9e4f7a8c6d1e2f3a4b5c6d7e8f9a0b.002.1");
    QCOMPARE(update.sent, utc("2024-01-09T15:12:00Z"));
    QCOMPARE(update.references.size(), 2);
    QVERIFY(update.references.last().endsWith(".001.1"));
    QCOMPARE(update.inForceUntil(), utc("2024-01-10T18:00:00Z"));
    QCOMPARE(reading.alerts[2].expires, utc("2024-01-09T21:00:00Z"));
}

void AlertsForecastReaderTest::forecast_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("staleLine");

    const QString us = reply("forecast.json");
    QTest::newRow("first period ended") << us << utc("2024-01-09T13:00:00Z") << true << "Tuesday: 27 F, Snow" << "";
    QTest::newRow("next period as time passes")
        << us << utc("2024-01-10T01:00:00Z") << true << "Tuesday Night: 11 F, Chance Snow Showers" << "";
    QTest::newRow("24 hours old") << us << utc("2024-01-10T05:52:39Z") << true
                                  << "Tuesday Night: 11 F, Chance Snow Showers" << "";
    QTest::newRow("a second more than 24 hours old") << us << utc("2024-01-10T05:52:40Z") << true
                                                     << "Tuesday Night: 11 F, Chance Snow Showers"
                                                     << "Weather Forecast Stale: updated 24 hours ago";
    QTest::newRow("at a period's end, the next") << us << utc("2024-01-10T12:00:00Z") << true
                                                 << "Wednesday: 20 F, Mostly Sunny"
                                                 << "Weather Forecast Stale: updated 30 hours ago";
    QTest::newRow("no period left") << us << utc("2024-01-11T00:00:00Z") << true << "Forecast --"
                                    << "Weather Forecast Stale: updated 42 hours ago";
    QTest::newRow("old updateTime") << reply("forecast-old.json") << utc("2024-01-09T13:00:00Z") << true
                                    << "Tuesday: 27 F, Snow" << "Weather Forecast Stale: updated 27 hours ago";
    QTest::newRow("null temperature") << reply("forecast-nulltemp.json") << utc("2024-01-09T13:00:00Z") << true
                                      << Nothing << "";
    QTest::newRow("units=si") << reply("forecast-si.json") << utc("2024-04-16T19:00:00Z") << true
                              << "This Afternoon: 7 C, Sunny" << "";
    QTest::newRow("units=si, below zero") << reply("forecast-si.json") << utc("2024-04-16T23:00:00Z") << true
                                          << "Tonight: -2 C, Patchy Frost" << "";
    QTest::newRow("no name") << R"({"properties": {"periods": [{"endTime": "2024-01-10T00:00:00Z",
                                   "temperature": 3, "temperatureUnit": "C", "shortForecast": "Sunny"}]}})"
                             << utc("2024-01-09T13:00:00Z") << true << Nothing << "";
    QTest::newRow("times without offset are UTC; truncated; no short forecast")
        << R"({"properties": {"updateTime": "2024-01-08T13:00:00", "periods": [{"name": "Today",
              "endTime": "2024-01-09T13:00:00", "temperature": 5, "temperatureUnit": "C"}, {"name": "Tonight",
              "endTime": "2024-01-10T01:00:00", "temperature": -3.7, "temperatureUnit": "C"}]}})"
        << utc("2024-01-09T13:30:00Z") << true << "Tonight: -3 C" << "Weather Forecast Stale: updated 24 hours ago";
    QTest::newRow("cut short") << us.left(us.size() - 40) << QDateTime() << false << "" << "";
    QTest::newRow("no periods") << R"({"properties": {"periods": null}, "status": 500})" << QDateTime() << false
                                << "" << "";
}

void AlertsForecastReaderTest::forecast()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, now);
    QFETCH(bool, readable);
    const ForecastReader::Reading reading = ForecastReader::read(text);
    QCOMPARE(reading.readable, readable);
    QCOMPARE(reading.problem.isEmpty(), readable);
    if (!readable) {
        QVERIFY(reading.periods.isEmpty());
        return;
    }
    QTEST(ForecastReader::textAt(reading, now).value_or(Nothing), "shown");
    const std::optional<qint64> hours = ForecastReader::hoursSinceUpdate(reading, now);
    QTEST(ForecastReader::isStale(reading, now) ? ForecastReader::staleLogLine(hours.value()) : "", "staleLine");
}

void AlertsForecastReaderTest::alertsPath_data()
{
    QTest::addColumn<QString>("latitude");
    QTest::addColumn<QString>("longitude");
    QTest::addColumn<QString>("path");
    QTest::newRow("as the point lookup") << "40.8106" << "-96.6274" << "/alerts/active?point=40.8106,-96.6274";
    QTest::newRow("more decimals rounded") << " 40.81064 " << "-96.62746" << "/alerts/active?point=40.8106,-96.6275";
    QTest::newRow("a point without decimals") << "40." << "-96.0000" << "/alerts/active?point=40,-96.0000";
    QTest::newRow("no number") << "" << "-96.6274" << Nothing;
}

void AlertsForecastReaderTest::alertsPath()
{
    QFETCH(QString, latitude);
    QFETCH(QString, longitude);
    QTEST(WeatherPaths::alerts(latitude, longitude).value_or(Nothing), "path");
}

void AlertsForecastReaderTest::forecastPath()
{
    QCOMPARE(WeatherPaths::forecast("OAX", "77", "62", false), "/gridpoints/OAX/77,62/forecast");
    QCOMPARE(WeatherPaths::forecast("OAX", "77", "62", true), "/gridpoints/OAX/77,62/forecast?units=si");
    QVERIFY(WeatherPaths::hasGrid("OAX", "77", "62"));
    QVERIFY(!WeatherPaths::hasGrid("OAX", " ", "62"));
}

CORVELTA_TEST_GUILESS_MAIN(AlertsForecastReaderTest)
#include "tst_alertsforecastreader.moc"
