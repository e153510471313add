#include <QtTest>

#include <QRandomGenerator>
#include <QUdpSocket>
#include <atomic>
#include <memory>
#include <thread>

#include "clocklink/clockdatagram.h"
#include "clocklink/clocksocket.h"
#include "clocklink/udpcommthread.h"
#include "clocksim/simulatedclock.h"
#include "support/answeringclocks.h"
#include "support/clockportlock.h"
#include "support/testmain.h"

class ClockLinkStressTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { static ClockPortLock lock; }

    void thousandsOfDatagramsToClocksThatAnswerAtRandom()
    {
        constexpr int clockCount = 4;
        constexpr int perSender = 2500;  // from this thread and from one more
        std::vector<std::unique_ptr<SimulatedClock>> clocks;
        QList<QHostAddress> addresses;
        qint64 answersSent = 0;
        QRandomGenerator random(2024);
        for (int i = 0; i < clockCount; ++i) {
            const QHostAddress address(QString("127.0.0.%1").arg(2 + i));
            clocks.push_back(std::make_unique<SimulatedClock>(address));
            QVERIFY(clocks.back()->bind());
            addresses.append(address);
            SimulatedClock* clock = clocks.back().get();
            auto answering = std::make_shared<bool>(true);
            // The answer given to a datagram is chosen before it arrives;
            // choose the next one at random.
            connect(clock, &SimulatedClock::datagramArrived, this, [=, &answersSent, &random] {
                if (*answering)
                    ++answersSent;
                *answering = random.bounded(4) == 0;  // one in four: some records are given up
                clock->setAnswer(*answering ? QByteArray("A") : QByteArray());
            });
        }

        UDPCommThread link;
        link.SetRetryParameters(3, 20);
        link.start(QThread::NormalPriority);

        // A second thread queues alongside the application thread.
        std::thread other([&] {
            QRandomGenerator otherRandom(99);
            for (int i = 0; i < perSender; ++i) {
                const QByteArray datagram = ClockDatagram::build(i % 5, QString::number(i));
                link.SendUDP(datagram, datagram.size(), addresses.at(otherRandom.bounded(clockCount)), CLOCK_UDP_PORT,
                             true, otherRandom.bounded(2) * 10, 0);
                if (i % 50 == 0)
                    QThread::msleep(2);
            }
        });
        for (int i = 0; i < perSender; ++i) {
            const QByteArray datagram = ClockDatagram::build(i % 5, QString("main %1").arg(i));
            link.SendUDP(datagram, datagram.size(), addresses.at(random.bounded(clockCount)), CLOCK_UDP_PORT, true,
                         random.bounded(3) * 10, 0);
            if (i % 50 == 0)
                QCoreApplication::processEvents();
        }
        other.join();

        const qint64 total = 2 * perSender;
        // Each record left once per queueing (kept texts are queued again): with one
        // datagram in flight per clock, most are replaced by a newer text
        // for their variable before they are sent. Confirming copies, not
        // counted by the queue's size, may still be on their way.
        RetransmitQueue::Counters counts;
        const auto settled = [&] {
            const bool empty = link.GetUdpQueueSize() == 0;
            counts = link.GetUdpCounters();
            const qint64 ended = counts.acknowledged + counts.givenUp + counts.superseded;
            return empty && ended >= total + counts.resent && ended <= total + counts.resent + counts.confirmed;
        };
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 120000);
        QCOMPARE(counts.queued, total);
        QVERIFY(counts.acknowledged > 0);
        QVERIFY(counts.givenUp > 0);
        // Let the last answers arrive; no answer removes more than one record.
        QCoreApplication::processEvents();
        QVERIFY(counts.acknowledged <= answersSent);
        link.StopThread();
        qInfo("acknowledged %lld, given up %lld, superseded %lld, transmissions %lld", counts.acknowledged,
              counts.givenUp, counts.superseded, counts.transmissions);
    }

    // 600 clocks answer once the link (started with their datagrams queued)
    // sent all; none may get one again after it answered (retry interval
    // 1 s). Held up 1.2 s by the first answer while the others come, the link
    // reads all that wait before it sends again; it reads between batches.
    void noDatagramSentAgainWhileItsAnswerWaits_data()
    {
        addColumns<bool>({"heldUp"});
        dataRow("answers waiting are read before the next sends", true);
        dataRow("a limit on sends between reads", false);
    }
    void noDatagramSentAgainWhileItsAnswerWaits()
    {
        QFETCH(bool, heldUp);
        constexpr int ClockCount = 600;
        AnsweringClocks clocks(ClockCount);
        QCOMPARE(clocks.unbound, 0);
        clocks.hold(true);
        UDPCommThread link;
        link.SetRetryParameters(3, 1000);
        std::atomic<bool> stalled{false};
        link.SetAcknowledgementObserver([&](const udpQueueStruct&, const QByteArray&) {
            if (heldUp && !stalled.exchange(true))
                std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        });
        for (int i = 0; i < ClockCount; ++i) {
            const QByteArray datagram = ClockDatagram::build(0, QString("text %1").arg(i));
            link.SendUDP(datagram, datagram.size(), AnsweringClocks::address(i), CLOCK_UDP_PORT, true, 0, 0);
        }
        link.start(QThread::NormalPriority);
        QTRY_COMPARE_WITH_TIMEOUT(qint64(clocks.received), qint64(ClockCount), 60000);
        const qint64 callsToSend = link.GetSocketCalls();
        if (heldUp) {
            clocks.answerHeld(1);
            QTRY_VERIFY_WITH_TIMEOUT(stalled, 60000);
        }
        clocks.hold(false);
        QTRY_COMPARE_WITH_TIMEOUT(link.GetUdpQueueSize(), 0, 120000);
        QCOMPARE(qint64(clocks.repeated), qint64(0));
        QCOMPARE(link.GetUdpCounters().givenUp, qint64(0));
        QVERIFY(callsToSend >= 2 * (ClockCount / ClockSocket::BatchSize));
        link.StopThread();
    }

    // A stranger on the network sends 10,000 datagrams a second at the
    // program's port, acknowledgements and garbage of every size, while two
    // real clocks are sent their texts. The stranger's acknowledgements take
    // nothing from the queue, and every real clock's text is delivered.
    void strangerFloodsThePortWhileClocksAreServed()
    {
        const QHostAddress strangerAddress("127.0.0.9");
        SimulatedClock first(QHostAddress("127.0.0.2"));
        QVERIFY(first.bind());
        SimulatedClock second(QHostAddress("127.0.0.3"));
        QVERIFY(second.bind());

        UDPCommThread link;
        link.start(QThread::NormalPriority);
        const RetransmitQueue::Counters before = link.GetUdpCounters();

        std::atomic<bool> flooding{true};
        std::atomic<qint64> floodSent{0};
        std::thread stranger([&] {
            QUdpSocket socket;
            if (!socket.bind(strangerAddress, 0))
                return;
            QRandomGenerator random(7);
            QElapsedTimer clock;
            clock.start();
            qint64 sent = 0;
            while (flooding) {
                // Ten a millisecond, on average.
                while (sent < clock.elapsed() * 10) {
                    QByteArray data;
                    switch (random.bounded(4)) {
                    case 0:
                        data = "A";
                        break;
                    case 1:
                        data = ClockDatagram::build(random.bounded(5), "stranger");
                        break;
                    case 2:
                        break;  // empty
                    default:
                        data.resize(random.bounded(1, 1400));
                        for (char& byte : data)
                            byte = char(random.bounded(256));
                    }
                    socket.writeDatagram(data, QHostAddress::LocalHost, CLOCK_UDP_PORT);
                    ++sent;
                }
                QThread::usleep(500);
            }
            floodSent = sent;
        });

        constexpr int textsPerClock = 100;
        for (int i = 0; i < textsPerClock; ++i) {
            for (SimulatedClock* clock : {&first, &second}) {
                const QByteArray datagram = ClockDatagram::build(i % 5, QString("text %1").arg(i));
                link.SendUDP(datagram, datagram.size(), clock->address(), CLOCK_UDP_PORT, true, 20, 0);
            }
            if (i % 10 == 0)
                QTest::qWait(200);  // spread over two seconds of flood
        }
        QTRY_COMPARE_WITH_TIMEOUT(link.GetUdpQueueSize(), 0, 120000);
        flooding = false;
        stranger.join();

        const RetransmitQueue::Counters after = link.GetUdpCounters();
        QCOMPARE(after.queued - before.queued, qint64(2 * textsPerClock));
        // A text replaced by a newer one for its variable before it went out
        // is not sent; every other one is acknowledged.
        QCOMPARE(after.acknowledged - before.acknowledged + after.superseded - before.superseded,
                 qint64(2 * textsPerClock));
        QCOMPARE(after.givenUp - before.givenUp, qint64(0));
        QVERIFY(floodSent > 0);
        QCoreApplication::processEvents();
        for (SimulatedClock* clock : {&first, &second}) {
            // Every variable ends with its newest text.
            QMap<int, QByteArray> last;
            for (const auto& arrival : clock->arrivals)
                last[quint8(arrival.data.at(1))] = arrival.data;
            QCOMPARE(last.size(), 5);
            for (int i = textsPerClock - 5; i < textsPerClock; ++i)
                QCOMPARE(last.value(i % 5), ClockDatagram::build(i % 5, QString("text %1").arg(i)));
        }
        link.StopThread();
        qInfo("stranger sent %lld datagrams", qint64(floodSent));
    }
};

CORVELTA_TEST_MAIN(ClockLinkStressTest)
#include "tst_clocklinkstress.moc"
