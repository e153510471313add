//
// A whole day of the scheduler in fast motion: the time of day comes from a
// simulated clock, both feeds refresh every minute from midnight to midnight
// against substitute services, and their texts go to substitute clocks, one
// of which never acknowledges. Afterwards the retransmit queue has drained,
// every record was either acknowledged or given up, and the process has not
// grown (the sanitizer build checks for leaks on its own).
#include <QtTest>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <unistd.h>

#include "app/mainwindow.h"
#include "clocklink/udpcommthread.h"
#include "clocksim/simulatedclock.h"
#include "support/clockportlock.h"
#include "support/debugcapture.h"
#include "support/fixedclock.h"
#include "support/mainwindowprobe.h"
#include "support/quotereplies.h"
#include "support/settingsfiles.h"
#include "support/substitutewebserver.h"
#include "support/testmain.h"

void scheduleAllDay(MainWindow& w)
{
    MainWindowProbe::weatherStart(w) = MainWindowProbe::stockStart(w) = QTime(0, 0, 0);
    MainWindowProbe::weatherStop(w) = MainWindowProbe::stockStop(w) = QTime(23, 59, 59, 999);
    MainWindowProbe::weatherInterval(w) = MainWindowProbe::stockInterval(w) = 1;
    MainWindowProbe::weatherWeekend(w) = MainWindowProbe::stockWeekend(w) = false;
    MainWindowProbe::weatherCounter(w) = 0;
    MainWindowProbe::stockCounter(w) = -10;  // the stock feed runs ten ticks behind, as at start-up
}

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool AddressSanitizerBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool AddressSanitizerBuild = true;
#else
constexpr bool AddressSanitizerBuild = false;
#endif
#else
constexpr bool AddressSanitizerBuild = false;
#endif

qint64 residentBytes()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

}  // namespace

class SimulatedDayTest : public QObject
{
    Q_OBJECT

public:
    SimulatedDayTest()
        : server(SubstituteWebServer::Mode::HttpsTrusted)
    {}

private:
    SubstituteWebServer server;
    QScopedPointer<SimulatedClock> weatherClock;  // acknowledges
    QScopedPointer<SimulatedClock> stockClock;    // acknowledges
    QScopedPointer<SimulatedClock> silentClock;   // listed for both feeds, never acknowledges
    QScopedPointer<DebugCapture> quiet;
    QByteArray observation;
    QByteArray quotes;

    static int unfinishedReplies(MainWindow& window)
    {
        int count = 0;
        for (const QNetworkReply* reply : MainWindowProbe::networkManager(window)->findChildren<QNetworkReply*>())
            if (!reply->isFinished())
                ++count;
        return count;
    }

    // The last text each variable of a clock received; the arrivals are
    // cleared as they are read, so the test itself does not grow.
    static void takeArrivals(SimulatedClock& clock, QMap<int, QByteArray>& last)
    {
        for (const auto& arrival : clock.arrivals)
            if (arrival.data.size() >= 3 && quint8(arrival.data.at(0)) == 0xBE)
                last[arrival.data.at(1)] = arrival.data.mid(2, arrival.data.size() - 3);
        clock.arrivals.clear();
    }

private slots:
    void initTestCase()
    {
        static ClockPortLock lock;
        qRegisterMetaType<QNetworkReply*>();
        trustTestCertificateAuthority();
        // The day's thousands of log lines are echoed to the debug output;
        // keep the test's own output readable.
        quiet.reset(new DebugCapture(DebugCapture::Options{false}));

        QFile file(testDataPath("weather/observation.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        observation = file.readAll();
        quotes = quoteReply({{"AAPL", "Apple Inc.", "189.25", "-1.2", "53242137"},
                             {"MSFT", "Microsoft Corporation", "378.91", "0", "20101200"}});
        // The services keep their connections open, as the real ones do. A new
        // TLS connection for every refresh would leave a session in the TLS
        // library's cache that expires by the wall clock after hours, which a
        // day run in seconds never reaches: growth a real day does not have.
        server.setKeepAlive(true);
        QVERIFY(server.start());
        server.setHandler([this](const SubstituteWebServer::Request& request) {
            SubstituteWebServer::Reply reply;
            reply.body = request.target.startsWith("/stations/") ? observation : quotes;
            return reply;
        });

        weatherClock.reset(new SimulatedClock(QHostAddress("127.0.0.2")));

        weatherClock->bind();
        stockClock.reset(new SimulatedClock(QHostAddress("127.0.0.4")));
        stockClock->bind();
        silentClock.reset(new SimulatedClock(QHostAddress("127.0.0.3")));
        silentClock->bind();
        silentClock->setAnswer(QByteArray());
        QVERIFY(weatherClock->isBound() && stockClock->isBound() && silentClock->isBound());
    }

    void cleanupTestCase() { quiet.reset(); }

    void bothFeedsEveryMinuteForADay()
    {
        // A Monday, midnight.
        const QDateTime midnight(QDate(2026, 3, 2), QTime(0, 0, 0));
        FixedClock simulated(midnight);

        // The day's log (tens of MB) is written afresh by every run.
        for (const QString& name : QDir().entryList({"Corvelta_*.log"}))
            QFile::remove(name);
        // The recorded observation is served all day: it must not go stale.
        prepareSettingsFile(
            {{"weatherhost", server.baseUrl()}, {"stockhost", server.baseUrl()}, {"maxobservationage", 2147483647}});
        MainWindow window;
        MainWindowProbe::updateTimer(window)->stop();  // the test ticks instead
        scheduleAllDay(window);
        MainWindowProbe::stationId(window) = "KLNK";
        window.findChild<QLineEdit*>("clockWeatherIPListEdit")->setText("127.0.0.2, 127.0.0.3");
        window.findChild<QLineEdit*>("clockStockIPListEdit")->setText("127.0.0.4, 127.0.0.3");
        window.findChild<QLineEdit*>("tickerLineEdit1")->setText("AAPL");
        for (int i = 1; i <= 5; ++i)
            window.findChild<QComboBox*>(QString("weatherItemComboBox%1").arg(i))->setCurrentIndex(i);

        QSignalSpy finished(MainWindowProbe::networkManager(window), &QNetworkAccessManager::finished);
        const RetransmitQueue::Counters countersBefore = commThread.GetUdpCounters();
        QMap<int, QByteArray> weatherLast, stockLast, silentLast;
        qint64 residentAfterFirstHour = 0;

        const int ticksPerDay = 24 * 60 * 60;
        for (int tick = 0; tick < ticksPerDay; ++tick) {
            simulated.current = midnight.addSecs(tick);
            QVERIFY(QMetaObject::invokeMethod(&window, "timerTimeout"));
            // A refresh was issued: let its reply arrive and be handled before
            // the next simulated second, as it would in a real second.
            QElapsedTimer waited;
            waited.start();
            while (unfinishedReplies(window) > 0 && waited.elapsed() < 30000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            // Replies are released with deleteLater, which an event loop
            // would carry out; the test has none running.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            if (tick % 600 == 0) {
                QCoreApplication::processEvents();
                takeArrivals(*weatherClock, weatherLast);
                takeArrivals(*stockClock, stockLast);
                takeArrivals(*silentClock, silentLast);
                server.requests.clear();
            }
            if (tick == 3600)
                residentAfterFirstHour = residentBytes();
        }

        // Every reply has been handled: about one refresh of each feed a minute.
        QVERIFY2(finished.size() >= 2 * 24 * 60 * 60 / 61 - 2, qPrintable(QString::number(finished.size())));

        // The retransmit queue drains: acknowledged or given up, nothing left.
        QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpQueueSize(), 0, 60000);
        const RetransmitQueue::Counters counters = commThread.GetUdpCounters();
        const qint64 queued = counters.queued - countersBefore.queued;
        const qint64 acknowledged = counters.acknowledged - countersBefore.acknowledged;
        const qint64 givenUp = counters.givenUp - countersBefore.givenUp;
        const qint64 superseded = counters.superseded - countersBefore.superseded;
        QCOMPARE(acknowledged + givenUp + superseded, queued);
        // Five texts a refresh to each of two clocks, one of them silent.
        // The silent clock's texts are given up, or replaced by the next
        // refresh's while they wait behind the one in flight.
        QVERIFY(givenUp >= 1);
        QVERIFY2(givenUp + superseded >= queued / 2 - 10,
                 qPrintable(QString("%1 + %2 of %3").arg(givenUp).arg(superseded).arg(queued)));
        // The day runs in seconds, so a refresh comes every few ms: most
        // texts are replaced by the next refresh's before they go out, and
        // the live clocks acknowledge the ones that do (their last texts are
        // checked below).
        QVERIFY2(acknowledged >= 2, qPrintable(QString("%1 of %2").arg(acknowledged).arg(queued)));

        // The clocks hold the day's last texts.
        QTest::qWait(100);
        takeArrivals(*weatherClock, weatherLast);
        takeArrivals(*stockClock, stockLast);
        QVERIFY(!weatherLast.value(1).isEmpty());
        QCOMPARE(QString::fromUtf8(weatherLast.value(1)), window.findChild<QLabel*>("lastWeatherVar2")->text());
        QCOMPARE(stockLast.value(0), QByteArray("(AAPL) 189.25 "));

        // Memory stays flat: the resident size after the day is within a few
        // MB of that after the first hour (the address-checked build keeps
        // freed memory in quarantine, so there only its leak check counts).
        const qint64 residentAfterDay = residentBytes();
        qInfo("resident size: %lld KB after the first hour, %lld KB after the day", residentAfterFirstHour / 1024,
              residentAfterDay / 1024);
        if (!AddressSanitizerBuild)
            QVERIFY2(residentAfterDay - residentAfterFirstHour < 8 * 1024 * 1024,
                     qPrintable(QString("grew by %1 KB").arg((residentAfterDay - residentAfterFirstHour) / 1024)));
    }
};

CORVELTA_TEST_MAIN(SimulatedDayTest)
#include "tst_simulatedday.moc"
