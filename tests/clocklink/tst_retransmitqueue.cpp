#include <QtTest>

#include <QRandomGenerator>
#include <atomic>
#include <thread>

#include "clocklink/retransmitqueue.h"
#include "support/testmain.h"

namespace {

udpQueueStruct* makeRecord(const QString& address, int initialDelay, int interval,
                           const QByteArray& data = QByteArray("\xBE\x01x\x00", 4))
{
    auto* record = new udpQueueStruct;
    record->data = data;
    record->length = data.size();
    record->addr = QHostAddress(address);
    record->port = 7372;
    record->firstSendPending = initialDelay > 0;
    record->initialDelay = initialDelay;
    record->interval = interval;
    record->timer.start();
    return record;
}

}  // namespace

class RetransmitQueueTest : public QObject
{
    Q_OBJECT

private slots:
    void sameClockAddress_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("equal IPv4") << "192.168.1.20" << "192.168.1.20" << true;
        QTest::newRow("different IPv4") << "192.168.1.20" << "192.168.1.21" << false;
        QTest::newRow("IPv4-mapped reply") << "::ffff:192.168.1.20" << "192.168.1.20" << true;
        QTest::newRow("IPv4-mapped other clock") << "::ffff:192.168.1.21" << "192.168.1.20" << false;
        QTest::newRow("both mapped") << "::ffff:10.0.0.1" << "::ffff:10.0.0.1" << true;
        QTest::newRow("plain IPv6 against unparsed") << "::1" << "not an address" << false;
        QTest::newRow("two unparsed addresses") << "bad" << "worse" << false;
        QTest::newRow("plain IPv6 pair") << "fe80::1" << "fe80::1" << false;
    }
    void sameClockAddress()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QCOMPARE(::sameClockAddress(QHostAddress(a), QHostAddress(b)), same);
        QCOMPARE(::sameClockAddress(QHostAddress(b), QHostAddress(a)), same);
    }

    void acknowledgementRemovesOldestRecordOfThatClockOnly()
    {
        // Zero interval: every remaining record is written on the next pass,
        // which shows which ones are left.
        RetransmitQueue queue;
        queue.append(makeRecord("10.0.0.7", 0, 0, "first"));
        queue.append(makeRecord("10.0.0.8", 0, 0, "other"));
        queue.append(makeRecord("10.0.0.7", 0, 0, "second"));

        QVERIFY(queue.acknowledge(QHostAddress("::ffff:10.0.0.7")));
        QList<QByteArray> left;
        queue.service(5, [&](const udpQueueStruct& r) { left.append(r.data); });
        QCOMPARE(left, (QList<QByteArray>{"other", "second"}));

        QVERIFY(queue.acknowledge(QHostAddress("10.0.0.7")));
        QVERIFY(!queue.acknowledge(QHostAddress("10.0.0.7")));
        QCOMPARE(queue.size(), 1);
        QCOMPARE(queue.counters().acknowledged, qint64(2));
    }

    void acknowledgementMatchesWhateverVariableAndState()
    {
        // The oldest record goes, even though it was never transmitted and
        // the newer one was.
        RetransmitQueue queue;
        queue.append(makeRecord("10.0.0.9", 60000, 100, "old"));
        queue.append(makeRecord("10.0.0.9", 0, 60000, "new"));
        QVERIFY(queue.acknowledge(QHostAddress("10.0.0.9")));
        QList<QByteArray> written;
        auto* probe = makeRecord("10.0.0.9", 0, 0, "probe");
        queue.append(probe);
        queue.service(5, [&](const udpQueueStruct& r) { written.append(r.data); });
        // Only the zero-interval probe was due; "old" is gone, "new" waits.
        QCOMPARE(written, QList<QByteArray>{"probe"});
        QCOMPARE(queue.size(), 2);
    }

    void acknowledgementFromUnknownSenderChangesNothing()
    {
        RetransmitQueue queue;
        queue.append(makeRecord("not an address", 1000, 100));
        queue.append(makeRecord("10.0.0.1", 1000, 100));
        QVERIFY(!queue.acknowledge(QHostAddress("::1")));
        QVERIFY(!queue.acknowledge(QHostAddress()));
        QVERIFY(!queue.acknowledge(QHostAddress("10.0.0.2")));
        QCOMPARE(queue.size(), 2);
    }

    void schedule_data()
    {
        QTest::addColumn<bool>("firstSendPending");
        QTest::addColumn<int>("maxRetries");
        QTest::addColumn<int>("transmissions");
        QTest::newRow("sent at once, 3 retries") << false << 3 << 3;
        QTest::newRow("sent at once, no retries") << false << 0 << 0;
        QTest::newRow("delayed first send, 3 retries") << true << 3 << 4;
        QTest::newRow("delayed first send, 1 retry") << true << 1 << 2;
    }
    void schedule()
    {
        // Zero delay and interval: every pass is due, so the passes count
        // the schedule without depending on the clock.
        QFETCH(bool, firstSendPending);
        QFETCH(int, maxRetries);
        QFETCH(int, transmissions);
        RetransmitQueue queue;
        auto* record = makeRecord("10.0.0.1", 0, 0);
        record->firstSendPending = firstSendPending;
        queue.append(record);
        int written = 0;
        int passes = 0;
        while (queue.size() > 0 && passes < 100) {
            queue.service(maxRetries, [&](const udpQueueStruct&) { ++written; });
            ++passes;
        }
        QCOMPARE(written, transmissions);
        // One pass per transmission, and one more that gives it up.
        QCOMPARE(passes, transmissions + 1);
        QCOMPARE(queue.counters().givenUp, qint64(1));
        QCOMPARE(queue.counters().transmissions, qint64(transmissions));
    }

    // The schedule counts from queueing, not from the pass that made the
    // previous transmission: a first send made late does not push the
    // retransmissions back (lateness would otherwise add up step by step).
    void lateFirstSendKeepsTheRetrySchedule()
    {
        RetransmitQueue queue;
        auto* record = makeRecord("10.0.0.1", 10, 100);
        QElapsedTimer sinceQueued = record->timer;
        queue.append(record);
        // The first retry tick is due at 110 ms after queueing.
        while (sinceQueued.elapsed() < 115)
            QThread::usleep(1000);
        int written = 0;
        const RetransmitQueue::Transmit count = [&](const udpQueueStruct&) { ++written; };
        queue.service(3, count);
        QCOMPARE(written, 1);  // the first transmission, 105 ms late
        queue.service(3, count);
        QCOMPARE(written, 2);  // retry tick 1 was already due
        QCOMPARE(queue.size(), 1);
    }

    void loweredRetryLimitAppliesToQueuedRecords()
    {
        RetransmitQueue queue;
        queue.append(makeRecord("10.0.0.1", 0, 0));
        int written = 0;
        const RetransmitQueue::Transmit count = [&](const udpQueueStruct&) { ++written; };
        queue.service(3, count);
        queue.service(3, count);
        QCOMPARE(written, 2);
        queue.service(1, count);
        QCOMPARE(written, 2);
        QCOMPARE(queue.size(), 0);
    }

    void intervalIsKeptPerRecord()
    {
        RetransmitQueue queue;
        queue.append(makeRecord("10.0.0.1", 0, 60000));
        int written = 0;
        queue.service(3, [&](const udpQueueStruct&) { ++written; });
        QCOMPARE(written, 0);
        QCOMPARE(queue.size(), 1);
    }

    void clearAbandonsEverything()
    {
        RetransmitQueue queue;
        for (int i = 0; i < 5; ++i)
            queue.append(makeRecord("10.0.0.1", 1000, 100));
        queue.clear();
        QCOMPARE(queue.size(), 0);
        QCOMPARE(queue.counters().abandoned, qint64(5));
        QVERIFY(!queue.acknowledge(QHostAddress("10.0.0.1")));
    }

    void concurrentUseKeepsEveryRecordAccountedFor()
    {
        // One thread appends, one walks the schedule, this one acknowledges:
        // every record must end acknowledged or given up, exactly once.
        RetransmitQueue queue;
        constexpr int total = 20000;
        std::atomic<bool> appending{true};
        std::thread producer([&] {
            for (int i = 0; i < total; ++i)
                queue.append(makeRecord(QString("10.0.0.%1").arg(1 + i % 4), i % 2, 0));
            appending = false;
        });
        std::thread walker([&] {
            while (appending || queue.size() > 0)
                queue.service(2, [](const udpQueueStruct&) {});
        });
        QRandomGenerator random(7);
        while (appending || queue.size() > 0)
            queue.acknowledge(QHostAddress(QString("10.0.0.%1").arg(1 + random.bounded(4))));
        producer.join();
        walker.join();
        const RetransmitQueue::Counters counts = queue.counters();
        QCOMPARE(counts.queued, qint64(total));
        QCOMPARE(counts.acknowledged + counts.givenUp, qint64(total));
        QCOMPARE(queue.size(), 0);
    }
};

CORVELTA_TEST_APPLESS_MAIN(RetransmitQueueTest)
#include "tst_retransmitqueue.moc"
