#include <QtTest>

#include <QLineEdit>
#include <QStatusBar>
#include <QUdpSocket>

#include "clocklink/clockdatagram.h"
#include "support/clockportlock.h"
#include "support/debugcapture.h"
#include "app/mainwindow.h"
#include "clocksim/simulatedclock.h"
#include "app/statusbartext.h"
#include "clocklink/udpcommthread.h"
#include "support/testmain.h"

namespace {
const QHostAddress ClockAddress("127.0.0.2");

// How many lines of the debug output (where the log's lines are echoed) end
// with `text`.
int linesEndingWith(const DebugCapture& log, const QString& text)
{
    int n = 0;
    for (const QString& line : log.debugLines())
        n += line.endsWith(text) ? 1 : 0;
    return n;
}
}

class ClockLinkWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { static ClockPortLock lock; }

    void sendClockVarDeliversTheDatagram()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        MainWindow window;
        const qint64 acknowledgedBefore = commThread.GetUdpCounters().acknowledged;
        window.SendClockVar("127.0.0.2", 3, "N-11 kmh");
        QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpCounters().acknowledged, acknowledgedBefore + 1, 10000);
        QCOMPARE(commThread.GetUdpQueueSize(), 0);
        QVERIFY(!clock.arrivals.isEmpty());
        QCOMPARE(clock.arrivals.first().data, QByteArray("\xBE\x03N-11 kmh\x00", 11));
        QCOMPARE(clock.arrivals.first().senderPort, CLOCK_UDP_PORT);
    }

    void windowRetryParametersGiveTheScheduleOfFourTransmissions()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        clock.setAnswer("");
        MainWindow window;
        const qint64 givenUpBefore = commThread.GetUdpCounters().givenUp;
        const qint64 queuedAt = clock.msecsSinceCreated();
        window.SendClockVar("127.0.0.2", 0, "12 C");
        QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpCounters().givenUp, givenUpBefore + 1, 20000);
        const qint64 givenUpSeenAt = clock.msecsSinceCreated();
        QTRY_COMPARE_WITH_TIMEOUT(clock.arrivals.size(), 4, 10000);
        const int expected[] = {200, 300, 400, 500};
        for (int i = 0; i < 4; ++i) {
            const qint64 at = clock.arrivals.at(i).msecs - queuedAt;
            QVERIFY2(at >= expected[i] - 2 && at <= expected[i] + 3000,
                     qPrintable(QString("transmission %1 at %2 ms").arg(i).arg(at)));
        }
        QVERIFY(givenUpSeenAt - queuedAt >= 598);
    }

    // An address that is not IPv4 is not queued, and the log
    // says so once per run, however often it is used.
    void addressThatIsNotIPv4IsLoggedOnce()
    {
        DebugCapture log;
        MainWindow window;
        const RetransmitQueue::Counters before = commThread.GetUdpCounters();
        for (int i = 0; i < 3; ++i) {
            window.SendClockVar("clock-in-hall", 1, "x");
            window.SendClockVar("", 2, "y");
        }
        QTRY_COMPARE(linesEndingWith(log, "Clock address \"\" is not an IPv4 address; nothing is sent to it"), 1);
        QCOMPARE(linesEndingWith(log, "Clock address \"clock-in-hall\" is not an IPv4 address; nothing is sent to it"), 1);
        QCOMPARE(commThread.GetUdpCounters().queued, before.queued);
        QCOMPARE(commThread.GetUdpQueueSize(), 0);
    }

    // A clock that is off over ten refreshes: one "not answering" line, and
    // the status bar names it; it comes back: one "answering again" line.
    void deadClockIsReportedOnceAndItsReturnOnce()
    {
        const QString address = "127.0.0.5";
        SimulatedClock clock{QHostAddress(address)};
        QVERIFY(clock.bind());
        AcknowledgementPolicy silent;
        silent.silent = true;
        clock.setPolicy(silent);
        DebugCapture log;
        MainWindow window;
        window.findChild<QLineEdit*>("clockWeatherIPListEdit")->setText(address);
        for (int refresh = 0; refresh < 10; ++refresh) {
            for (int v = 0; v < 5; ++v)
                window.SendClockVar(address, v, QString("refresh %1").arg(refresh));
            QTest::qWait(700);
        }
        // A clock never heard from may answer up to 4 s late, and each
        // give-up doubles its interval: the six records left take a while.
        QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpQueueSize(), 0, 90000);
        QTRY_COMPARE(linesEndingWith(log, "Clock 127.0.0.5 is not answering"), 1);
        QTRY_VERIFY(window.statusBar()->currentMessage().contains(
            "Clocks 0 of 1 answering \u00b7 127.0.0.5 not answering"));

        clock.setPolicy(AcknowledgementPolicy());
        for (int v = 0; v < 5; ++v)
            window.SendClockVar(address, v, "back");
        QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpQueueSize(), 0, 30000);
        QTRY_COMPARE(linesEndingWith(log, "Clock 127.0.0.5 is answering again"), 1);
        QTRY_VERIFY(window.statusBar()->currentMessage().contains("Clocks 1 of 1 answering"));
        QCOMPARE(linesEndingWith(log, "Clock 127.0.0.5 is not answering"), 1);
        for (int v = 0; v < 5; ++v)
            QCOMPARE(clock.variables().value(v), QString("back"));
    }

    void statusBarText_data()
    {
        // unlisted: reported on, in neither address list
        addColumns<QTime, QTime, QStringList, QStringList, QStringList, QString>(
            {"weather", "stocks", "answering", "silent", "unlisted", "text"});
        const QString dot = QString::fromUtf8(" \u00b7 ");
        QTest::newRow("the issue's example")
            << QTime(14, 3) << QTime(14, 3, 40) << QStringList{"10.0.0.4", "10.0.0.5", "10.0.0.6"}
            << QStringList{"10.0.0.7"} << QStringList()
            << "Weather 14:03" + dot + "Stocks 14:03" + dot + "Clocks 3 of 4 answering" + dot
                   + "10.0.0.7 not answering";
        QTest::newRow("nothing yet") << QTime() << QTime() << QStringList() << QStringList() << QStringList()
                                     << "Weather not yet" + dot + "Stocks not yet" + dot + "Clocks not yet sent to";
        QTest::newRow("all answering") << QTime(9, 0) << QTime() << QStringList{"10.0.0.1"} << QStringList()
                                       << QStringList()
                                       << "Weather 09:00" + dot + "Stocks not yet" + dot + "Clocks 1 of 1 answering";
        QTest::newRow("many silent") << QTime() << QTime(8, 5) << QStringList()
                                     << QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5"}
                                     << QStringList()
                                     << "Weather not yet" + dot + "Stocks 08:05" + dot + "Clocks 0 of 5 answering"
                                            + dot + "10.0.0.1, 10.0.0.2, 10.0.0.3 and 2 more not answering";
        QTest::newRow("removed from both lists") << QTime() << QTime() << QStringList{"10.0.0.1"} << QStringList()
                                                 << QStringList{"10.0.0.7"}
                                                 << "Weather not yet" + dot + "Stocks not yet" + dot
                                                        + "Clocks 1 of 1 answering";
    }
    void statusBarText()
    {
        QFETCH(QTime, weather);
        QFETCH(QTime, stocks);
        QFETCH(QStringList, answering);
        QFETCH(QStringList, silent);
        QFETCH(QStringList, unlisted);
        QFETCH(QString, text);
        StatusBarText::State state;
        state.weather = weather;
        state.stocks = stocks;
        state.listed = StatusBarText::listedClocks(answering.join(", "), silent.join(","));
        for (const QString& a : unlisted)
            state.clocks[a] = false;
        for (const QString& a : answering)
            state.clocks[a] = true;
        for (const QString& a : silent)
            state.clocks[a] = false;
        QCOMPARE(StatusBarText::compose(state), text);
    }

    void eachWindowStartsAndStopsTheLink()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        for (int round = 0; round < 3; ++round) {
            {
                MainWindow window;
                QVERIFY(commThread.isRunning());
                // Port 7372 is taken while the window exists.
                QUdpSocket probe;
                QVERIFY(!probe.bind(QHostAddress::Any, CLOCK_UDP_PORT, QUdpSocket::DontShareAddress));
                const qint64 before = commThread.GetUdpCounters().acknowledged;
                window.SendClockVar("127.0.0.2", round, "round");
                QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpCounters().acknowledged, before + 1, 10000);
            }
            QVERIFY(!commThread.isRunning());
        }
    }
};

CORVELTA_TEST_MAIN(ClockLinkWindowTest)
#include "tst_clocklinkwindow.moc"
