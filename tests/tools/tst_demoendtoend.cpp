// The real corvelta executable, run as a separate process the way the
// offline demo runs it: a directory of its own with a copy of the executable
// and the demo settings file, the demo's substitute services (replies frozen
// at one moment, so the texts are known) and simulated clocks. Checks what
// the clocks receive for the first scheduled weather refresh and the first
// scheduled stock refresh.
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
#include "support/testmain.h"

namespace {

const QString ProgramPath = QStringLiteral(CORVELTA_BINARY_DIR "/corvelta");
const QString SettingsToolPath = QStringLiteral(CORVELTA_BINARY_DIR "/corvelta-demo-settings");
const QString ServicesScript = QStringLiteral(CORVELTA_SOURCE_DIR "/tools/demo/substitute_services.py");

// The moment the substitute services describe: 2024-06-06 14:55 UTC.
const char* const FrozenEpoch = "1717685700";

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

void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
}

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
    QProcess services;
    QProcess corvelta;
    QMap<QString, std::shared_ptr<ClockRecord>> clocks;
};

void TestDemoEndToEnd::initTestCase()
{
    static ClockPortLock lock;
    if (!QFile::exists(ProgramPath))
        QSKIP("The corvelta executable has not been built; build the target corvelta first.");
    QVERIFY2(QFile::exists(SettingsToolPath), "corvelta-demo-settings has not been built");
    QVERIFY(demoDir.isValid());

    // The substitute services, frozen at one moment (alerts and forecast dated now).
    services.setProgram(QStringLiteral("python3"));
    services.setArguments({ServicesScript, QStringLiteral("--at"), QString::fromLatin1(FrozenEpoch),
                           QStringLiteral("--stamps-now"), QStringLiteral("--quiet")});
    services.setProcessChannelMode(QProcess::SeparateChannels);
    services.start();
    QVERIFY2(services.waitForStarted(30000), "python3 could not be started");
    QMap<QString, QString> urls;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            while (services.canReadLine()) {
                const QStringList words = QString::fromUtf8(services.readLine()).simplified().split(' ');
                if (words.size() == 2)
                    urls.insert(words.at(0), words.at(1));
            }
            return urls.contains(QStringLiteral("weather")) && urls.contains(QStringLiteral("stock"));
        }(),
        30000);
    QVERIFY(urls.value(QStringLiteral("weather")).startsWith(QStringLiteral("http://127.0.0.1:")));
    QVERIFY(urls.value(QStringLiteral("stock")).startsWith(QStringLiteral("http://127.0.0.1:")));

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

    // The demo's directory: a copy of the program and its settings beside it.
    const QString program = demoDir.filePath(QStringLiteral("corvelta"));
    QVERIFY(QFile::copy(ProgramPath, program));
    QVERIFY(QFile::setPermissions(program, QFile::permissions(ProgramPath)));
    QProcess settingsTool;
    settingsTool.start(
        SettingsToolPath,
        {QStringLiteral("--output"), demoDir.filePath(QStringLiteral("crv_settings.ini")),
         QStringLiteral("--weather-url"), urls.value(QStringLiteral("weather")), QStringLiteral("--stock-url"),
         urls.value(QStringLiteral("stock")), QStringLiteral("--weather-clocks"),
         QStringLiteral("127.0.0.2, 127.0.0.3"), QStringLiteral("--stock-clocks"), QStringLiteral("127.0.0.4")});
    QVERIFY(settingsTool.waitForFinished(30000));
    QCOMPARE(settingsTool.exitCode(), 0);
    {
        // The frozen observation is years old by now: let it count as current
        // (observations older than two hours are kept off the clocks).
        QSettings settings(demoDir.filePath(QStringLiteral("crv_settings.ini")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("maxobservationage"), 2147483647);
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    corvelta.setProcessEnvironment(environment);
    corvelta.setWorkingDirectory(demoDir.path());
    corvelta.setProcessChannelMode(QProcess::MergedChannels);
    corvelta.start(program, QStringList());
    QVERIFY2(corvelta.waitForStarted(30000), qPrintable(corvelta.errorString()));
}

void TestDemoEndToEnd::cleanupTestCase()
{
    stopProcess(corvelta);
    stopProcess(services);
}

QString TestDemoEndToEnd::diagnostics()
{
    QString text = QStringLiteral("corvelta output:\n") + QString::fromUtf8(corvelta.readAll());
    const QStringList logs = QDir(demoDir.path()).entryList({QStringLiteral("Corvelta_*.log")});
    for (const QString& name : logs) {
        QFile log(demoDir.filePath(name));
        if (log.open(QIODevice::ReadOnly))
            text += QStringLiteral("\n%1:\n%2").arg(name, QString::fromUtf8(log.readAll().right(4000)));
    }
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
