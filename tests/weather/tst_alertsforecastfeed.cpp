// AlertsForecastFeed without a window. The test plays the window's part: the
// inputs it reads, a refresh where a button or the schedule refreshes the
// weather, the scheduler's second (the requests' time limits, then the feed's
// tick) and each finished reply handed to ServiceRequests.
#include <QtTest>

#include <QNetworkAccessManager>

#include "app/refreshplan.h"
#include "app/servicerequests.h"
#include "support/fixedclock.h"
#include "support/substitutewebserver.h"
#include "support/testmain.h"
#include "weather/alertsforecastfeed.h"

Q_DECLARE_METATYPE(WeatherItems::Source)

using WeatherItems::Source;

namespace {

// A Wednesday, 2024-06-12 19:00 UTC.
const QDateTime TestNow = QDateTime(QDate(2024, 6, 12), QTime(19, 0), Qt::UTC).toLocalTime();
const QString Unchanged = "<unchanged>";

// The feed as the window owns it, the weather host's plan judging its
// failures. The window logs the lines of all three in one stream; so does `log`.
struct OwnedFeed
{
    OwnedFeed()
    {
        QObject::connect(&manager, &QNetworkAccessManager::finished, &requests, &ServiceRequests::handle);
        QObject::connect(&requests, &ServiceRequests::logLine, &feed, &AlertsForecastFeed::logLine);
        QObject::connect(&plan, &RefreshPlan::logLine, &feed, &AlertsForecastFeed::logLine);
        // A weather window open all day, its next scheduled refresh 10 minutes
        // away: a failure taken for the observation's would plan a retry.
        plan.setSchedule([] { return RefreshPlan::Schedule{true, 10, 0}; });
    }

    QNetworkAccessManager manager;
    ServiceRequests requests{&manager};
    RefreshPlan plan{"Weather"};
    AlertsForecastFeed feed{requests, plan};
    QSignalSpy log{&feed, &AlertsForecastFeed::logLine};
    QSignalSpy rows{&feed, &AlertsForecastFeed::rowsText};
};

}  // namespace

class AlertsForecastFeedTest : public QObject
{
    Q_OBJECT

    SubstituteWebServer service;
    FixedClock clock{TestNow};
    QScopedPointer<OwnedFeed> owned;
    AlertsForecastFeed::Inputs inputs;
    // What the substitute weather service answers every request: `status`, or
    // the `statuses` in turn (the last one repeating); `problem` for a failure
    // when there is one.
    int status = 200;
    QList<int> statuses;
    int served = 0;
    QByteArray body, problem, retryAfter;
    bool hold = false;

    void tick(const QDateTime& now)
    {
        clock.current = now;
        owned->requests.enforceTimeLimits(now);
        owned->feed.tick(now);
    }
    QStringList logged() const
    {
        QStringList lines;
        for (const QList<QVariant>& line : owned->log)
            lines << line.at(0).toString();
        return lines;
    }
    // The texts the feed gave its rows, in order; one meant for other rows than `source`'s says so.
    QStringList rowTexts(Source source) const
    {
        QStringList texts;
        for (const QList<QVariant>& row : owned->rows)
            texts << (row.at(0).value<Source>() == source ? "" : "(other rows) ") + row.at(1).toString();
        return texts;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<Source>();
        trustTestCertificateAuthority();
        QVERIFY(service.start());
        service.setHandler([this](const SubstituteWebServer::Request&) {
            const int now = statuses.isEmpty() ? status : statuses.value(qMin(served++, int(statuses.size()) - 1));
            SubstituteWebServer::Reply reply{
                now, "application/json", now > 200 && !problem.isEmpty() ? problem : body, hold, {}};
            if (!retryAfter.isEmpty())
                reply.headers.append({"Retry-After", retryAfter});
            return reply;
        });
    }

    void init()
    {
        service.releaseHeld();  // what the row before kept back
        clock.current = TestNow;
        status = 200, hold = false, retryAfter.clear(), statuses.clear(), served = 0, problem.clear();
        inputs = {"40.8106", "-96.6274", "OAX", "77", "62"};
        inputs.baseUrl = service.baseUrl();
        owned.reset(new OwnedFeed);
        owned->feed.setInputs([this] { return inputs; });
    }

    // A refresh asks for each item; its reply alone gives its rows their text, a failed one none. Later, with
    // the service down, the rows move on with the time alone. (The window's own lines, "Weather Not Requested:
    // no station chosen" and "Sending Weather Data to …", are not the feed's.)
    void alertsAndForecast_data()
    {
        addColumns<int, QString, int, bool, QDateTime, QStringList, QString, QDateTime, QString>(
            {"item", "reply", "status", "metric", "now", "lines", "shown", "later", "shownLater"});
        const QString alerts = testDataText("weather/alerts.json"), forecast = testDataText("weather/forecast.json");
        const QString u = Unchanged;
        auto at = [](const char* text) { return QDateTime::fromString(text, Qt::ISODate); };
        const QDateTime day = at("2024-01-09T16:00:00Z"), morning = at("2024-01-09T13:00:00Z");
        dataRow("alerts: an updated warning and an advisory, all ended with the service down", 6, alerts, 200, false,
                day, QStringList{"Weather Alerts: 2 active: Winter Storm Warning, Wind Advisory"},
                "Winter Storm Warning +1", at("2024-01-10T18:00:00Z"), "Alerts --");
        dataRow("alerts: none", 6, testDataText("weather/alerts-none.json"), 200, false, day,
                QStringList{"Weather Alerts: 0 active: "}, "No Alerts", day.addDays(1), "Alerts --");
        dataRow("alerts: 503", 6, alerts, 503, false, day, QStringList{"Request Failed: "}, u, day, u);
        dataRow("alerts: unreadable", 6, "{\"features\": [", 200, false, day,
                QStringList{"Weather Alerts Unreadable: the reply is cut short or not well-formed JSON"}, u, day, u);
        dataRow("forecast: the next period as time passes", 7, forecast, 200, false, morning,
                QStringList{"Weather Forecast: Tuesday: 27 F, Snow"}, "Tuesday: 27 F, Snow", at("2024-01-10T05:00:00Z"),
                "Tuesday Night: 11 F, Chance Snow Showers");
        dataRow("forecast: units=si, grown stale", 7, testDataText("weather/forecast-si.json"), 200, true,
                at("2024-04-16T19:00:00Z"), QStringList{"Weather Forecast: This Afternoon: 7 C, Sunny"},
                "This Afternoon: 7 C, Sunny", at("2024-04-17T18:00:00Z"), "Forecast --");
        dataRow("forecast: stale", 7, forecast, 200, false, at("2024-01-10T12:00:00Z"),
                QStringList{"Weather Forecast Stale: updated 30 hours ago"}, u, day, u);
        dataRow("forecast: null temperature", 7,
                QString(forecast).replace("\"temperature\": 27,", "\"temperature\": null,"), 200, false, morning,
                QStringList{"Weather Forecast Missing: the current period has no "}, "Forecast --", day, "Forecast --");
        dataRow("forecast: an ended period's text does not stay", 7,
                QString(forecast).replace("\"temperature\": 11,", "\"temperature\": null,"), 200, false, morning,
                QStringList{"Weather Forecast: Tuesday: 27 F, Snow"}, "Tuesday: 27 F, Snow", at("2024-01-10T05:00:00Z"),
                "Forecast --");
        dataRow("forecast: 500", 7, forecast, 500, false, morning, QStringList{"Request Failed: "}, u, day, u);
        dataRow("forecast: no grid", 7, "", 200, false, morning,
                QStringList{"Weather Forecast Not Requested: no grid (press Get Stations)"}, u, day, u);
    }

    void alertsAndForecast()
    {
        QFETCH(int, item);
        QFETCH(QString, reply);
        QFETCH(QStringList, lines);
        QFETCH(QString, shown);
        QFETCH(QString, shownLater);
        QFETCH(bool, metric);
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, later);
        QFETCH(int, status);
        body = reply.toUtf8();
        this->status = status;
        clock.current = now;
        const Source source = WeatherItems::item(item)->source;
        inputs.gridId = reply.isEmpty() ? "" : "OAX";
        inputs.usUnits = !metric;
        inputs.showsAlerts = source == Source::Alerts;
        inputs.showsForecast = source == Source::Forecast;
        const QString path = item == 6 ? "/alerts/active?point=40.8106,-96.6274"
                                       : QString("/gridpoints/OAX/77,62/forecast") + (metric ? "?units=si" : "");
        owned->feed.refresh(RequestTrigger::Operator);  // the button
        QTRY_VERIFY_WITH_TIMEOUT(!owned->requests.anyRunning(), 20000);
        QStringList expected;
        if (!reply.isEmpty()) {
            expected << QString("Requesting Weather %1 From: ").arg(item == 6 ? "Alerts" : "Forecast") +
                            service.baseUrl() + path
                     << "Error: 0 ErrorString: Unknown error";
            QCOMPARE(service.requests.last().headers.value("accept"),
                     QByteArray(item == 6 ? "application/geo+json" : "application/json"));
        }
        expected << lines;
        const QStringList said = logged();
        QCOMPARE(said.size(), expected.size());
        for (int i = 0; i < said.size(); ++i)
            QVERIFY2(said[i].startsWith(expected[i]), qPrintable(said[i]));
        QStringList texts = shown == Unchanged ? QStringList{} : QStringList{shown};
        QCOMPARE(rowTexts(source), texts);

        this->status = 503;
        tick(later);  // no refresh: the rows move on with the time alone
        QTRY_VERIFY_WITH_TIMEOUT(!owned->requests.anyRunning(), 20000);
        if (shownLater != shown)
            texts << shownLater;
        QCOMPARE(rowTexts(source), texts);
        QCOMPARE(logged().filter("Retrying"), QStringList{});
    }

    // The weather host's requests, a tick a second: the alerts' and forecast's own schedules, one suspension per
    // host.
    void hostSchedule_data()
    {
        // statuses: of the alerts' or forecast's replies in turn ({0}: all held); detail: a refusal's reason;
        // movedAt: the latitude changes.
        addColumns<int, QList<int>, QByteArray, QByteArray, int, int, QList<int>, QStringList>(
            {"item", "statuses", "detail", "retryAfter", "movedAt", "ticks", "requestsAt", "lines"});
        const QString suspended = "^Weather Suspended Until \\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d$";
        const QString refused = "^Weather Alerts Not Available: Point is outside the area.$";
        const QByteArray outside = "Point is outside the area.\\n";
        using L = QList<int>;
        dataRow("alerts every 5 minutes", 6, L{200}, outside, QByteArray(), 0, 700, L{1, 301, 601}, QStringList{});
        dataRow("a refused point: said once, asked hourly, at once when moved", 6, L{400}, outside, QByteArray(), 3700,
                3800, L{1, 3601, 3700}, QStringList{refused, refused});
        dataRow("refused, good, refused again: the line comes back", 6, L{400, 200, 400}, outside, QByteArray(), 0,
                4000, L{1, 3601, 3901}, QStringList{refused, refused});
        dataRow("a 300-character reason with a newline inside: one line of 200", 6, L{400},
                QByteArray(150, 'x') + "\\n" + QByteArray(150, 'y'), QByteArray(), 0, 10, L{1},
                QStringList{"^Weather Alerts Not Available: x{150}y{50}$"});
        dataRow("503: 5, 10, 20 minutes apart", 6, L{503}, outside, QByteArray(), 0, 2500, L{1, 301, 901, 2101},
                QStringList{});
        dataRow("a 503 series run past 2 hours: hourly at most", 6, L{503}, outside, QByteArray(), 0, 8200,
                L{1, 301, 901, 2101, 4501, 8101}, QStringList{});
        dataRow("a timed-out alerts request: no weather retry", 6, L{0}, outside, QByteArray(), 0, 400, L{1, 301},
                QStringList{});
        dataRow("a Retry-After on the alerts suspends the host: the alerts wait it out", 6, L{503}, outside,
                QByteArray("3600"), 0, 3700, L{1, 3601}, QStringList{suspended, suspended});
        dataRow("a Saturday without weekend updates shows the forecast", 7, L{200}, outside, QByteArray(), 0, 60, L{1},
                QStringList{});
    }

    void hostSchedule()
    {
        QFETCH(int, item);
        QFETCH(QList<int>, statuses);
        QFETCH(QByteArray, detail);
        QFETCH(int, movedAt);
        QFETCH(int, ticks);
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, retryAfter);
        this->retryAfter = retryAfter;
        this->statuses = statuses;
        hold = statuses == QList<int>{0};
        problem = "{\"title\": \"Bad Request\", \"detail\": \"" + detail + "\"}";
        body = item == 6 ? testDataText("weather/alerts-none.json").toUtf8()
                         : QByteArray(R"({"properties": {"updateTime": "2024-06-15T12:00:00Z",
                        "periods": [{"name": "Saturday", "endTime": "2024-06-16T00:00:00Z", "temperature": 81, "temperatureUnit": "F"}]}})");
        inputs.gridId = inputs.gridX = inputs.gridY = "1";
        inputs.showsAlerts = item == 6;
        inputs.showsForecast = item == 7;
        const QDateTime start = item == 7 ? TestNow.addDays(3) : TestNow;  // a Saturday: no weather refresh
        auto sent = [this] { return logged().filter(QRegularExpression("^Requesting ")).size(); };
        QList<int> sentAt;
        for (int second = 1; second <= ticks; ++second) {
            const int before = sent();
            if (second == movedAt)
                inputs.latitude = "1";
            tick(start.addSecs(second));
            QTRY_VERIFY_WITH_TIMEOUT(hold || !owned->requests.anyRunning(), 20000);
            for (int r = before; r < sent(); ++r)
                sentAt << second;
        }
        QTEST(sentAt, "requestsAt");
        const QStringList said = logged().filter(QRegularExpression("^(Weather Alerts Not|Weather Susp|Retrying)"));
        QCOMPARE(said.size(), lines.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(QRegularExpression(lines[i]).match(said[i]).hasMatch(), qPrintable(said[i]));
        // A refusal's failed request ends with the service's reason, as the refusal's line says it.
        const QString reason = said.value(0).section(": ", 1);
        for (const QString& line : logged().filter("Request Failed: "))
            QVERIFY(!statuses.contains(400) || line.endsWith("Bad Request (" + reason + ")"));
        const QStringList texts = rowTexts(item == 6 ? Source::Alerts : Source::Forecast);
        QVERIFY(item != 7 || texts.value(texts.size() - 1) == "Saturday: 81 F");
        QVERIFY(statuses.last() != 400 || texts.value(texts.size() - 1) == "Alerts --");
    }
};

CORVELTA_TEST_GUILESS_MAIN(AlertsForecastFeedTest)
#include "tst_alertsforecastfeed.moc"
