// The real corvelta executable, run as a separate process the way the
// offline demo runs it (tests/support/demoprogram.h) with simulated clocks.
// Checks what the clocks receive for the first scheduled weather refresh and
// the first scheduled stock refresh.
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QMap>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "clocksim/simulatedclock.h"
#include "support/clockportlock.h"
#include "support/demoprogram.h"
#include "support/testmain.h"

namespace {

// A clock's variables 0, 1, .. holding these texts.
QMap<int, QString> clockVariables(const QStringList& texts)
{
    QMap<int, QString> variables;
    for (int i = 0; i < texts.size(); ++i)
        variables[i] = texts[i];
    return variables;
}

// What the demo settings ask for (slots Temperature, Wind, Humidity, Alerts, Forecast, metric) from the frozen
// observation of KLNK (16.3 degC, wind from 10 degrees at 12.964 km/h, humidity 69.92 %), the Wind Advisory in
// force (updated once) and the forecast's first period, at 08:55 local time.
const QMap<int, QString> ExpectedWeather =
    clockVariables({"16 C", "N-12 kmh", "69%", "Wind Advisory", "Today: 18 C, Mostly Sunny"});

// Ticker, price and change of the frozen quotes, one ticker per field.
const QMap<int, QString> ExpectedStocks =
    clockVariables({"(AAPL) 186.11  -3.14 ", "(MSFT) 413.25  -1.85 ", "(NVDA) 124.00 +2.60 ", "(AMZN) 187.21 +2.91 ",
                    "(TSLA) 181.72 +3.82 "});

// Everything one simulated clock was sent, in arrival order.
struct ClockRecord
{
    std::unique_ptr<SimulatedClock> clock;
    QList<QPair<int, QString>> received;
    int malformed = 0;
};

}  // namespace

class TestDemoEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void firstWeatherRefreshReachesTheWeatherClocks();
    void firstStockRefreshReachesTheStockClock();
    void everyDatagramWasWellFormed();

private:
    ClockRecord& record(const QString& address) { return *clocks[address]; }
    QString diagnostics();

    QTemporaryDir demoDir;
    DemoProgram demo;
    QMap<QString, std::shared_ptr<ClockRecord>> clocks;
};

void TestDemoEndToEnd::initTestCase()
{
    static ClockPortLock lock;
    QVERIFY(demoDir.isValid());
    // Three clocks, as in the demo: two for the weather, one for the stocks.
    for (const QString& address :
         {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3"), QStringLiteral("127.0.0.4")}) {
        auto entry = std::make_shared<ClockRecord>();
        entry->clock = std::make_unique<SimulatedClock>(QHostAddress(address));
        QString error;
        QVERIFY2(entry->clock->bind(&error), qPrintable(address + ": " + error));
        ClockRecord* raw = entry.get();
        connect(entry->clock.get(), &SimulatedClock::variableReceived, this, [raw](int variable, const QString& text) {
            raw->received.append({variable, text});
        });
        connect(entry->clock.get(), &SimulatedClock::malformedReceived, this, [raw] { ++raw->malformed; });
        clocks.insert(address, entry);
    }
    const QString problem = demo.start(demoDir.path(), "127.0.0.2, 127.0.0.3", "127.0.0.4");
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestDemoEndToEnd::cleanupTestCase() {}

QString TestDemoEndToEnd::diagnostics()
{
    QString text = demo.diagnostics();
    for (auto it = clocks.cbegin(); it != clocks.cend(); ++it)
        text += QStringLiteral("\nclock %1 received %2 datagrams").arg(it.key()).arg(it.value()->received.size());
    return text;
}

void TestDemoEndToEnd::firstWeatherRefreshReachesTheWeatherClocks()
{
    // The first scheduled weather refresh comes on the program's first tick.
    for (const QString& address : {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")}) {
        SimulatedClock& clock = *record(address).clock;
        QTRY_VERIFY2_WITH_TIMEOUT(clock.variables().size() >= ExpectedWeather.size(),
                                  qPrintable(address + QStringLiteral(" lacks weather values; ") + diagnostics()),
                                  40000);
        QCOMPARE(clock.variables(), ExpectedWeather);
        // The observation's variables first arrive in slot order (retransmissions aside); the alerts and the
        // forecast come with their own replies.
        QList<int> firstArrivals;
        for (const auto& arrival : record(address).received)
            if (!firstArrivals.contains(arrival.first) && arrival.first < 3)
                firstArrivals.append(arrival.first);
        QCOMPARE(firstArrivals, (QList<int>{0, 1, 2}));
    }
    for (const QString& text : record(QStringLiteral("127.0.0.4")).clock->variables())
        QVERIFY2(!ExpectedWeather.values().contains(text), "the stock clock was sent weather values");
}

void TestDemoEndToEnd::firstStockRefreshReachesTheStockClock()
{
    // Ten ticks after the first weather refresh.
    SimulatedClock& clock = *record(QStringLiteral("127.0.0.4")).clock;
    QTRY_VERIFY2_WITH_TIMEOUT(clock.variables().size() >= ExpectedStocks.size(),
                              qPrintable(QStringLiteral("127.0.0.4 lacks ticker texts; ") + diagnostics()), 40000);
    QCOMPARE(clock.variables(), ExpectedStocks);
    // The weather clocks are not stock clocks.
    for (const QString& address : {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")})
        QCOMPARE(record(address).clock->variables(), ExpectedWeather);
}

void TestDemoEndToEnd::everyDatagramWasWellFormed()
{
    for (auto it = clocks.cbegin(); it != clocks.cend(); ++it) {
        QCOMPARE(it.value()->malformed, 0);
        // Every datagram was acknowledged, so each text came at most a few times.
        QVERIFY(it.value()->clock->counters().acknowledged >= it.value()->clock->variables().size());
    }
}

CORVELTA_TEST_MAIN(TestDemoEndToEnd)
#include "tst_demoendtoend.moc"
