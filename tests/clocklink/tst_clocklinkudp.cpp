#include <QtTest>

#include <QUdpSocket>
#include <atomic>
#include <thread>

#include "clocklink/clockdatagram.h"
#include "clocklink/udpcommthread.h"
#include "clocksim/simulatedclock.h"
#include "support/answeringclocks.h"
#include "support/clockportlock.h"
#include "support/testmain.h"

namespace {

const QHostAddress ClockAddress("127.0.0.2");

// A clock link started with the window's parameters, stopped when it goes.
struct RunningLink
{
    UDPCommThread link;
    explicit RunningLink(int maxRetries = 3, int retryInterval = 100)
    {
        link.SetRetryParameters(maxRetries, retryInterval);
        link.start(QThread::NormalPriority);
    }
    ~RunningLink() { link.StopThread(); }
};

void sendClockDatagram(UDPCommThread& link, const QHostAddress& address, int variable, const QString& text,
                       int initialDelay = 200, int extraInterval = 0)
{
    const QByteArray datagram = ClockDatagram::build(variable, text);
    link.SendUDP(datagram, datagram.size(), address, CLOCK_UDP_PORT, true, initialDelay, extraInterval);
}

}  // namespace

class ClockLinkUdpTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { static ClockPortLock lock; }

    void clockReceivesExactBytes_data()
    {
        QTest::addColumn<int>("variable");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        dataRow("temperature", 0, "12 C",
                QByteArray("\xBE\x00"
                           "12 C\x00",
                           7));
        dataRow("empty text", 4, "", QByteArray("\xBE\x04\x00", 3));
        dataRow("variable 300 as its low byte", 300, "x", QByteArray("\xBE\x2Cx\x00", 4));
        dataRow("non-ASCII as UTF-8", 2, QString::fromUtf8("Z\u00fcrich 5\u00b0"),
                QByteArray("\xBE\x02Z\xC3\xBCrich 5\xC2\xB0\x00", 14));
    }
    void clockReceivesExactBytes()
    {
        QFETCH(int, variable);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        QVERIFY(clock.isBound());
        RunningLink running;
        sendClockDatagram(running.link, ClockAddress, variable, text);

        QTRY_COMPARE_WITH_TIMEOUT(running.link.GetUdpCounters().acknowledged, qint64(1), 10000);
        QCOMPARE(running.link.GetUdpQueueSize(), 0);
        QVERIFY(!clock.arrivals.isEmpty());
        for (const SimulatedClock::Arrival& arrival : qAsConst(clock.arrivals)) {
            QCOMPARE(arrival.data, bytes);
            QCOMPARE(arrival.senderPort, CLOCK_UDP_PORT);
        }
    }

    void retransmissionSchedule_data()
    {
        addColumns<int, int, int, QList<int>, int, bool>(
            {"initialDelay", "extraInterval", "maxRetries", "sendTimes", "giveUpTime", "timerHeld"});
        QTest::newRow("clock datagram, window parameters")
            << 200 << 0 << 3 << QList<int>{200, 300, 400, 500} << 600 << false;
        QTest::newRow("sent at once") << 0 << 0 << 3 << QList<int>{0, 100, 200, 300} << 400 << false;
        QTest::newRow("extra interval, one retry") << 200 << 50 << 1 << QList<int>{200, 350} << 500 << false;
        // The worker sleeps until another clock's probe, 30 s away: queueing must wake it.
        QTest::newRow("while a silent clock holds the timer")
            << 200 << 0 << 3 << QList<int>{200, 300, 400, 500} << 600 << true;
    }
    void retransmissionSchedule()
    {
        QFETCH(int, initialDelay);
        QFETCH(int, extraInterval);
        QFETCH(int, maxRetries);
        QFETCH(QList<int>, sendTimes);
        QFETCH(int, giveUpTime);
        QFETCH(bool, timerHeld);
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        clock.setAnswer("");  // a silent clock
        SimulatedClock holder(QHostAddress("127.0.0.3"));
        QVERIFY(holder.bind());
        holder.setAnswer("");
        RunningLink running(maxRetries, 100);
        if (timerHeld) {
            sendClockDatagram(running.link, holder.address(), 0, "a");
            sendClockDatagram(running.link, holder.address(), 1, "b");
            QTRY_COMPARE_WITH_TIMEOUT(running.link.GetUdpCounters().givenUp, qint64(2), 20000);
        }
        const qint64 givenUpBefore = running.link.GetUdpCounters().givenUp;

        const qint64 queuedAt = clock.msecsSinceCreated();
        sendClockDatagram(running.link, ClockAddress, 1, "7 C", initialDelay, extraInterval);
        QTRY_COMPARE_WITH_TIMEOUT(running.link.GetUdpCounters().givenUp, givenUpBefore + 1, 20000);
        const qint64 givenUpSeenAt = clock.msecsSinceCreated();
        QTRY_COMPARE_WITH_TIMEOUT(clock.arrivals.size(), sendTimes.size(), 10000);
        QCOMPARE(running.link.GetUdpQueueSize(), 0);

        // Never early against the schedule, which counts from queueing (2 ms
        // for timer rounding); late only within a generous margin for a busy
        // machine.
        for (int i = 0; i < sendTimes.size(); ++i) {
            const qint64 at = clock.arrivals.at(i).msecs - queuedAt;
            QVERIFY2(at >= sendTimes.at(i) - 2, qPrintable(QString("transmission %1 at %2 ms").arg(i).arg(at)));
            QVERIFY2(at <= sendTimes.at(i) + 3000, qPrintable(QString("transmission %1 at %2 ms").arg(i).arg(at)));
        }
        QVERIFY(givenUpSeenAt - queuedAt >= giveUpTime - 2);
    }

    // 150 datagrams go in batches of 64, each to its clock; held up by the
    // first answer while the others come, the link reads those 149 (over
    // two batches) in a few calls, before retransmissions fall due (1.1 s).
    void burstOfAnswersLargerThanOneBatch()
    {
        constexpr int ClockCount = 150;
        AnsweringClocks clocks(ClockCount);
        QCOMPARE(clocks.unbound, 0);
        clocks.hold(true);
        RunningLink running;
        std::atomic<bool> stalled{false};
        running.link.SetAcknowledgementObserver([&stalled](const udpQueueStruct&, const QByteArray&) {
            if (!stalled.exchange(true))
                std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        });
        for (int i = 0; i < ClockCount; ++i)
            sendClockDatagram(running.link, AnsweringClocks::address(i), 0, QString("text %1").arg(i), 0, 1000);
        QTRY_COMPARE_WITH_TIMEOUT(qint64(clocks.received), qint64(ClockCount), 10000);
        clocks.answerHeld(1);
        QTRY_VERIFY_WITH_TIMEOUT(stalled, 10000);
        const qint64 callsBefore = running.link.GetSocketCalls();
        clocks.hold(false);

        QTRY_COMPARE_WITH_TIMEOUT(running.link.GetUdpCounters().acknowledged, qint64(ClockCount), 10000);
        QCOMPARE(running.link.GetUdpCounters().transmissions, qint64(ClockCount));
        QCOMPARE(qint64(clocks.repeated), qint64(0));
        QVERIFY(running.link.GetSocketCalls() - callsBefore <= ClockCount / 10);
    }

    void acknowledgementStopsRetransmission()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        clock.setAnswer("");
        // Silent for the first transmission, then the clock answers "A".
        connect(&clock, &SimulatedClock::datagramArrived, &clock, [&clock] { clock.setAnswer("A"); });
        RunningLink running;
        sendClockDatagram(running.link, ClockAddress, 1, "12 C");

        QTRY_COMPARE_WITH_TIMEOUT(running.link.GetUdpCounters().acknowledged, qint64(1), 10000);
        const RetransmitQueue::Counters counts = running.link.GetUdpCounters();
        QCOMPARE(counts.givenUp, qint64(0));
        QCOMPARE(running.link.GetUdpQueueSize(), 0);
        QVERIFY(counts.transmissions >= 2);
        QVERIFY(counts.transmissions < 4);
        QTRY_COMPARE(clock.arrivals.size(), int(counts.transmissions));
    }

    // One datagram in flight per clock: an "A" that comes while
    // nothing of that clock has been sent acknowledges nothing (before, it
    // removed the oldest record, never sent).
    void answerBeforeAnyTransmissionAcknowledgesNothing()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        clock.setAnswer("");
        RunningLink running;
        sendClockDatagram(running.link, ClockAddress, 1, "older", 1500);
        sendClockDatagram(running.link, ClockAddress, 2, "newer", 1500);
        clock.sendTo(QHostAddress::LocalHost, CLOCK_UDP_PORT, "A");

        QTRY_COMPARE_WITH_TIMEOUT(running.link.GetUdpCounters().strays, qint64(1), 10000);
        QCOMPARE(running.link.GetUdpCounters().acknowledged, qint64(0));
        QCOMPARE(running.link.GetUdpQueueSize(), 2);
    }

    // The clock's next record is sent only once the one in flight is
    // acknowledged: the second goes out right after the first one's "A",
    // not at its own 200 ms.
    void recordsOfOneClockGoOneAtATime()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        RunningLink running;
        sendClockDatagram(running.link, ClockAddress, 1, "first");
        sendClockDatagram(running.link, ClockAddress, 2, "second");
        QTRY_COMPARE_WITH_TIMEOUT(running.link.GetUdpCounters().acknowledged, qint64(2), 10000);
        QCOMPARE(clock.arrivals.size(), 2);
        QCOMPARE(clock.arrivals.at(0).data, ClockDatagram::build(1, "first"));
        QCOMPARE(clock.arrivals.at(1).data, ClockDatagram::build(2, "second"));
    }

    void onlyALeadingUpperCaseAAcknowledges_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("acknowledges");
        dataRow("lower-case a", QByteArray("a"), false);
        dataRow("empty datagram", QByteArray(), false);
        dataRow("other first byte", QByteArray("BA"), false);
        dataRow("NUL then A",
                QByteArray("\x00"
                           "A",
                           2),
                false);
        dataRow("A with trailing bytes", QByteArray("Axyz"), true);
    }
    void onlyALeadingUpperCaseAAcknowledges()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, acknowledges);
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        clock.setAnswer("");
        RunningLink running;
        // Sent at once and in flight for five seconds.
        sendClockDatagram(running.link, ClockAddress, 1, "one", 0, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(clock.arrivals.size(), 1, 10000);
        // The reply under test, then a plain "A" that arrives after it: the
        // "A" acknowledges the record unless the reply already did (then it
        // finds nothing in flight).
        clock.sendTo(QHostAddress::LocalHost, CLOCK_UDP_PORT, reply);
        clock.sendTo(QHostAddress::LocalHost, CLOCK_UDP_PORT, "A");

        QTRY_COMPARE_WITH_TIMEOUT(running.link.GetUdpCounters().acknowledged, qint64(1), 10000);
        const qint64 strays = acknowledges ? 1 : 0;
        QTRY_COMPARE_WITH_TIMEOUT(running.link.GetUdpCounters().strays, strays, 10000);
        QCOMPARE(running.link.GetUdpQueueSize(), 0);
    }

    void acknowledgementFromAnotherClockChangesNothing()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        SimulatedClock stranger(QHostAddress("127.0.0.3"));
        QVERIFY(stranger.bind());
        SimulatedClock sentinel(QHostAddress("127.0.0.4"));
        QVERIFY(sentinel.bind());
        clock.setAnswer("");
        stranger.setAnswer("");
        sentinel.setAnswer("");
        RunningLink running;
        sendClockDatagram(running.link, ClockAddress, 1, "kept", 0, 5000);
        sendClockDatagram(running.link, sentinel.address(), 1, "sentinel", 0, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(clock.arrivals.size() + sentinel.arrivals.size(), 2, 10000);
        stranger.sendTo(QHostAddress::LocalHost, CLOCK_UDP_PORT, "A");
        sentinel.sendTo(QHostAddress::LocalHost, CLOCK_UDP_PORT, "A");

        QTRY_COMPARE_WITH_TIMEOUT(running.link.GetUdpCounters().acknowledged, qint64(1), 10000);
        QCOMPARE(running.link.GetUdpQueueSize(), 1);
    }

    // An address that is not IPv4 reaches no clock, so nothing is
    // queued for it (before, it ran the whole schedule and was given up).
    void unparsableAddressIsRefused()
    {
        RunningLink running;
        sendClockDatagram(running.link, QHostAddress("clock.example"), 1, "12 C");
        sendClockDatagram(running.link, QHostAddress("300.1.2.3"), 1, "12 C", 0);
        sendClockDatagram(running.link, QHostAddress("fe80::1"), 1, "12 C");
        QCOMPARE(running.link.GetUdpCounters().refused, qint64(3));
        QCOMPARE(running.link.GetUdpCounters().queued, qint64(0));
        QCOMPARE(running.link.GetUdpQueueSize(), 0);
    }

    void addressCheckReportsOncePerText()
    {
        UDPCommThread link;
        QStringList lines;
        connect(&link, &UDPCommThread::clockLinkMessage, this, [&lines](QString line) { lines << line; });
        QVERIFY(link.CheckClockAddress("10.0.0.7"));
        QVERIFY(!link.CheckClockAddress("clock-in-hall"));
        QVERIFY(!link.CheckClockAddress("clock-in-hall"));
        QVERIFY(!link.CheckClockAddress(""));
        QVERIFY(!link.CheckClockAddress("fe80::1"));
        QCOMPARE(lines, (QStringList{"Clock address \"clock-in-hall\" is not an IPv4 address; nothing is sent to it",
                                     "Clock address \"\" is not an IPv4 address; nothing is sent to it",
                                     "Clock address \"fe80::1\" is not an IPv4 address; nothing is sent to it"}));
    }

    void notQueuedIsSentOnce()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        clock.setAnswer("");
        RunningLink running;
        const QByteArray once = ClockDatagram::build(1, "once");
        running.link.SendUDP(once, once.size(), ClockAddress, CLOCK_UDP_PORT, false, 0, 0);
        // Not queued and delayed: nothing at all.
        running.link.SendUDP("never", 5, ClockAddress, CLOCK_UDP_PORT, false, 200, 0);
        // A queued one behind it shows when the link has moved on.
        sendClockDatagram(running.link, ClockAddress, 2, "after", 0);
        QTRY_COMPARE_WITH_TIMEOUT(running.link.GetUdpCounters().givenUp, qint64(1), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(clock.arrivals.size(), 5, 10000);
        QCOMPARE(clock.arrivals.first().data, once);
        for (int i = 1; i < clock.arrivals.size(); ++i)
            QCOMPARE(clock.arrivals.at(i).data, ClockDatagram::build(2, "after"));
    }

    void queuedBeforeStartIsSentOnceRunning()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        // Silent: an answer to one datagram would acknowledge the other.
        clock.setAnswer("");
        UDPCommThread link;
        link.SetRetryParameters(3, 100);
        sendClockDatagram(link, ClockAddress, 1, "early");
        const QByteArray immediate = ClockDatagram::build(2, "immediate");
        link.SendUDP(immediate, immediate.size(), ClockAddress, CLOCK_UDP_PORT, false, 0, 0);
        QCOMPARE(link.GetUdpQueueSize(), 1);

        link.start(QThread::NormalPriority);
        QTRY_COMPARE_WITH_TIMEOUT(link.GetUdpCounters().givenUp, qint64(1), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(clock.arrivals.size(), 5, 10000);
        QList<QByteArray> received;
        for (const SimulatedClock::Arrival& arrival : qAsConst(clock.arrivals))
            received.append(arrival.data);
        QVERIFY(received.contains(immediate));
        QVERIFY(received.contains(ClockDatagram::build(1, "early")));
        link.StopThread();
    }

    void restartsInOneProcess()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        UDPCommThread link;
        link.SetRetryParameters(3, 100);
        link.StopThread();  // not running: returns at once
        for (int round = 1; round <= 3; ++round) {
            link.start(QThread::NormalPriority);
            link.start(QThread::NormalPriority);  // already running: no effect
            sendClockDatagram(link, ClockAddress, round, "round");
            QTRY_COMPARE_WITH_TIMEOUT(link.GetUdpCounters().acknowledged, qint64(round), 10000);
            link.StopThread();
        }
        link.StopThread();
    }

    void stopAbandonsWaitingRecords()
    {
        SimulatedClock clock(ClockAddress);
        QVERIFY(clock.bind());
        clock.setAnswer("");
        UDPCommThread link;
        link.start(QThread::NormalPriority);
        sendClockDatagram(link, ClockAddress, 1, "left behind", 60000);
        link.StopThread();
        QCOMPARE(link.GetUdpQueueSize(), 0);
        QCOMPARE(link.GetUdpCounters().abandoned, qint64(1));
    }

    void portIsBoundFromStartToStop()
    {
        UDPCommThread link;
        link.start(QThread::NormalPriority);
        {
            QUdpSocket probe;
            QVERIFY(!probe.bind(QHostAddress::Any, CLOCK_UDP_PORT, QUdpSocket::DontShareAddress));
        }
        link.StopThread();
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::Any, CLOCK_UDP_PORT, QUdpSocket::DontShareAddress));
    }
};

CORVELTA_TEST_MAIN(ClockLinkUdpTest)
#include "tst_clocklinkudp.moc"
