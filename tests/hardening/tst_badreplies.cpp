//
// Bad replies from both services, each read by the real window over HTTPS on
// loopback: the window keeps working (a good reply afterwards is handled as
// usual) and nothing it already holds is lost (the station box, the chosen
// station, the weather and stock texts shown).
#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include "app/mainwindow.h"
#include "clocksim/simulatedclock.h"
#include "support/clockportlock.h"
#include "support/debugcapture.h"
#include "support/fixedclock.h"
#include "support/mainwindowprobe.h"
#include "support/quotereplies.h"
#include "support/settingsfiles.h"
#include "support/substitutewebserver.h"
#include "support/testmain.h"

namespace {

QByteArray readData(const QString& name)
{
    QFile file(testDataPath(name));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

enum Kind { Point, Stations, Observation, Stock };

// The good reply cut right after the comma that ends the member holding
// `anchor` (so no value is cut in half), with `joint` put in its place.
QByteArray cutAfterMember(const QByteArray& good, const QByteArray& anchor, const QByteArray& joint)
{
    const int at = good.indexOf(anchor);
    const int comma = good.indexOf(',', at);
    return good.left(comma + 1) + joint;
}

QByteArray htmlErrorPage()
{
    return "<!DOCTYPE html>\n<html><head><title>503 Service Unavailable</title></head>\n"
           "<body><h1>Service Unavailable</h1><p>The server is temporarily unable to service your "
           "request, \"try\": again: later.</p></body></html>\n";
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

// Ten megabytes that look like the start of a reply and never end.
QByteArray tenMegabytes()
{
    QByteArray bytes = "{\"properties\": {\"textDescription\": \"";
    bytes += QByteArray(10 * 1024 * 1024, 'x');
    return bytes;
}

}  // namespace

class BadRepliesTest : public QObject
{
    Q_OBJECT

public:
    BadRepliesTest()
        : server(SubstituteWebServer::Mode::HttpsTrusted)
    {}

private:
    SubstituteWebServer server;
    QScopedPointer<DebugCapture> capture;
    QScopedPointer<SimulatedClock> clock;
    QScopedPointer<MainWindow> window;
    QByteArray bodies[4];
    QByteArray goodBodies[4];

    struct Held
    {
        QStringList stations;
        QString stationId;
        QStringList weatherLabels;
        QStringList stockLabels;
    };

    QStringList labels(const char* prefix)
    {
        QStringList texts;
        for (int i = 1; i <= 5; ++i)
            texts << window->findChild<QLabel*>(QString("%1%2").arg(prefix).arg(i))->text();
        return texts;
    }
    QStringList stationEntries()
    {
        QComboBox* box = window->findChild<QComboBox*>("locationComboBox");
        QStringList entries;
        for (int i = 0; i < box->count(); ++i)
            entries << box->itemText(i);
        return entries;
    }
    Held held()
    {
        return {stationEntries(), MainWindowProbe::stationId(*window), labels("lastWeatherVar"),
                labels("lastStockVar")};
    }

    // Issues the request of one kind and waits until its reply, and the one
    // it leads to (a point reply asks for the station list), has been handled.
    bool request(Kind kind)
    {
        QSignalSpy finished(MainWindowProbe::networkManager(*window), &QNetworkAccessManager::finished);
        switch (kind) {
        case Point:
            window->findChild<QPushButton*>("coordsPushButton")->click();
            break;
        case Stations:
            MainWindowProbe::getStations(*window);
            break;
        case Observation:
            window->findChild<QPushButton*>("updateWeatherPushButton")->click();
            break;
        case Stock:
            MainWindowProbe::getStocks(*window);
            break;
        }
        const int expected = kind == Point ? 2 : 1;
        QElapsedTimer waited;
        waited.start();
        while (finished.size() < expected && waited.elapsed() < 60000)
            finished.wait(1000);
        return finished.size() >= expected;
    }

private slots:
    void initTestCase()
    {
        static ClockPortLock lock;
        qRegisterMetaType<QNetworkReply*>();
        trustTestCertificateAuthority();
        // A 10 MB reply is logged whole; keep only the start of each line.
        capture.reset(new DebugCapture({true, true, 300}));
        QVERIFY(server.start());

        goodBodies[Point] = readData("weather/point.json");
        goodBodies[Stations] = readData("weather/stations.json");
        goodBodies[Observation] = readData("weather/observation.json");
        goodBodies[Stock] = quoteReply({{"AAPL", "Apple Inc.", "189.25", "-1.2", "53242137"},
                                        {"MSFT", "Microsoft Corporation", "378.91", "0", "20101200"},
                                        {"F", "Ford Motor Company", "10.6", "0.23", "41853714"}});
        for (int k = 0; k < 4; ++k)
            bodies[k] = goodBodies[k];
        server.setHandler([this](const SubstituteWebServer::Request& request) {
            SubstituteWebServer::Reply reply;
            const QByteArray& path = request.target;
            if (path.startsWith("/points/"))
                reply.body = bodies[Point];
            else if (path.startsWith("/gridpoints/"))
                reply.body = bodies[Stations];
            else if (path.startsWith("/stations/"))
                reply.body = bodies[Observation];
            else
                reply.body = bodies[Stock];
            reply.contentType = reply.body.startsWith("<!DOCTYPE") ? "text/html" : "application/json";
            return reply;
        });

        clock.reset(new SimulatedClock(QHostAddress("127.0.0.2")));

        clock->bind();
        QVERIFY(clock->isBound());

        // The recorded observation must not count as stale.
        prepareSettingsFile(
            {{"weatherhost", server.baseUrl()}, {"stockhost", server.baseUrl()}, {"maxobservationage", 2147483647}});
        window.reset(new MainWindow);
        MainWindowProbe::updateTimer(*window)->stop();
        window->findChild<QLineEdit*>("latitudeLineEdit")->setText("40.8106");
        window->findChild<QLineEdit*>("longitudeLineEdit")->setText("-96.6274");
        window->findChild<QLineEdit*>("clockWeatherIPListEdit")->setText("127.0.0.2");
        window->findChild<QLineEdit*>("clockStockIPListEdit")->setText("127.0.0.2");
        window->findChild<QLineEdit*>("tickerLineEdit1")->setText("AAPL");
        for (int i = 1; i <= 5; ++i)
            window->findChild<QComboBox*>(QString("weatherItemComboBox%1").arg(i))->setCurrentIndex(i);

        // What the window holds before any bad reply: a station list, the
        // chosen station, the weather and stock texts.
        QVERIFY(request(Point));
        QVERIFY(request(Observation));
        QVERIFY(request(Stock));
        const Held before = held();
        QVERIFY(!before.stations.isEmpty());
        QVERIFY(!before.stationId.isEmpty());
        for (const QString& text : before.weatherLabels)
            QVERIFY2(!text.isEmpty(), qPrintable(before.weatherLabels.join('|')));
        QCOMPARE(before.stockLabels.first(), QString("(AAPL) 189.25 "));
    }

    void cleanupTestCase()
    {
        window.reset();
        capture.reset();
    }

    void badReplyChangesNothingHeld_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("body");

        const char* const names[4] = {"point", "station list", "observation", "quotes"};
        // Where a good reply may be cut without cutting a value in half.
        const QByteArray anchors[4] = {"\"gridX\"", "\"stationIdentifier\"", "\"dewpoint\"", "\"symbol\""};
        for (int k = 0; k < 4; ++k) {
            const QByteArray& good = goodBodies[k];
            const QByteArray& anchor = anchors[k];
            const QByteArray name = names[k];
            dataRow(name + ": 0 bytes", k, QByteArray());
            dataRow(name + ": 10 MB", k, tenMegabytes());
            dataRow(name + ": binary garbage", k, binaryGarbage(64 * 1024));
            dataRow(name + ": zero byte in the middle", k,
                    cutAfterMember(good, anchor, QByteArray("\0", 1) + good.mid(good.size() / 2)));
            dataRow(name + ": truncated JSON", k, cutAfterMember(good, anchor, QByteArray()));
            dataRow(name + ": HTML error page", k, htmlErrorPage());
        }
    }

    void badReplyChangesNothingHeld()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, body);

        const Held before = held();
        bodies[kind] = body;
        const bool handled = request(Kind(kind));
        bodies[kind] = goodBodies[kind];
        QVERIFY(handled);

        const Held after = held();
        // The station box only ever grows (a point lookup lists its grid's
        // stations again); what it held stays, and so does the station chosen.
        QCOMPARE(after.stations.mid(0, before.stations.size()), before.stations);
        QCOMPARE(after.stationId, before.stationId);
        // Values cut out of a reply that is cut short are the true ones, and
        // the ones it lacks are not made up: the texts stay what they were.
        // (The conditions summary of a reply cut short shows "--" for what it lacks.)
        if (kind == Observation)
            QCOMPARE(after.weatherLabels.mid(1), before.weatherLabels.mid(1));
        else
            QCOMPARE(after.weatherLabels, before.weatherLabels);
        // A quote reply without a single quote sets every ticker label to its
        // empty text (as when the operator empties the ticker fields); the
        // clocks keep what they show, since an empty text is never sent.
        if (kind == Stock && after.stockLabels != before.stockLabels)
            QCOMPARE(after.stockLabels, QStringList({"", "", "", "", ""}));
        else
            QCOMPARE(after.stockLabels, before.stockLabels);

        // And the window keeps working: good replies are handled as before.
        QVERIFY(request(Observation));
        QVERIFY(request(Stock));
        QCOMPARE(held().weatherLabels, before.weatherLabels);
        QCOMPARE(held().stockLabels, before.stockLabels);
    }

    // 1,000 quotes in one reply: the table of 200 takes the first 200, the
    // rest are logged as ignored.
    void thousandQuotes()
    {
        QList<QuoteData> quotes;
        quotes.append({"AAPL", "Apple Inc.", "190.5", "1.25", "1000"});
        for (int i = 1; i < 1000; ++i)
            quotes.append({QString("Z%1").arg(i), QString("Filler %1").arg(i), "1.5", "0.1", "10"});
        bodies[Stock] = quoteReply(quotes);
        const int mark = capture->mark();
        const bool handled = request(Stock);
        bodies[Stock] = goodBodies[Stock];
        QVERIFY(handled);
        const QStringList lines = capture->debugSince(mark);
        QVERIFY2(lines.contains("StockQuote Response: 1000 quotes, first 200 used, 800 ignored"),
                 qPrintable(lines.filter("quotes").join('\n')));
        QCOMPARE(lines.filter(QRegularExpression("^i=\\d+ Name=")).size(), 200);
        QCOMPARE(labels("lastStockVar").first(), QString("(AAPL) 190.50 "));
        QVERIFY(request(Stock));
        QCOMPARE(labels("lastStockVar").first(), QString("(AAPL) 189.25 "));
    }

    // A grid with 2,000 stations: every one is listed, the chosen one stays.
    void twoThousandStations()
    {
        QByteArray list = "{\"type\": \"FeatureCollection\", \"features\": [";
        for (int i = 0; i < 2000; ++i) {
            if (i)
                list += ", ";
            list += QString(
                        "{\"id\": \"https://api.weather.gov/stations/S%1\", \"properties\": "
                        "{\"stationIdentifier\": \"S%1\", \"name\": \"Station number %1\"}}")
                        .arg(i, 3, 10, QLatin1Char('0'))
                        .toUtf8();
        }
        list += "]}";
        const QStringList stationsBefore = stationEntries();
        const QString stationBefore = MainWindowProbe::stationId(*window);
        bodies[Stations] = list;
        const bool handled = request(Stations);
        bodies[Stations] = goodBodies[Stations];
        QVERIFY(handled);
        const QStringList after = stationEntries();
        QCOMPARE(after.size(), stationsBefore.size() + 2000);
        QCOMPARE(after.mid(0, stationsBefore.size()), stationsBefore);
        QVERIFY(after.contains("Station number 1999: S1999"));
        QCOMPARE(MainWindowProbe::stationId(*window), stationBefore);
    }
};

CORVELTA_TEST_MAIN(BadRepliesTest)
#include "tst_badreplies.moc"
