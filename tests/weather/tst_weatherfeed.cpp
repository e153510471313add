#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTimer>

#include "app/mainwindow.h"
#include "clocksim/simulatedclock.h"
#include "support/clockportlock.h"
#include "support/debugcapture.h"
#include "support/fixedclock.h"
#include "support/handwrittendatagram.h"
#include "support/mainwindowprobe.h"
#include "support/quotereplies.h"
#include "support/settingsfiles.h"
#include "support/substituteclocks.h"
#include "support/substitutewebserver.h"
#include "support/testmain.h"

namespace {

// Every line the window logs reaches the debug output; the lines of the
// weather feed are kept here, without the log's time stamp if it has one.
DebugCapture* capture = nullptr;

const QStringList WeatherLogPrefixes = {"Requesting ",
                                        "Error: ",
                                        "Station Weather Response: ",
                                        "Currently: ",
                                        "Sending Weather Data to ",
                                        "Weather Data Missing: ",
                                        "Request Failed: ",
                                        "sslErrors count=",
                                        "No Match http Response: ",
                                        "Weather Observation Stale: ",
                                        "Retrying Weather in ",
                                        "Weather Not Requested: ",
                                        "Request Timed Out: ",
                                        "Request Abandoned: ",
                                        "Request Still Running: ",
                                        "Weather Suspen",
                                        "Weather Alerts",
                                        "Weather Forecast"};

// The moment the tests run at: six minutes after the recorded observation
// (2024-06-12T18:54:00+00:00, a Wednesday), so it is not stale.
const QDateTime TestNow = QDateTime(QDate(2024, 6, 12), QTime(19, 0), Qt::UTC).toLocalTime();

// The debug output carries each log line without its line breaks.
QString echoed(QString line)
{
    return line.remove(QLatin1Char('\n'));
}

int logMark()
{
    return capture->mark();
}

// The weather feed's log lines since the mark, in order.
QStringList weatherLogSince(int mark)
{
    QStringList lines;
    for (const QString& line : capture->debugSince(mark))
        for (const QString& prefix : WeatherLogPrefixes)
            if (line.startsWith(prefix)) {
                lines.append(line);
                break;
            }
    return lines;
}

bool loggedSince(int mark, const QString& prefix)
{
    for (const QString& line : weatherLogSince(mark))
        if (line.startsWith(prefix))
            return true;
    return false;
}

QStringList debugSince(int mark)
{
    return capture->debugSince(mark);
}

QByteArray readReply(const QString& file)
{
    QFile f(testDataPath("weather/" + file));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing test reply %s", qPrintable(file));
    return f.readAll();
}

const QString Unchanged = "<unchanged>";

// The quote service's answer in every case but the bad replies.
QByteArray goodQuotes()
{
    return quoteReply({{"AAPL", "Apple Inc.", "189.25", "-1.2", "53242137"},
                       {"MSFT", "Microsoft Corporation", "378.91", "0", "20101200"}});
}

// Bad replies: the good reply cut right after the comma that ends the member
// holding `anchor` (so no value is cut in half), with `joint` put in its place.
QByteArray cutAfterMember(const QByteArray& good, const QByteArray& anchor, const QByteArray& joint)
{
    return good.left(good.indexOf(',', good.indexOf(anchor)) + 1) + joint;
}

QByteArray binaryGarbage(int size)
{
    QByteArray bytes(size, '\0');
    quint32 state = 2463534242u;
    for (int i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = char(state);
    }
    return bytes;
}

}  // namespace

class WeatherFeedTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void operatorSequence();
    void refresh_data();
    void refresh();
    void stationsSortAndSecondLookupAppends();
    void failedPointLookupChangesNothing_data();
    void failedPointLookupChangesNothing();
    void untrustedCertificate();
    void requestsAsSent();
    void stationBoxSetsStationId_data();
    void stationBoxSetsStationId();
    void metricBoxOnlyFlipsUnits();
    void windowFormattingFollowsUnits();
    void noStationNoRequest();
    void userAgent_data();
    void userAgent();
    void hugeInterval();
    void misbehavingServiceForAnHour_data();
    void misbehavingServiceForAnHour();
    void hostSchedule_data();
    void hostSchedule();
    void badReplyChangesNothingHeld_data();
    void badReplyChangesNothingHeld();
    void thousandQuotes();
    void twoThousandStations();

private:
    void newWindow();
    QLabel* label(int slot) { return window->findChild<QLabel*>(QString("lastWeatherVar%1").arg(slot)); }
    template <typename T>
    T* widget(const char* name)
    {
        return window->findChild<T*>(name);
    }
    void setSlots(const QList<int>& items);
    void presetLabels();
    // Checks what each clock received since the last check, retransmissions
    // folded; a marker datagram sent last shows that everything queued before
    // it has arrived.
    void expectDatagrams(const QList<QByteArray>& at2, const QList<QByteArray>& at3);
    void drainClocks();
    // Slots Temperature, None, Wind, None, Humidity refreshed to both clocks.
    void expectTemperatureWindHumidity();
    bool markerArrived();
    // What the window holds that a bad reply must not take: the station
    // box, the chosen station, the weather and stock texts shown.
    enum Kind { Point, Stations, Observation, Quotes };
    QStringList held();
    // Issues the request of one kind and waits until its reply, and the one
    // it leads to (a point reply asks for the station list), has been handled.
    bool request(Kind kind);
    // Fills the window with good replies of every kind: held() after it.
    QStringList holdGoodReplies();

    QScopedPointer<SubstituteWebServer> service;
    QScopedPointer<SimulatedClock> clock2;
    QScopedPointer<SimulatedClock> clock3;
    QScopedPointer<MainWindow> window;

    // What the substitute weather service answers.
    QByteArray observationBody;
    int observationStatus = 200;
    QByteArray stationsBody;
    QByteArray pointBody;
    QByteArray quotesBody;
    int pointStatus = 200;
    bool holdObservation = false;
    int quoteStatus = 200;  // with retryAfter when not 200

    bool clockLinkSends = false;
    int markerCount = 0;

    // The observation replies' statuses in turn (the last one repeats), and
    // their Retry-After.
    QList<int> observationSequence;
    QByteArray retryAfter;
    int observationsServed = 0;
    QByteArray outlookBody;  // the alerts and forecast replies
    int outlookStatus = 200;
    // Further keys of the settings file of the next window.
    QMap<QString, QVariant> extraSettings;
    QScopedPointer<FixedClock> clock;
};

void WeatherFeedTest::initTestCase()
{
    static ClockPortLock lock;
    capture = new DebugCapture({true, true});
    qRegisterMetaType<QNetworkReply*>();
    trustTestCertificateAuthority();
    clock.reset(new FixedClock(TestNow));

    service.reset(new SubstituteWebServer(SubstituteWebServer::Mode::HttpsTrusted));
    QVERIFY(service->start());
    service->setHandler([this](const SubstituteWebServer::Request& request) {
        SubstituteWebServer::Reply reply;
        const QByteArray path = request.target;
        if (path.startsWith("/points/")) {
            reply.status = pointStatus;
            reply.contentType = "application/geo+json";
            reply.body = pointStatus == 200
                             ? pointBody
                             : QByteArray("{\n    \"title\": \"Unexpected Problem\",\n    \"status\": ") +
                                   QByteArray::number(pointStatus) + "\n}\n";
        } else if (path.startsWith("/alerts/active?point=") || path.contains("/forecast")) {
            reply.status = outlookStatus;
            reply.body = outlookBody;
            reply.hold = holdObservation;
            if (outlookStatus != 200 && !retryAfter.isEmpty())
                reply.headers.append({"Retry-After", retryAfter});
        } else if (path.startsWith("/gridpoints/")) {
            reply.contentType = "application/geo+json";
            reply.body = stationsBody;
        } else if (path.startsWith("/stations/")) {
            reply.status = observationStatus;
            reply.contentType = "application/geo+json";
            reply.body = observationBody;
            reply.hold = holdObservation;
            if (!observationSequence.isEmpty()) {
                const int step = observationSequence.value(qMin(observationsServed, observationSequence.size() - 1));
                ++observationsServed;
                reply.status = step;
                if (step != 200)
                    reply.body = "{\"title\": \"Unexpected Problem\", \"status\": " + QByteArray::number(step) + "}";
                if (step != 200 && !retryAfter.isEmpty())
                    reply.headers.append({"Retry-After", retryAfter});
            }
        } else if (path.startsWith("/qu/quote")) {
            reply.body = quotesBody;
            reply.status = quoteStatus;
            if (quoteStatus != 200)
                reply.headers.append({"Retry-After", retryAfter});
        } else {
            reply.status = 404;
        }
        return reply;
    });

    QVERIFY(bindSubstituteClocks(clock2, clock3));

    // Every datagram check below relies on the clock link reaching the clocks.
    newWindow();
    window->SendClockVar("127.0.0.2", 9, "probe");
    clockLinkSends = QTest::qWaitFor([this] { return !clock2->arrivals.isEmpty(); }, 5000);
    window.reset();
    QVERIFY2(clockLinkSends, "the clock link delivers nothing to a substitute clock");
}

void WeatherFeedTest::init()
{
    clock->current = TestNow;
    observationSequence.clear();
    retryAfter.clear();
    observationsServed = 0;
    outlookStatus = 200;
    extraSettings.clear();
    observationBody = readReply("observation.json");
    observationStatus = 200;
    stationsBody = readReply("stations.json");
    pointBody = readReply("point.json");
    quotesBody = goodQuotes();
    pointStatus = 200;
    holdObservation = false;
    quoteStatus = 200;
    service->requests.clear();
    newWindow();
    // Whatever an earlier case left queued or in flight is out of the way.
    drainClocks();
}

void WeatherFeedTest::cleanup()
{
    service->releaseHeld();
    window.reset();
}

void WeatherFeedTest::cleanupTestCase()
{
    clock.reset();
    delete capture;
    capture = nullptr;
}

// A fresh window whose settings file says where the weather service is.
void WeatherFeedTest::newWindow()
{
    window.reset();
    const QString settingsPath = QCoreApplication::applicationDirPath() + "/crv_settings.ini";
    QFile::remove(settingsPath);
    {
        QSettings settings(settingsPath, QSettings::IniFormat);
        settings.setValue("weatherhost", service->baseUrl());
        settings.setValue("stockhost", "http://127.0.0.1:9");
        for (auto it = extraSettings.cbegin(); it != extraSettings.cend(); ++it)
            settings.setValue(it.key(), it.value());
    }
    window.reset(new MainWindow);
    // Until the settings file is read at start-up the base is set directly.
    MainWindowProbe::weatherBaseUrl(*window) = service->baseUrl();
    // No scheduled refresh may slip in between the steps of a case; the test
    // ticks the scheduler itself, inside a weather window open all day.
    MainWindowProbe::updateTimer(*window)->stop();
    MainWindowProbe::weatherStart(*window) = QTime(0, 0);
    MainWindowProbe::weatherStop(*window) = QTime(23, 59, 59, 999);
}

void WeatherFeedTest::setSlots(const QList<int>& items)
{
    for (int slot = 1; slot <= 5; ++slot) {
        QComboBox* box = window->findChild<QComboBox*>(QString("weatherItemComboBox%1").arg(slot));
        box->setCurrentIndex(WeatherItems::position(items[slot - 1]));  // by item number, not place
    }
}

void WeatherFeedTest::presetLabels()
{
    for (int slot = 1; slot <= 5; ++slot)
        label(slot)->setText(Unchanged);
}

// The feed never uses variable 9: markers (and the start-up probe) travel on it.
bool WeatherFeedTest::markerArrived()
{
    const QByteArray marker = datagram(9, QString("marker %1").arg(++markerCount));
    const QString markerText = QString::fromUtf8(marker.mid(2, marker.size() - 3));
    window->SendClockVar("127.0.0.2", 9, markerText);
    window->SendClockVar("127.0.0.3", 9, markerText);
    auto distinct = [](const SimulatedClock& clock) {
        QList<QByteArray> list;
        for (const SimulatedClock::Arrival& arrival : clock.arrivals)
            if (!list.contains(arrival.data))
                list.append(arrival.data);
        return list;
    };
    return QTest::qWaitFor([&] { return distinct(*clock2).contains(marker) && distinct(*clock3).contains(marker); },
                           20000);
}

void WeatherFeedTest::drainClocks()
{
    markerArrived();
    clock2->arrivals.clear();
    clock3->arrivals.clear();
}

void WeatherFeedTest::expectDatagrams(const QList<QByteArray>& at2, const QList<QByteArray>& at3)
{
    auto fromFeed = [](const SimulatedClock& clock) {
        QList<QByteArray> list;
        for (const SimulatedClock::Arrival& arrival : clock.arrivals)
            if (arrival.data.size() < 2 || arrival.data.at(1) != 9)
                if (!list.contains(arrival.data))
                    list.append(arrival.data);
        return list;
    };
    QVERIFY2(markerArrived(), "the marker datagram never reached both clocks");
    QCOMPARE(fromFeed(*clock2), at2);
    QCOMPARE(fromFeed(*clock3), at3);
    clock2->arrivals.clear();
    clock3->arrivals.clear();
}

void WeatherFeedTest::expectTemperatureWindHumidity()
{
    const QStringList shown = {"12 C", Unchanged, "N-11 kmh", Unchanged, "54%"};
    for (int slot = 1; slot <= 5; ++slot)
        QCOMPARE(label(slot)->text(), shown[slot - 1]);
    const QList<QByteArray> sent = {datagram(0, "12 C"), datagram(2, "N-11 kmh"), datagram(4, "54%")};
    expectDatagrams(sent, sent);
}

void WeatherFeedTest::operatorSequence()
{
    widget<QLineEdit>("latitudeLineEdit")->setText("40.8106");
    widget<QLineEdit>("longitudeLineEdit")->setText("-96.6274");
    const QString url = service->baseUrl();
    int mark = logMark();

    widget<QPushButton>("coordsPushButton")->click();
    QVERIFY(MainWindowProbe::running(*window, RequestKind::Point));
    QTRY_COMPARE_WITH_TIMEOUT(widget<QComboBox>("locationComboBox")->count(), 6, 20000);

    QCOMPARE(service->requests.size(), 2);
    QCOMPARE(service->requests[0].target, QByteArray("/points/40.8106,-96.6274"));
    QCOMPARE(service->requests[1].target, QByteArray("/gridpoints/OAX/58,55/stations"));
    QVERIFY(!MainWindowProbe::running(*window, RequestKind::Stations));
    QCOMPARE(MainWindowProbe::gridId(*window), QString("OAX"));
    QCOMPARE(MainWindowProbe::gridX(*window), QString("58"));
    QCOMPARE(MainWindowProbe::gridY(*window), QString("55"));
    // The first sorted station became current and gave the station id.
    QCOMPARE(widget<QComboBox>("locationComboBox")->itemText(0), QString("Crete Municipal Airport: KCEK"));
    QCOMPARE(MainWindowProbe::stationId(*window), QString("KCEK"));
    QCOMPARE(widget<QLabel>("locationStatusLabel")->text(), QString("ID: OAX Grid: 58,55 Station: KCEK"));
    QCOMPARE(weatherLogSince(mark),
             QStringList({"Requesting Address Data From: " + url + "/points/40.8106,-96.6274",
                          "Error: 0 ErrorString: Unknown error",
                          "Requesting Station Data From: " + url + "/gridpoints/OAX/58,55/stations",
                          "Error: 0 ErrorString: Unknown error"}));
    // The sorted entries go to the debug output only.
    const QStringList debug = debugSince(mark);
    QVERIFY(debug.contains(" 0: Crete Municipal Airport: KCEK"));
    QVERIFY(debug.contains(" 5: York Municipal Airport: KJYR"));

    // The operator picks Lincoln, sets the slots and clocks, and refreshes.
    widget<QComboBox>("locationComboBox")->setCurrentText("Lincoln, Lincoln Municipal Airport: KLNK");
    QCOMPARE(MainWindowProbe::stationId(*window), QString("KLNK"));
    setSlots({2, 0, 4, 0, 5});
    widget<QLineEdit>("clockWeatherIPListEdit")->setText("127.0.0.2, 127.0.0.3");
    widget<QCheckBox>("metricCheckBox")->setChecked(true);
    presetLabels();
    mark = logMark();

    widget<QPushButton>("updateWeatherPushButton")->click();
    QVERIFY(MainWindowProbe::running(*window, RequestKind::Observation));
    QTRY_COMPARE_WITH_TIMEOUT(widget<QLabel>("lastUpdateLabel")->text(),
                              QString("Last Update:2024-06-12T18:54:00+00:00"), 20000);
    QCOMPARE(service->requests.last().target, QByteArray("/stations/KLNK/observations/latest"));
    QStringList expected = {"Requesting Weather Data From: " + url + "/stations/KLNK/observations/latest",
                            "Error: 0 ErrorString: Unknown error",
                            echoed("Station Weather Response: " + QString::fromUtf8(observationBody)),
                            "Currently: Mostly Cloudy, Temp: 12 C, Dewpt: 3 C, Wind: N-11 kmh, Humidity: 54%"};
    for (int slot = 1; slot <= 5; ++slot)
        expected << "Sending Weather Data to 127.0.0.2"
                 << "Sending Weather Data to 127.0.0.3";
    QCOMPARE(weatherLogSince(mark), expected);
    expectTemperatureWindHumidity();
}

void WeatherFeedTest::refresh_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("metric");
    QTest::addColumn<QList<int>>("items");
    QTest::addColumn<QString>("addressText");
    QTest::addColumn<QStringList>("extraLines");  // logged between the response and the summary
    QTest::addColumn<QString>("summary");         // empty: nothing is updated
    QTest::addColumn<QStringList>("sentTo");      // the addresses, one "Sending" line per slot each
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QList<QByteArray>>("at2");
    QTest::addColumn<QList<QByteArray>>("at3");

    const QString metricSummary = "Currently: Mostly Cloudy, Temp: 12 C, Dewpt: 3 C, Wind: N-11 kmh, Humidity: 54%";
    const QString usSummary = "Currently: Mostly Cloudy, Temp: 53 F, Dewpt: 39 F, Wind: N-6 mph, Humidity: 54%";
    const QString u = Unchanged;

    QTest::newRow("all five items, US units, one clock")
        << "observation.json" << false << QList<int>{1, 2, 3, 4, 5} << "127.0.0.2" << QStringList{} << usSummary
        << QStringList{"127.0.0.2"} << QStringList{usSummary, "53 F", "39 F", "N-6 mph", "54%"}
        << QList<QByteArray>{datagram(0, usSummary), datagram(1, "53 F"), datagram(2, "39 F"), datagram(3, "N-6 mph"),
                             datagram(4, "54%")}
        << QList<QByteArray>{};
    QTest::newRow("the same in metric") << "observation.json" << true << QList<int>{1, 2, 3, 4, 5} << "127.0.0.2"
                                        << QStringList{} << metricSummary << QStringList{"127.0.0.2"}
                                        << QStringList{metricSummary, "12 C", "3 C", "N-11 kmh", "54%"}
                                        << QList<QByteArray>{datagram(0, metricSummary), datagram(1, "12 C"),
                                                             datagram(2, "3 C"), datagram(3, "N-11 kmh"),
                                                             datagram(4, "54%")}
                                        << QList<QByteArray>{};
    QTest::newRow("item chosen twice, other clock")
        << "observation-cold.json" << true << QList<int>{0, 0, 5, 5, 0} << "127.0.0.3" << QStringList{}
        << "Currently: Light Snow, Temp: -3 C, Dewpt: -10 C, Wind: NE-5 kmh, Humidity: 65%" << QStringList{"127.0.0.3"}
        << QStringList{u, u, "65%", "65%", u} << QList<QByteArray>{}
        << QList<QByteArray>{datagram(2, "65%"), datagram(3, "65%")};
    QTest::newRow("spaces and empty parts around one address")
        << "observation.json" << true << QList<int>{2, 0, 0, 0, 0} << ",, 127.0.0.3 ,," << QStringList{}
        << metricSummary << QStringList{"127.0.0.3"} << QStringList{"12 C", u, u, u, u} << QList<QByteArray>{}
        << QList<QByteArray>{datagram(0, "12 C")};
    QTest::newRow("a part of spaces only stays as an empty address")
        << "observation.json" << true << QList<int>{0, 0, 0, 0, 5} << " ,127.0.0.2" << QStringList{} << metricSummary
        << QStringList{"", "127.0.0.2"} << QStringList{u, u, u, u, "54%"} << QList<QByteArray>{datagram(4, "54%")}
        << QList<QByteArray>{};
    QTest::newRow("empty address list") << "observation.json" << true << QList<int>{1, 2, 3, 4, 5} << ""
                                        << QStringList{} << metricSummary << QStringList{} << QStringList{u, u, u, u, u}
                                        << QList<QByteArray>{} << QList<QByteArray>{};
    QTest::newRow("null temperature and wind speed are not sent")
        << "observation-partial.json" << true << QList<int>{1, 2, 3, 4, 5} << "127.0.0.2, 127.0.0.3"
        << QStringList{"Weather Data Missing: temperature, windSpeed"}
        << "Currently: Clear, Temp: --, Dewpt: 3 C, Wind: --, Humidity: 54%" << QStringList{"127.0.0.2", "127.0.0.3"}
        << QStringList{"Currently: Clear, Temp: --, Dewpt: 3 C, Wind: --, Humidity: 54%", u, "3 C", u, "54%"}
        << QList<QByteArray>{datagram(0, "Currently: Clear, Temp: --, Dewpt: 3 C, Wind: --, Humidity: 54%"),
                             datagram(2, "3 C"), datagram(4, "54%")}
        << QList<QByteArray>{datagram(0, "Currently: Clear, Temp: --, Dewpt: 3 C, Wind: --, Humidity: 54%"),
                             datagram(2, "3 C"), datagram(4, "54%")};
    QTest::newRow("null direction leaves the compass word empty")
        << "observation-nodirection.json" << false << QList<int>{0, 0, 0, 4, 0} << "127.0.0.2"
        << QStringList{"Weather Data Missing: windDirection"}
        << "Currently: Fair, Temp: 69 F, Dewpt: 51 F, Wind: 5 mph, Humidity: 55%" << QStringList{"127.0.0.2"}
        << QStringList{u, u, u, "5 mph", u} << QList<QByteArray>{datagram(3, "5 mph")} << QList<QByteArray>{};
    QTest::newRow("5-hour-old observation is not sent")
        << "observation-stale.json" << true << QList<int>{1, 2, 3, 4, 5} << "127.0.0.2, 127.0.0.3"
        << QStringList{"Weather Observation Stale: KLNK is 306 minutes old"} << "" << QStringList{}
        << QStringList{u, u, u, u, u} << QList<QByteArray>{} << QList<QByteArray>{};
    QTest::newRow("QC X temperature is unknown")
        << "observation-rejected.json" << true << QList<int>{1, 2, 3, 0, 0} << "127.0.0.2"
        << QStringList{"Weather Data Missing: temperature"}
        << "Currently: Mostly Cloudy, Temp: --, Dewpt: 3 C, Wind: N-11 kmh, Humidity: 54%" << QStringList{"127.0.0.2"}
        << QStringList{"Currently: Mostly Cloudy, Temp: --, Dewpt: 3 C, Wind: N-11 kmh, Humidity: 54%", u, "3 C", u, u}
        << QList<QByteArray>{datagram(0,
                                      "Currently: Mostly Cloudy, Temp: --, Dewpt: 3 C, Wind: N-11 kmh, Humidity: 54%"),
                             datagram(2, "3 C")}
        << QList<QByteArray>{};
    QTest::newRow("null textDescription and timestamp")
        << "observation-nulltext.json" << true << QList<int>{1, 0, 0, 0, 2} << "127.0.0.3" << QStringList{}
        << "Currently: , Temp: 12 C, Dewpt: 3 C, Wind: N-11 kmh, Humidity: 54%" << QStringList{"127.0.0.3"}
        << QStringList{"Currently: , Temp: 12 C, Dewpt: 3 C, Wind: N-11 kmh, Humidity: 54%", u, u, u, "12 C"}
        << QList<QByteArray>{}
        << QList<QByteArray>{datagram(0, "Currently: , Temp: 12 C, Dewpt: 3 C, Wind: N-11 kmh, Humidity: 54%"),
                             datagram(4, "12 C")};
    QTest::newRow("direction 361: speed and unit alone")
        << "observation-direction361.json" << false << QList<int>{0, 0, 0, 4, 0} << "127.0.0.2" << QStringList{}
        << "Currently: Mostly Cloudy, Temp: 53 F, Dewpt: 39 F, Wind: 6 mph, Humidity: 54%" << QStringList{"127.0.0.2"}
        << QStringList{u, u, u, "6 mph", u} << QList<QByteArray>{datagram(3, "6 mph")} << QList<QByteArray>{};
    QTest::newRow("nothing measured is a failed reply")
        << "observation-all-null.json" << true << QList<int>{1, 2, 3, 4, 5} << "127.0.0.2, 127.0.0.3"
        << QStringList{"Weather Data Missing: temperature, dewpoint, windDirection, windSpeed, relativeHumidity; "
                       "observation ignored"}
        << "" << QStringList{} << QStringList{u, u, u, u, u} << QList<QByteArray>{} << QList<QByteArray>{};
    const QString snow = "Currently: Light Snow, Temp: -12 C, Dewpt: -15 C, Wind: N-18 kmh, Humidity: 68%";
    QTest::newRow("older reply: 10 F and 5.1 m/s in metric")
        << "observation-fahrenheit.json" << true << QList<int>{1, 2, 0, 0, 0} << "127.0.0.2" << QStringList{} << snow
        << QStringList{"127.0.0.2"} << QStringList{snow, "-12 C", u, u, u}
        << QList<QByteArray>{datagram(0, snow), datagram(1, "-12 C")} << QList<QByteArray>{};
}

void WeatherFeedTest::refresh()
{
    QFETCH(QString, reply);
    QFETCH(bool, metric);
    QFETCH(QList<int>, items);
    QFETCH(QString, addressText);
    QFETCH(QStringList, extraLines);
    QFETCH(QString, summary);
    QFETCH(QStringList, sentTo);
    QFETCH(QStringList, labels);
    QFETCH(QList<QByteArray>, at2);
    QFETCH(QList<QByteArray>, at3);

    observationBody = readReply(reply);
    MainWindowProbe::stationId(*window) = "KLNK";
    widget<QCheckBox>("metricCheckBox")->setChecked(!metric);
    widget<QCheckBox>("metricCheckBox")->setChecked(metric);
    setSlots(items);
    widget<QLineEdit>("clockWeatherIPListEdit")->setText(addressText);
    presetLabels();
    widget<QLabel>("lastUpdateLabel")->setText("Last Update:before");
    const int mark = logMark();

    widget<QPushButton>("updateWeatherPushButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(loggedSince(mark, "Station Weather Response: "), 20000);

    QStringList expected = {
        "Requesting Weather Data From: " + service->baseUrl() + "/stations/KLNK/observations/latest",
        "Error: 0 ErrorString: Unknown error",
        echoed("Station Weather Response: " + QString::fromUtf8(observationBody))};
    expected << extraLines;
    if (!summary.isEmpty()) {
        expected << summary;
        for (int slot = 1; slot <= 5; ++slot)
            for (const QString& address : sentTo)
                expected << "Sending Weather Data to " + address;
    }
    QCOMPARE(weatherLogSince(mark), expected);
    const bool stampShown = !summary.isEmpty() && reply != "observation-nulltext.json";
    QCOMPARE(widget<QLabel>("lastUpdateLabel")->text(),
             stampShown ? QString("Last Update:2024-06-12T18:54:00+00:00") : QString("Last Update:before"));
    for (int slot = 1; slot <= 5; ++slot)
        QCOMPARE(label(slot)->text(), labels[slot - 1]);
    expectDatagrams(at2, at3);
}

void WeatherFeedTest::stationsSortAndSecondLookupAppends()
{
    stationsBody = R"({
    "type": "FeatureCollection",
    "features": [
        {
            "properties": {
                "stationIdentifier": "K0A1",
                "name": "ames east"
            }
        },
        {
            "properties": {
                "stationIdentifier": "KZZZ",
                "name": "Zenith Field"
            }
        },
        {
            "properties": {
                "stationIdentifier": "KBBB",
                "name": "Boone"
            }
        }
    ]
})";
    QComboBox* box = widget<QComboBox>("locationComboBox");
    widget<QPushButton>("coordsPushButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(box->count(), 3, 20000);
    QCOMPARE(MainWindowProbe::stationId(*window), QString("KBBB"));

    stationsBody = readReply("stations.json");
    widget<QPushButton>("coordsPushButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(box->count(), 9, 20000);
    QStringList entries;
    for (int i = 0; i < box->count(); ++i)
        entries << box->itemText(i);
    QCOMPARE(entries.mid(0, 3), QStringList({"Boone: KBBB", "Zenith Field: KZZZ", "ames east: K0A1"}));
    QCOMPARE(entries.value(3), QString("Crete Municipal Airport: KCEK"));
    QCOMPARE(entries.value(8), QString("York Municipal Airport: KJYR"));
    // The station chosen by the first filling stays.
    QCOMPARE(MainWindowProbe::stationId(*window), QString("KBBB"));
    QCOMPARE(box->currentIndex(), 0);
}

void WeatherFeedTest::failedPointLookupChangesNothing_data()
{
    QTest::addColumn<int>("status");
    dataRow("500", 500);
    dataRow("503", 503);
}

void WeatherFeedTest::failedPointLookupChangesNothing()
{
    QFETCH(int, status);
    pointStatus = status;
    MainWindowProbe::gridId(*window) = "TOP";
    MainWindowProbe::gridX(*window) = "31";
    MainWindowProbe::gridY(*window) = "80";
    widget<QLabel>("locationStatusLabel")->setText("before");
    const int mark = logMark();

    widget<QPushButton>("coordsPushButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(loggedSince(mark, "Request Failed: "), 20000);
    const QStringList lines = weatherLogSince(mark);
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines[2].startsWith("Request Failed: " + service->baseUrl() + "/points/"), qPrintable(lines[2]));
    QVERIFY2(lines[2].contains(
                 QString(" Error: %1 ErrorString: ")
                     .arg(status == 500 ? QNetworkReply::InternalServerError : QNetworkReply::ServiceUnavailableError)),
             qPrintable(lines[2]));
    QCOMPARE(service->requests.size(), 1);  // no station list asked for
    QCOMPARE(MainWindowProbe::gridId(*window), QString("TOP"));
    QCOMPARE(MainWindowProbe::gridX(*window), QString("31"));
    QCOMPARE(MainWindowProbe::gridY(*window), QString("80"));
    QCOMPARE(widget<QLabel>("locationStatusLabel")->text(), QString("before"));
    QCOMPARE(widget<QComboBox>("locationComboBox")->count(), 0);

    // A failed observation: no label, no update time, nothing on the clocks.
    observationStatus = status;
    MainWindowProbe::stationId(*window) = "KLNK";
    setSlots({1, 2, 3, 4, 5});
    widget<QLineEdit>("clockWeatherIPListEdit")->setText("127.0.0.2,127.0.0.3");
    presetLabels();
    widget<QLabel>("lastUpdateLabel")->setText("Last Update:before");
    const int second = logMark();
    widget<QPushButton>("updateWeatherPushButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(loggedSince(second, "Request Failed: "), 20000);
    QCOMPARE(weatherLogSince(second).size(), 3);
    QCOMPARE(widget<QLabel>("lastUpdateLabel")->text(), QString("Last Update:before"));
    for (int slot = 1; slot <= 5; ++slot)
        QCOMPARE(label(slot)->text(), Unchanged);
    expectDatagrams({}, {});
}

void WeatherFeedTest::untrustedCertificate()
{
    SubstituteWebServer untrusted(SubstituteWebServer::Mode::HttpsUntrusted);
    QVERIFY(untrusted.start());
    untrusted.setHandler([](const SubstituteWebServer::Request&) {
        SubstituteWebServer::Reply reply;
        reply.body = readReply("observation.json");
        return reply;
    });
    MainWindowProbe::weatherBaseUrl(*window) = untrusted.baseUrl();
    MainWindowProbe::stationId(*window) = "KLNK";
    setSlots({1, 2, 3, 4, 5});
    widget<QLineEdit>("clockWeatherIPListEdit")->setText("127.0.0.2, 127.0.0.3");
    presetLabels();
    widget<QLabel>("lastUpdateLabel")->setText("Last Update:before");
    const int mark = logMark();

    widget<QPushButton>("updateWeatherPushButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(loggedSince(mark, "Request Failed: "), 20000);
    const QStringList lines = weatherLogSince(mark);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], "Requesting Weather Data From: " + untrusted.baseUrl() + "/stations/KLNK/observations/latest");
    QVERIFY2(QRegularExpression("^sslErrors count=[1-9][0-9]*$").match(lines[2]).hasMatch(), qPrintable(lines[2]));
    QVERIFY2(
        lines[3].startsWith("Request Failed: " + untrusted.baseUrl() + "/stations/KLNK/observations/latest Error: " +
                            QString::number(QNetworkReply::SslHandshakeFailedError)),
        qPrintable(lines[3]));
    QVERIFY(untrusted.requests.isEmpty());  // the request itself never left
    QCOMPARE(widget<QLabel>("lastUpdateLabel")->text(), QString("Last Update:before"));
    for (int slot = 1; slot <= 5; ++slot)
        QCOMPARE(label(slot)->text(), Unchanged);
    expectDatagrams({}, {});
}

// What goes over the wire: GET, the paths as the templates give them, the
// Accept header and nothing the program adds of its own.
void WeatherFeedTest::requestsAsSent()
{
    MainWindowProbe::gridId(*window) = "";
    MainWindowProbe::stationId(*window) = "";
    const int mark = logMark();
    widget<QPushButton>("updateWeatherPushButton")->click();  // no station chosen yet: no request
    QCOMPARE(weatherLogSince(mark), QStringList{"Weather Not Requested: no station chosen"});
    window->getStations("BOX", "71", "90");
    window->getWeather("KBOS");
    QTRY_VERIFY_WITH_TIMEOUT(!MainWindowProbe::running(*window, RequestKind::Observation), 20000);
    window->getWeather("KBOS");
    QTRY_COMPARE_WITH_TIMEOUT(service->requests.size(), 3, 20000);
    QStringList targets;
    for (const SubstituteWebServer::Request& request : service->requests) {
        targets << QString::fromUtf8(request.target);
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.headers.value("accept"), QByteArray("application/json"));
        QCOMPARE(request.headers.value("user-agent"), QByteArray("Corvelta/1.0.6"));
        QVERIFY(!request.headers.contains("authorization"));
        QVERIFY(!request.headers.contains("x-rapidapi-key"));
    }
    targets.sort();
    QCOMPARE(targets, QStringList({"/gridpoints/BOX/71,90/stations", "/stations/KBOS/observations/latest",
                                   "/stations/KBOS/observations/latest"}));
    window->getStations("BOX", "71", "90");
    QVERIFY(MainWindowProbe::running(*window, RequestKind::Stations));
}

void WeatherFeedTest::stationBoxSetsStationId_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("stationId");
    dataRow("four-letter id", QStringList{"Lincoln, Lincoln Municipal Airport: KLNK"}, "KLNK");
    dataRow("longer id gives its last four", QStringList{"Somewhere: CWXYZ"}, "WXYZ");
    dataRow("three characters", QStringList{"ABC"}, "ABC");
}

void WeatherFeedTest::stationBoxSetsStationId()
{
    QFETCH(QStringList, entries);
    MainWindowProbe::gridId(*window) = "OAX";
    MainWindowProbe::gridX(*window) = "58";
    MainWindowProbe::gridY(*window) = "55";
    const int mark = logMark();
    QComboBox* box = widget<QComboBox>("locationComboBox");
    box->addItems(entries);
    QTEST(MainWindowProbe::stationId(*window), "stationId");
    QCOMPARE(widget<QLabel>("locationStatusLabel")->text(),
             "ID: OAX Grid: 58,55 Station: " + MainWindowProbe::stationId(*window));
    box->clear();
    QCOMPARE(MainWindowProbe::stationId(*window), QString());
    QCOMPARE(weatherLogSince(mark), QStringList{});
    QVERIFY(service->requests.isEmpty());
}

void WeatherFeedTest::metricBoxOnlyFlipsUnits()
{
    QCheckBox* metric = widget<QCheckBox>("metricCheckBox");
    const int mark = logMark();
    metric->setChecked(true);
    QCOMPARE(MainWindowProbe::units(*window), false);
    metric->setChecked(false);
    QCOMPARE(MainWindowProbe::units(*window), true);
    metric->setChecked(true);
    QCOMPARE(MainWindowProbe::units(*window), false);
    QCOMPARE(weatherLogSince(mark), QStringList{});
    QCoreApplication::processEvents();
    QVERIFY(service->requests.isEmpty());
}

void WeatherFeedTest::windowFormattingFollowsUnits()
{
    MainWindowProbe::units(*window) = true;
    QCOMPARE(window->formatTemperature("12.2"), QString("53 F"));
    QCOMPARE(window->formatWind("11.16", "340"), QString("N-6 mph"));
    QCOMPARE(window->formatHumidity("65.97"), QString("65%"));
    MainWindowProbe::units(*window) = false;
    QCOMPARE(window->formatTemperature("12.2"), QString("12 C"));
    QCOMPARE(window->formatWind("11.16", "340"), QString("N-11 kmh"));
    QString key, value;
    int resume = 0;
    window->extractJsonValue(R"({"a": "b"})", key, value, 4, resume);
    QCOMPARE(value, QString("b"));
    QCOMPARE(resume, 8);
}

// Without a station, no request, and the weather plan's one line reaches the log.
void WeatherFeedTest::noStationNoRequest()
{
    MainWindowProbe::stationId(*window) = "";
    const int mark = logMark();
    for (int i = 0; i < 3; ++i) {
        MainWindowProbe::weatherCounter(*window) = qint64(MainWindowProbe::weatherInterval(*window)) * 60;
        MainWindowProbe::tick(*window);  // a scheduled refresh
        widget<QPushButton>("updateWeatherPushButton")->click();
    }
    QCOMPARE(weatherLogSince(mark), QStringList{"Weather Not Requested: no station chosen"});
    QCoreApplication::processEvents();
    QVERIFY(service->requests.isEmpty());
}

void WeatherFeedTest::userAgent_data()
{
    QTest::addColumn<QVariant>("contact");  // invalid: no key
    QTest::addColumn<QByteArray>("agent");
    dataRow("no contact key", QVariant(), QByteArray("Corvelta/1.0.6"));
    dataRow("empty contact", QVariant(""), QByteArray("Corvelta/1.0.6"));
    dataRow("with contact", QVariant("ops@example.org"), QByteArray("Corvelta/1.0.6 (ops@example.org)"));
}

void WeatherFeedTest::userAgent()
{
    QFETCH(QVariant, contact);
    QFETCH(QByteArray, agent);
    if (contact.isValid())
        extraSettings.insert("contact", contact);
    newWindow();
    MainWindowProbe::stationId(*window) = "KLNK";
    widget<QLineEdit>("latitudeLineEdit")->setText("40.8106");
    widget<QLineEdit>("longitudeLineEdit")->setText("-96.6274");
    widget<QPushButton>("updateWeatherPushButton")->click();
    widget<QPushButton>("coordsPushButton")->click();  // the point lookup, then the station list
    QTRY_COMPARE_WITH_TIMEOUT(service->requests.size(), 3, 20000);
    for (const SubstituteWebServer::Request& request : service->requests)
        QCOMPARE(request.headers.value("user-agent"), agent);
    // Read at start-up, never written.
    window.reset();
    QSettings settings(QCoreApplication::applicationDirPath() + "/crv_settings.ini", QSettings::IniFormat);
    QCOMPARE(settings.value("contact"), contact.isValid() ? contact : QVariant());
}

// An interval whose seconds do not fit 32 bits starts the
// counter without overflow, and the first tick still refreshes.
void WeatherFeedTest::hugeInterval()
{
    extraSettings.insert("weatherinterval", 40000000);
    extraSettings.insert("stockinterval", 2147483647);
    newWindow();
    QCOMPARE(MainWindowProbe::weatherCounter(*window), qint64(40000000) * 60);
    MainWindowProbe::weatherStart(*window) = QTime(0, 0);
    MainWindowProbe::weatherStop(*window) = QTime(23, 59, 59, 999);
    MainWindowProbe::stationId(*window) = "KLNK";
    MainWindowProbe::tick(*window);
    QTRY_COMPARE_WITH_TIMEOUT(service->requests.size(), 1, 20000);
    QCOMPARE(MainWindowProbe::weatherCounter(*window), qint64(0));
    MainWindowProbe::tick(*window);
    QCOMPARE(MainWindowProbe::weatherCounter(*window), qint64(1));
}

// One simulated hour of both feeds against a service that answers every
// request with 429: at most four retries between two scheduled refreshes,
// never two requests of a kind less than 30 s apart; a Retry-After past the
// next scheduled refresh keeps the feed away, but not the operator.
void WeatherFeedTest::misbehavingServiceForAnHour_data()
{
    QTest::addColumn<QByteArray>("retryAfter");
    QTest::addColumn<bool>("suspends");
    dataRow("Retry-After: 0", QByteArray("0"), false);
    dataRow("a date in the past", QByteArray("Wed, 12 Jun 2024 18:59:00 GMT"), false);
    dataRow("Retry-After: 3600", QByteArray("3600"), true);
    dataRow("hourly refreshes: four retries at most", QByteArray("0|60"), false);
}

void WeatherFeedTest::misbehavingServiceForAnHour()
{
    QFETCH(QByteArray, retryAfter);
    QFETCH(bool, suspends);
    observationSequence = {429};
    quoteStatus = 429;
    const int interval = retryAfter.contains('|') ? retryAfter.split('|')[1].toInt() : 10;
    this->retryAfter = retryAfter.split('|')[0];
    MainWindowProbe::weatherInterval(*window) = MainWindowProbe::stockInterval(*window) = interval;
    MainWindowProbe::weatherCounter(*window) = interval * 60;  // scheduled at 0 s, the stocks at 10 s
    MainWindowProbe::stockCounter(*window) = interval * 60 - 10;
    MainWindowProbe::stationId(*window) = "KLNK";
    MainWindowProbe::stockBaseUrl(*window) = service->baseUrl();
    widget<QLineEdit>("tickerLineEdit1")->setText("AAPL");
    MainWindowProbe::stockStart(*window) = QTime(0, 0);
    MainWindowProbe::stockStop(*window) = QTime(23, 59, 59, 999);
    const int mark = logMark();
    QMap<QByteArray, QList<QDateTime>> sent;  // by path
    QMap<QByteArray, int> sinceScheduled;
    const QDateTime start = clock->current;
    for (int second = 0; second < 3600; ++second) {
        clock->current = start.addSecs(second);
        const int before = service->requests.size();
        MainWindowProbe::tick(*window);
        QTRY_VERIFY_WITH_TIMEOUT(!MainWindowProbe::running(*window, RequestKind::Observation) &&
                                     !MainWindowProbe::running(*window, RequestKind::Quotes),
                                 20000);
        for (int r = before; r < service->requests.size(); ++r) {
            const QByteArray path = service->requests[r].target.left(6);
            if (!sent[path].isEmpty())
                QVERIFY(sent[path].last().secsTo(clock->current) >= 30);
            sent[path] << clock->current;
            const bool scheduled = second % (interval * 60 + 1) == (path == "/qu/qu" ? 10 : 0);
            sinceScheduled[path] = scheduled ? 0 : sinceScheduled[path] + 1;
            QVERIFY(sinceScheduled[path] <= 4);
        }
    }
    for (const QByteArray path : {"/stati", "/qu/qu"})
        QVERIFY(sent[path].size() >= (suspends ? 1 : 5) && sent[path].size() <= (suspends ? 1 : 30));
    if (!suspends)
        return;
    QCOMPARE(weatherLogSince(mark).filter("Suspended Until").size(), 1);
    widget<QPushButton>("updateWeatherPushButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(service->requests.size(), 3, 20000);
}

// The wiring of one suspension per host and of the retries, a tick a second:
// the alerts' Retry-After holds the observation back, a press's good reply
// lifts the suspension, a timed-out observation is retried. (The plans and
// the alerts' schedule are tested on their own.)
void WeatherFeedTest::hostSchedule_data()
{
    // status: of the alerts' replies (0: all replies held); pressAt: a press of the refresh button.
    addColumns<int, int, QByteArray, QList<int>, int, int, QList<int>, QStringList>(
        {"item", "status", "retryAfter", "observations", "pressAt", "ticks", "requestsAt", "lines"});
    const QString suspended = "^Weather Suspended Until \\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d$";
    dataRow("a Retry-After on the alerts holds back the observation", 6, 503, QByteArray("3600"), QList<int>{200}, 0,
            1300, QList<int>{1, 1}, QStringList{suspended});
    dataRow("a good reply to a press lifts the suspension", 0, 200, QByteArray("3600"), QList<int>{503, 200}, 100, 700,
            QList<int>{1, 100, 602}, QStringList{suspended, "^Weather Suspension Lifted$"});
    dataRow("a timed-out observation is retried", 0, 0, QByteArray(), QList<int>{200}, 0, 100, QList<int>{1, 61},
            QStringList{"^Retrying Weather in 30 s$", "^Retrying Weather in 60 s$"});
}

void WeatherFeedTest::hostSchedule()
{
    QFETCH(int, item);
    QFETCH(int, status);
    QFETCH(QByteArray, retryAfter);
    QFETCH(QList<int>, observations);
    QFETCH(int, pressAt);
    QFETCH(int, ticks);
    QFETCH(QStringList, lines);
    holdObservation = status == 0;
    outlookStatus = qMax(status, 200);
    outlookBody = QByteArray(R"({"title": "Service Unavailable"})");
    observationSequence = observations;
    this->retryAfter = retryAfter;
    MainWindowProbe::stationId(*window) = "KLNK";
    MainWindowProbe::weatherCounter(*window) = 600;  // the first tick's refresh is scheduled
    setSlots({item, 0, 0, 0, 0});
    widget<QLineEdit>("clockWeatherIPListEdit")->setText("127.0.0.2");
    const int mark = logMark();
    auto sent = [mark] { return weatherLogSince(mark).filter(QRegularExpression("^Requesting ")).size(); };
    QList<int> sentAt;
    for (int tick = 1; tick <= ticks; ++tick) {
        clock->current = TestNow.addSecs(tick);
        const int before = sent();
        if (tick == pressAt)
            widget<QPushButton>("updateWeatherPushButton")->click();
        MainWindowProbe::tick(*window);
        QTRY_VERIFY_WITH_TIMEOUT(holdObservation || !MainWindowProbe::anyRunning(*window), 20000);
        for (int r = before; r < sent(); ++r)
            sentAt << tick;
    }
    QTEST(sentAt, "requestsAt");
    const QStringList logged = weatherLogSince(mark).filter(QRegularExpression("^(Weather Susp|Retrying)"));
    QCOMPARE(logged.size(), lines.size());
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(QRegularExpression(lines[i]).match(logged[i]).hasMatch(), qPrintable(logged[i]));
}

QStringList WeatherFeedTest::held()
{
    QStringList texts;
    QComboBox* box = widget<QComboBox>("locationComboBox");
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    texts << "station " + MainWindowProbe::stationId(*window);
    for (const char* prefix : {"lastWeatherVar", "lastStockVar"})
        for (int i = 1; i <= 5; ++i)
            texts << window->findChild<QLabel*>(QString("%1%2").arg(prefix).arg(i))->text();
    return texts;
}

bool WeatherFeedTest::request(Kind kind)
{
    QSignalSpy finished(MainWindowProbe::networkManager(*window), &QNetworkAccessManager::finished);
    if (kind == Point)
        widget<QPushButton>("coordsPushButton")->click();
    else if (kind == Stations)
        MainWindowProbe::getStations(*window);
    else if (kind == Observation)
        widget<QPushButton>("updateWeatherPushButton")->click();
    else
        MainWindowProbe::getStocks(*window);
    const int expected = kind == Point ? 2 : 1;
    QElapsedTimer waited;
    waited.start();
    while (finished.size() < expected && waited.elapsed() < 60000)
        finished.wait(1000);
    return finished.size() >= expected;
}

QStringList WeatherFeedTest::holdGoodReplies()
{
    MainWindowProbe::stockBaseUrl(*window) = service->baseUrl();
    widget<QLineEdit>("latitudeLineEdit")->setText("40.8106");
    widget<QLineEdit>("longitudeLineEdit")->setText("-96.6274");
    widget<QLineEdit>("clockWeatherIPListEdit")->setText("127.0.0.2");
    widget<QLineEdit>("clockStockIPListEdit")->setText("127.0.0.2");
    widget<QLineEdit>("tickerLineEdit1")->setText("AAPL");
    setSlots({1, 2, 3, 4, 5});
    if (!request(Point) || !request(Observation) || !request(Quotes))
        return {};
    return held();
}

// Bad replies of both services, each read by the real window: it keeps
// working (a good reply afterwards is handled as usual) and nothing it
// already holds is lost.
void WeatherFeedTest::badReplyChangesNothingHeld_data()
{
    addColumns<int, QByteArray>({"kind", "body"});
    const QByteArray goods[4] = {readReply("point.json"), readReply("stations.json"), readReply("observation.json"),
                                 goodQuotes()};
    const char* const names[4] = {"point", "station list", "observation", "quotes"};
    // Where a good reply may be cut without cutting a value in half.
    const QByteArray anchors[4] = {"\"gridX\"", "\"stationIdentifier\"", "\"dewpoint\"", "\"symbol\""};
    const QByteArray html =
        "<!DOCTYPE html>\n<html><head><title>503 Service Unavailable</title></head>\n"
        "<body><h1>Service Unavailable</h1><p>The server is temporarily unable to service your "
        "request, \"try\": again: later.</p></body></html>\n";
    // Ten megabytes that look like the start of a reply and never end.
    const QByteArray tenMegabytes = "{\"properties\": {\"textDescription\": \"" + QByteArray(10 * 1024 * 1024, 'x');
    for (int k = 0; k < 4; ++k) {
        const QByteArray name = names[k];
        dataRow(name + ": 0 bytes", k, QByteArray());
        dataRow(name + ": 10 MB", k, tenMegabytes);
        dataRow(name + ": binary garbage", k, binaryGarbage(64 * 1024));
        dataRow(name + ": zero byte in the middle", k,
                cutAfterMember(goods[k], anchors[k], QByteArray("\0", 1) + goods[k].mid(goods[k].size() / 2)));
        dataRow(name + ": truncated JSON", k, cutAfterMember(goods[k], anchors[k], QByteArray()));
        dataRow(name + ": HTML error page", k, html);
    }
}

void WeatherFeedTest::badReplyChangesNothingHeld()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, body);
    const QStringList before = holdGoodReplies();
    QVERIFY(before.size() > 11);
    QByteArray* const bodies[4] = {&pointBody, &stationsBody, &observationBody, &quotesBody};
    const QByteArray good = *bodies[kind];
    *bodies[kind] = body;
    QVERIFY(request(Kind(kind)));
    *bodies[kind] = good;

    const QStringList after = held();
    const int stations = before.size() - 11;
    // The station box only ever grows (a point lookup lists its grid's
    // stations again); what it held stays, and so does the station chosen.
    QCOMPARE(after.mid(0, stations), before.mid(0, stations));
    QCOMPARE(after.mid(after.size() - 11, 1), before.mid(stations, 1));
    // Values cut out of a reply that is cut short are the true ones, and the
    // ones it lacks are not made up: the texts stay what they were (the
    // conditions summary of a reply cut short shows "--" for what it lacks).
    // A quote reply without a single quote sets every ticker label to its
    // empty text (as when the operator empties the ticker fields); the
    // clocks keep what they show, since an empty text is never sent.
    QStringList weather = after.mid(after.size() - 10, 5), stocks = after.mid(after.size() - 5);
    if (kind == Observation)
        weather[0] = before[stations + 1];
    if (kind == Quotes && stocks == QStringList{"", "", "", "", ""})
        stocks = before.mid(stations + 6);
    QCOMPARE(weather + stocks, before.mid(stations + 1));

    // And the window keeps working: good replies are handled as before.
    QVERIFY(request(Observation));
    QVERIFY(request(Quotes));
    QCOMPARE(held().mid(held().size() - 10), before.mid(stations + 1));
}

// 1,000 quotes in one reply: the table of 200 takes the first 200, the rest
// are logged as ignored.
void WeatherFeedTest::thousandQuotes()
{
    QVERIFY(!holdGoodReplies().isEmpty());
    QList<QuoteData> quotes{{"AAPL", "Apple Inc.", "190.5", "1.25", "1000"}};
    for (int i = 1; i < 1000; ++i)
        quotes.append({QString("Z%1").arg(i), QString("Filler %1").arg(i), "1.5", "0.1", "10"});
    quotesBody = quoteReply(quotes);
    const int mark = logMark();
    QVERIFY(request(Quotes));
    const QStringList lines = debugSince(mark);
    QVERIFY2(lines.contains("StockQuote Response: 1000 quotes, first 200 used, 800 ignored"),
             qPrintable(lines.filter("quotes").join('\n')));
    QCOMPARE(lines.filter(QRegularExpression("^i=\\d+ Name=")).size(), 200);
    QCOMPARE(widget<QLabel>("lastStockVar1")->text(), QString("(AAPL) 190.50 "));
    quotesBody = goodQuotes();
    QVERIFY(request(Quotes));
    QCOMPARE(widget<QLabel>("lastStockVar1")->text(), QString("(AAPL) 189.25 "));
}

// A grid with 2,000 stations: every one is listed, the chosen one stays.
void WeatherFeedTest::twoThousandStations()
{
    const QStringList before = holdGoodReplies();
    QByteArray list = "{\"type\": \"FeatureCollection\", \"features\": [";
    for (int i = 0; i < 2000; ++i)
        list += QString("%1{\"properties\": {\"stationIdentifier\": \"S%2\", \"name\": \"Station number %2\"}}")
                    .arg(i ? ", " : "")
                    .arg(i, 3, 10, QLatin1Char('0'))
                    .toUtf8();
    stationsBody = list + "]}";
    QVERIFY(request(Stations));
    const QStringList after = held();
    const int stations = before.size() - 11;
    QCOMPARE(after.size(), before.size() + 2000);
    QCOMPARE(after.mid(0, stations), before.mid(0, stations));
    QVERIFY(after.contains("Station number 1999: S1999"));
    QCOMPARE(after.mid(stations + 2000, 1), before.mid(stations, 1));
}

CORVELTA_TEST_MAIN(WeatherFeedTest)
#include "tst_weatherfeed.moc"
