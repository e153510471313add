#include <QtTest>

#include <QUdpSocket>

#include "clocklink/clockdatagram.h"
#include "support/clockportlock.h"
#include "app/mainwindow.h"
#include "support/substituteclock.h"
#include "clocklink/udpcommthread.h"
#include "support/testmain.h"

namespace {
const QHostAddress ClockAddress("127.0.0.2");
}

class ClockLinkWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { static ClockPortLock lock; }

    void sendClockVarDeliversTheDatagram()
    {
        SubstituteClock clock(ClockAddress);
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
        SubstituteClock clock(ClockAddress);
        clock.setAnswer("");
        MainWindow window;
        const qint64 givenUpBefore = commThread.GetUdpCounters().givenUp;
        const qint64 queuedAt = clock.clock.elapsed();
        window.SendClockVar("127.0.0.2", 0, "12 C");
        QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpCounters().givenUp, givenUpBefore + 1, 20000);
        const qint64 givenUpSeenAt = clock.clock.elapsed();
        QTRY_COMPARE_WITH_TIMEOUT(clock.arrivals.size(), 4, 10000);
        const int expected[] = {200, 300, 400, 500};
        for (int i = 0; i < 4; ++i) {
            const qint64 at = clock.arrivals.at(i).msecs - queuedAt;
            QVERIFY2(at >= expected[i] - 2 && at <= expected[i] + 3000,
                     qPrintable(QString("transmission %1 at %2 ms").arg(i).arg(at)));
        }
        QVERIFY(givenUpSeenAt - queuedAt >= 598);
    }

    void addressThatDoesNotParseIsGivenUp()
    {
        MainWindow window;
        const RetransmitQueue::Counters before = commThread.GetUdpCounters();
        window.SendClockVar("clock-in-hall", 1, "x");
        window.SendClockVar("", 2, "y");
        QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpCounters().givenUp, before.givenUp + 2, 10000);
        QCOMPARE(commThread.GetUdpQueueSize(), 0);
    }

    void eachWindowStartsAndStopsTheLink()
    {
        SubstituteClock clock(ClockAddress);
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
