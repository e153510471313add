// The retransmit queue on a settable clock: no real time passes, so every
// schedule is exact. A small model of the network and the clocks (losses,
// answer delays, dead clocks) is driven one millisecond at a time.
#include <QtTest>

#include <QRandomGenerator>
#include <atomic>
#include <functional>
#include <thread>

#include "clocklink/clockdatagram.h"
#include "clocklink/retransmitqueue.h"
#include "clocksim/simulatedclock.h"
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
    record->firstSendPending = true;
    record->initialDelay = initialDelay;
    record->interval = interval;
    record->timer.start();
    return record;
}

QString textOf(const QByteArray& datagram)
{
    return QString::fromUtf8(datagram.mid(2, datagram.size() - 3));
}

// The queue, the clocks it talks to and the network between them, all on
// one settable clock (milliseconds).
struct Simulation
{
    struct Transmission
    {
        qint64 at = 0;
        QString clock;
        QByteArray data;
        bool lost = false;
        bool confirming = false;  // a confirming copy of a doubtfully credited text
    };
    struct Answer
    {
        qint64 at = 0;
        QString clock;
        QByteArray answers;  // the datagram it answers
    };
    struct Clock
    {
        QMap<int, QString> vars;
        QList<QPair<int, QString>> received;  // in arrival order
        bool dead = false;
        int answerDelayMs = 2;
    };

    qint64 nowMs = 0;
    RetransmitQueue queue{[this] { return nowMs * 1000000; }};
    QMap<QString, Clock> clocks;
    QList<Transmission> transmissions;
    QList<Answer> answers;
    int maxRetries = 3;
    // Whether the n-th transmission (from 1) of a datagram to a clock is lost.
    std::function<bool(const QString& clock, const QByteArray& data, int nth)> loseDatagram;
    // Whether its answer is lost; how long it takes otherwise.
    std::function<bool(const QString& clock, const QByteArray& data)> loseAnswer;
    std::function<int(const QString& clock, const QByteArray& data, int nth)> answerDelay;
    // Or the clock simulator's policy decides, with a seeded draw.
    bool usePolicy = false;
    AcknowledgementPolicy policy;
    QRandomGenerator random{11};
    QStringList wrongAcknowledgements;
    QList<RetransmitQueue::HealthEvent> health;
    qint64 firstSilentAt = -1;  // the first "not answering"
    qint64 lastSilentAt = -1;   // the latest
    qint64 lastAnswerAt = -1;   // the latest answer to reach the link
    qint64 mark = -1;           // whatever a scenario notes for its check

    Simulation()
    {
        queue.setAcknowledgementObserver([this](const udpQueueStruct& record, const QByteArray& payload) {
            if (payload.mid(1) != record.data)
                wrongAcknowledgements
                    << QString("%1 acknowledged by the answer to %2").arg(textOf(record.data), textOf(payload.mid(1)));
        });
    }

    void queueText(const QString& clock, int variable, const QString& text, int initialDelay = 200, int interval = 100)
    {
        queue.append(makeRecord(clock, initialDelay, interval, ClockDatagram::build(variable, text)));
        clocks[clock];  // known
    }

    int countSent(const QString& clock, const QByteArray& data) const
    {
        int n = 0;
        for (const Transmission& t : transmissions)
            n += (t.clock == clock && t.data == data) ? 1 : 0;
        return n;
    }

    void transmit(const udpQueueStruct& record)
    {
        const QString clock = QHostAddress(record.addr.toIPv4Address()).toString();
        const int nth = countSent(clock, record.data) + 1;
        Clock& target = clocks[clock];
        const bool lost = target.dead || (loseDatagram && loseDatagram(clock, record.data, nth)) ||
                          (usePolicy && random.generateDouble() < policy.datagramDropShare);
        transmissions.append({nowMs, clock, record.data, lost, record.confirming});
        if (lost)
            return;
        const int variable = quint8(record.data.at(1));
        target.vars[variable] = textOf(record.data);
        target.received.append({variable, textOf(record.data)});
        if (loseAnswer && loseAnswer(clock, record.data))
            return;
        int delay = answerDelay ? answerDelay(clock, record.data, nth) : target.answerDelayMs;
        if (usePolicy) {
            const AcknowledgementDecision decision =
                decideAcknowledgement(policy, random.generateDouble(), random.generateDouble());
            if (!decision.send)
                return;
            delay = decision.delayMs;
        }
        answers.append({nowMs + delay, clock, record.data});
    }

    // One millisecond: the answers due now arrive, then the queue is serviced.
    void step()
    {
        for (int i = 0; i < answers.size();) {
            if (answers.at(i).at <= nowMs) {
                const Answer answer = answers.takeAt(i);
                lastAnswerAt = nowMs;
                queue.acknowledge(QHostAddress(answer.clock), QByteArray("A") + answer.answers);
                continue;
            }
            ++i;
        }
        queue.service(maxRetries, [this](const udpQueueStruct& record) { transmit(record); });
        for (const RetransmitQueue::HealthEvent& event : queue.takeHealthEvents()) {
            health.append(event);
            firstSilentAt = firstSilentAt < 0 && !event.answering ? nowMs : firstSilentAt;
            lastSilentAt = event.answering ? lastSilentAt : nowMs;
        }
        ++nowMs;
    }

    void runUntil(qint64 ms)
    {
        while (nowMs <= ms)
            step();
    }

    void queueRound(const QString& clock, const QString& tag)
    {
        for (int v = 0; v < 5; ++v)
            queueText(clock, v, QString("%1 v%2").arg(tag).arg(v));
    }
    bool showsRound(const QString& clock, const QString& tag) const
    {
        for (int v = 0; v < 5; ++v)
            if (clocks.value(clock).vars.value(v) != QString("%1 v%2").arg(tag).arg(v))
                return false;
        return true;
    }
    // Confirming copies left out.
    QList<qint64> sendTimes(const QString& clock, const QByteArray& data) const
    {
        QList<qint64> times;
        for (const Transmission& t : transmissions)
            if (t.clock == clock && t.data == data && !t.confirming)
                times << t.at;
        return times;
    }

    int loggedLines(bool answering) const
    {
        int n = 0;
        for (const RetransmitQueue::HealthEvent& event : health)
            n += (event.logged && event.answering == answering) ? 1 : 0;
        return n;
    }

    // The clock never received an older text for a variable after a newer
    // one: texts are numbered in the order they were queued.
    bool receivedInOrder(const QString& clock, const QHash<QString, int>& order) const
    {
        QHash<int, int> latest;
        for (const auto& arrival : clocks.value(clock).received) {
            const int rank = order.value(arrival.second, -1);
            if (rank < latest.value(arrival.first, -1))
                return false;
            latest[arrival.first] = rank;
        }
        return true;
    }
};

const QString Clock5 = QStringLiteral("10.0.0.5");

// Six delivery faults of the old queue, each a row: what happens, then what must
// hold. Each fails on the queue that let any "A" remove the oldest record,
// counted every step from queueing and had no other clock than real time.
struct Scenario
{
    const char* name;
    std::function<void(Simulation&)> play;
    std::function<void(const Simulation&)> check;
};

QList<Scenario> scenarios()
{
    QList<Scenario> list;

    // 1. Five variables queued at once; the first transmission of variable
    // 2 is lost. It must be sent again, and the clock ends with all five.
    list.append({"lost datagram in a batch is resent",
                 [](Simulation& sim) {
                     for (int v = 0; v < 5; ++v)
                         sim.queueText(Clock5, v, QString("new %1").arg(v));
                     sim.loseDatagram = [](const QString&, const QByteArray& data, int nth) {
                         return data.at(1) == 2 && nth == 1;
                     };
                     sim.runUntil(3000);
                 },
                 [](const Simulation& sim) {
                     for (int v = 0; v < 5; ++v)
                         QCOMPARE(sim.clocks.value(Clock5).vars.value(v), QString("new %1").arg(v));
                     QCOMPARE(sim.queue.size(), 0);
                     // The texts credited after the lost copy's window closed are confirmed.
                     QCOMPARE(sim.queue.counters().acknowledged, 5 + sim.queue.counters().confirmed);
                     QCOMPARE(sim.queue.counters().givenUp, qint64(0));
                     QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(2, "new 2")).size(), 2);
                     // The second copy of the lost one is the only copy after a first.
                     QCOMPARE(sim.queue.counters().retransmissions, qint64(1));
                     // Normal timeline: the first goes out exactly 200 ms after queueing.
                     QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(0, "new 0")), QList<qint64>{200});
                 }});

    // 2. Two texts for one variable 50 ms apart; the old one's first
    // transmission is lost and the new one's answer is slow. The clock must
    // end with the new text and never get the old one after it.
    list.append({"older text never overwrites a newer one",
                 [](Simulation& sim) {
                     sim.loseDatagram = [](const QString&, const QByteArray& data, int nth) {
                         return textOf(data) == "old" && nth == 1;
                     };
                     sim.answerDelay = [](const QString&, const QByteArray& data, int) {
                         return textOf(data) == "new" ? 90 : 2;
                     };
                     sim.queueText(Clock5, 3, "old");
                     sim.runUntil(49);
                     sim.queueText(Clock5, 3, "new");
                     sim.runUntil(3000);
                 },
                 [](const Simulation& sim) {
                     QCOMPARE(sim.clocks.value(Clock5).vars.value(3), QString("new"));
                     QVERIFY(sim.receivedInOrder(Clock5, {{"old", 0}, {"new", 1}}));
                     // Not yet sent when the new one came: replaced, never sent.
                     QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(3, "old")).size(), 0);
                     QCOMPARE(sim.queue.counters().acknowledged, qint64(1));
                     QCOMPARE(sim.queue.counters().superseded, qint64(1));
                     QCOMPARE(sim.queue.size(), 0);
                 }});

    // 3. A clock that is off: one "not answering", not one per datagram;
    // when it comes back, one "answering again".
    list.append({"silent clock is reported once, and its return once",
                 [](Simulation& sim) {
                     sim.clocks[Clock5].dead = true;
                     for (int refresh = 0; refresh < 10; ++refresh) {
                         for (int v = 0; v < 5; ++v)
                             sim.queueText(Clock5, v, QString("r%1 v%2").arg(refresh).arg(v));
                         sim.runUntil(sim.nowMs + 1000);
                     }
                     sim.runUntil(sim.nowMs + 10000);
                     sim.clocks[Clock5].dead = false;
                     for (int v = 0; v < 5; ++v)
                         sim.queueText(Clock5, v, QString("back %1").arg(v));
                     sim.runUntil(sim.nowMs + 5000);
                 },
                 [](const Simulation& sim) {
                     QCOMPARE(sim.loggedLines(false), 1);
                     QCOMPARE(sim.loggedLines(true), 1);
                     QVERIFY(sim.queue.counters().givenUp > 1);
                     for (int v = 0; v < 5; ++v)
                         QCOMPARE(sim.clocks.value(Clock5).vars.value(v), QString("back %1").arg(v));
                 }});

    // 4. The queue is not looked at for a second (a stalled machine); the
    // clock answers slowly (150 ms). Transmissions of one record stay an
    // interval apart, and the late answers acknowledge nothing else.
    list.append({"no burst after a stall",
                 [](Simulation& sim) {
                     sim.answerDelay = [](const QString&, const QByteArray&, int) { return 150; };
                     sim.queueText(Clock5, 0, "first");
                     sim.queueText(Clock5, 1, "second");
                     sim.queueText(Clock5, 2, "third");
                     sim.nowMs = 1000;  // stalled
                     sim.runUntil(5000);
                 },
                 [](const Simulation& sim) {
                     const QList<QByteArray> datagrams{ClockDatagram::build(0, "first"),
                                                       ClockDatagram::build(1, "second"),
                                                       ClockDatagram::build(2, "third")};
                     for (const QByteArray& datagram : datagrams) {
                         const QList<qint64> times = sim.sendTimes(Clock5, datagram);
                         QVERIFY(!times.isEmpty());
                         for (int i = 1; i < times.size(); ++i)
                             QVERIFY2(times.at(i) - times.at(i - 1) >= 100, qPrintable(textOf(datagram)));
                     }
                     QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(0, "first")).first(), qint64(1000));
                     QCOMPARE(sim.queue.counters().acknowledged, qint64(3));
                     QCOMPARE(sim.queue.counters().givenUp, qint64(0));
                     QCOMPARE(sim.clocks.value(Clock5).vars.size(), 3);
                 }});

    // 5. A stranger floods the link with "A"s: they acknowledge nothing of
    // the clocks'; the clock's own answer still does.
    list.append({"stranger's answers acknowledge nothing",
                 [](Simulation& sim) {
                     sim.clocks[Clock5].answerDelayMs = 40;
                     sim.queueText(Clock5, 0, "kept");
                     for (int i = 0; i < 240; ++i) {
                         for (int k = 0; k < 50; ++k)
                             sim.queue.acknowledge(QHostAddress("10.0.0.99"), "A");
                         sim.step();
                     }
                     sim.runUntil(1000);
                 },
                 [](const Simulation& sim) {
                     QCOMPARE(sim.queue.counters().strays, qint64(240 * 50));
                     QCOMPARE(sim.queue.counters().acknowledged, qint64(1));
                     QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(0, "kept")), QList<qint64>{200});
                 }});

    // 6. The queue names the moment it next has work, so the worker can
    // sleep until then: nothing while idle, the exact moments otherwise.
    list.append({"queue names its next due moment",
                 [](Simulation& sim) {
                     sim.clocks[Clock5].dead = true;
                     sim.queueText(Clock5, 0, "due");
                     sim.nowMs = 7;
                 },
                 [](const Simulation& sim) { QCOMPARE(sim.queue.nextDueNs(), qint64(200) * 1000000); }});
    // 7, 8. A slow clock on a lossy link (a fifth of datagrams and of
    // answers lost): 30 rounds of five texts a second apart. Once the link
    // has learned the clock's timing, every "A" is credited to the record
    // it answers (checked for every row: here from the very first); the
    // clock ends with the last round's texts, in order, within the limit.
    auto slowClock = [](int delayMs, int jitterMs, qint64 lastRoundLimitMs) {
        return Scenario{nullptr,
                        [=](Simulation& sim) {
                            sim.usePolicy = true;
                            sim.policy.delayMs = delayMs;
                            sim.policy.delayJitterMs = jitterMs;
                            sim.policy.dropShare = 0.2;
                            sim.policy.datagramDropShare = 0.2;
                            for (int round = 0; round < 30; ++round) {
                                for (int v = 0; v < 5; ++v)
                                    sim.queueText(Clock5, v, QString("r%1 v%2").arg(round).arg(v));
                                sim.runUntil(sim.nowMs + 999);
                            }
                            sim.runUntil(29000 + lastRoundLimitMs + 10000);
                        },
                        [=](const Simulation& sim) {
                            QHash<QString, int> order;
                            for (int round = 0; round < 30; ++round)
                                for (int v = 0; v < 5; ++v)
                                    order.insert(QString("r%1 v%2").arg(round).arg(v), round);
                            QVERIFY(sim.receivedInOrder(Clock5, order));
                            QVERIFY(sim.loggedLines(false) <= 1);
                            for (int v = 0; v < 5; ++v) {
                                const QByteArray last = ClockDatagram::build(v, QString("r29 v%1").arg(v));
                                QCOMPARE(sim.clocks.value(Clock5).vars.value(v), textOf(last));
                                qint64 arrived = -1;
                                for (const Simulation::Transmission& t : sim.transmissions)
                                    if (arrived < 0 && !t.lost && t.data == last)
                                        arrived = t.at;
                                QVERIFY2(arrived >= 0 && arrived <= 29000 + lastRoundLimitMs,
                                         qPrintable(QString::number(arrived)));
                            }
                        }};
    };
    list.append(slowClock(250, 150, 15000));
    list.last().name = "slow clock, answers 250-400 ms late";
    list.append(slowClock(1500, 0, 40000));
    list.last().name = "slow clock, answers 1500 ms late";

    // 9, 10. Some answers far later than usual, a tenth of everything lost: late answers were
    // credited to the next datagram while copies were owed only twice the usual answer time.
    auto spikes = [](int baseMs, int spikeMs) {
        return Scenario{nullptr,
                        [=](Simulation& sim) {
                            sim.random.seed(3);
                            sim.loseDatagram = [&sim](const QString&, const QByteArray&, int) {
                                return sim.random.generateDouble() < 0.1;
                            };
                            sim.loseAnswer = [&sim](const QString&, const QByteArray&) {
                                return sim.random.generateDouble() < 0.1;
                            };
                            sim.answerDelay = [&sim, baseMs, spikeMs](const QString&, const QByteArray&, int) {
                                return sim.random.generateDouble() < 0.02 ? spikeMs : baseMs;
                            };
                            for (int round = 0; round < 20; ++round) {
                                sim.queueRound(Clock5, QString("r%1").arg(round));
                                sim.runUntil(sim.nowMs + 999);
                            }
                            sim.runUntil(sim.nowMs + 60000);
                        },
                        [](const Simulation& sim) { QVERIFY(sim.showsRound(Clock5, "r19")); }};
    };
    list.append(spikes(300, 800));
    list.last().name = "300 ms clock, 2 % of answers 800 ms late";
    list.append(spikes(50, 500));
    list.last().name = "50 ms clock, 2 % of answers 500 ms late";

    // 11-13. A dead clock is reported within two give-ups' worth of time however fast its
    // texts change (for a clock measured at 1.5 s, two give-ups at its 2 s interval).
    auto deadClock = [](int everyMs, int answerMs, qint64 limitMs) {
        return Scenario{nullptr,
                        [=](Simulation& sim) {
                            sim.clocks[Clock5].answerDelayMs = answerMs;
                            sim.queueText(Clock5, 0, "learn");
                            sim.runUntil(answerMs > 2 ? 10000 : 0);  // measured first, or dead from the start
                            sim.mark = sim.nowMs;
                            sim.clocks[Clock5].dead = true;
                            for (int i = 0; sim.nowMs < 60000; ++i) {
                                sim.queueText(Clock5, i % 5, QString("t%1").arg(i));
                                sim.runUntil(sim.nowMs + everyMs - 1);
                            }
                        },
                        [=](const Simulation& sim) {
                            QVERIFY2(sim.firstSilentAt >= 0 && sim.firstSilentAt - sim.mark <= limitMs,
                                     qPrintable(QString::number(sim.firstSilentAt)));
                            // Once reported (the interval doubled twice), every text is replaced
                            // before its third copy: it goes twice, then is given up.
                            QHash<QByteArray, int> copies;
                            for (const Simulation::Transmission& t : sim.transmissions)
                                QVERIFY(everyMs > 100 || t.at < sim.firstSilentAt || ++copies[t.data] <= 2);
                        }};
    };
    list.append(deadClock(100, 2, 6000));
    list.last().name = "dead clock, texts every 100 ms";
    list.append(deadClock(1000, 2, 6000));
    list.last().name = "dead clock, texts every second";
    list.append(deadClock(1000, 1500, 20000));
    list.last().name = "1500 ms clock dies, texts every second";

    // A 300 ms clock losing a tenth of datagrams and answers; `spikes`: (share, ms) of late answers.
    auto lossy = [](Simulation& sim, quint32 seed, std::vector<std::pair<double, int>> spikes) {
        sim.random.seed(seed);
        sim.loseDatagram = [&sim](const QString&, const QByteArray&, int) { return sim.random.generateDouble() < 0.1; };
        sim.loseAnswer = [&sim](const QString&, const QByteArray&) { return sim.random.generateDouble() < 0.1; };
        sim.answerDelay = [&sim, spikes](const QString&, const QByteArray&, int) {
            double unit = sim.random.generateDouble();
            for (const auto& spike : spikes)
                if ((unit -= spike.first) < 0)
                    return spike.second;
            return 300;
        };
    };

    // A lossy minute, then the clock dies while its texts change every 500 ms: the windows heal,
    // so it is reported within 7 s of its last answer (median of 40 seeds), 10 s at worst.
    list.append(
        {"lossy minute, then the clock dies",
         [=](Simulation& sim) {
             QVector<qint64> reportedAfter;
             for (quint32 seed = 1; seed <= 40; ++seed) {
                 Simulation run;
                 lossy(run, seed, {});
                 for (int round = 0; run.nowMs < 90000; ++round) {
                     run.clocks[Clock5].dead = run.nowMs >= 60000;
                     run.queueRound(Clock5, QString("r%1").arg(round));
                     run.runUntil(run.nowMs + 499);
                 }
                 reportedAfter << (run.lastSilentAt > run.lastAnswerAt ? run.lastSilentAt - run.lastAnswerAt : -1);
             }
             std::sort(reportedAfter.begin(), reportedAfter.end());
             sim.mark = reportedAfter.first() >= 0 && reportedAfter.at(20) <= 7000 && reportedAfter.last() <= 10000;
         },
         [](const Simulation& sim) { QCOMPARE(sim.mark, qint64(1)); }});

    // 5 % of answers 1.8 s late, 2 % 800 ms: a late "A" taken for the next text's leaves a clock
    // without that text, unless the doubtful credit is confirmed (stale ends over 200 seeds).
    list.append({"1.8 s spikes: no stale ends",
                 [=](Simulation& sim) {
                     sim.mark = 0;
                     for (quint32 seed = 1; seed <= 200; ++seed) {
                         Simulation run;
                         lossy(run, seed, {{0.05, 1800}, {0.02, 800}});
                         for (int round = 0; round < 20; ++round) {
                             run.queueRound(Clock5, QString("r%1").arg(round));
                             run.runUntil(run.nowMs + 999);
                         }
                         run.runUntil(run.nowMs + 20000);
                         sim.mark += run.showsRound(Clock5, "r19") ? 0 : 1;
                     }
                 },
                 [](const Simulation& sim) { QCOMPARE(sim.mark, qint64(0)); }});

    // A 300 ms clock loses a first copy; the second's answer is an upper bound U. The next text
    // goes as the lost copy's window (the gap between the copies + U + 50 ms, 1 s at least)
    // closes, less the shortest answer and 50 ms.
    list.append({"the next text goes as the owed window is about to close",
                 [](Simulation& sim) {
                     sim.clocks[Clock5].answerDelayMs = 300;
                     sim.loseDatagram = [](const QString&, const QByteArray& data, int nth) {
                         return textOf(data) == "lost once" && nth == 1;
                     };
                     for (int i = 0; i < 12; ++i)
                         sim.queueText(Clock5, i % 5, QString("steady %1").arg(i));
                     sim.runUntil(9999);
                     sim.queueText(Clock5, 1, "lost once");
                     sim.queueText(Clock5, 2, "next");
                     sim.runUntil(16000);
                 },
                 [](const Simulation& sim) {
                     const QList<qint64> lost = sim.sendTimes(Clock5, ClockDatagram::build(1, "lost once"));
                     QCOMPARE(lost.size(), 2);
                     const qint64 upperBound = lost.at(1) + 300 - lost.at(0);
                     const qint64 window = qMax<qint64>(1000, lost.at(1) - lost.at(0) + upperBound + 50);
                     const qint64 next = lost.at(0) + window - (300 - 50);
                     QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(2, "next")), QList<qint64>{next});
                     // Later windows count U once: it is already the most that answer took.
                     QCOMPARE(sim.queue.timing(QHostAddress(Clock5)).answerWindowMs, qMax(1000.0, upperBound + 50.0));
                 }});

    // A first copy answered 1.2 s late, after the second's answer: that answer's upper bound
    // (over 600 ms) keeps the late one owed, not taken for the next text's (as 1 s would).
    list.append({"an answer after a retransmission is an upper bound",
                 [](Simulation& sim) {
                     sim.answerDelay = [](const QString&, const QByteArray& data, int nth) {
                         return textOf(data) == "late" && nth == 1 ? 1200 : 300;
                     };
                     for (int i = 0; i < 12; ++i)
                         sim.queueText(Clock5, i % 5, QString("steady %1").arg(i));
                     sim.runUntil(9999);
                     sim.queueText(Clock5, 0, "late");
                     sim.queueText(Clock5, 1, "next");
                     sim.queueText(Clock5, 2, "after");
                     sim.runUntil(16000);
                 },
                 [](const Simulation& sim) {
                     QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(0, "late")).size(), 2);
                     QCOMPARE(sim.clocks.value(Clock5).vars.value(2), QString("after"));
                 }});

    // 14, 15. Texts it missed reach a clock back after 20 s of silence with nothing queued
    // since (a probe, then the four others), and a text whose four copies were lost.
    list.append({"clock back after 20 s of silence",
                 [](Simulation& sim) {
                     sim.queueRound(Clock5, "before");
                     sim.runUntil(2000);
                     sim.clocks[Clock5].dead = true;
                     sim.queueRound(Clock5, "r");
                     sim.runUntil(22000);
                     sim.clocks[Clock5].dead = false;
                     sim.runUntil(60000);
                 },
                 [](const Simulation& sim) {
                     QVERIFY(sim.showsRound(Clock5, "r") && sim.loggedLines(true) == 1);
                     QCOMPARE(sim.queue.counters().resent, qint64(5));
                 }});
    list.append({"four lost copies, then answers",
                 [](Simulation& sim) {
                     sim.loseDatagram = [](const QString&, const QByteArray& data, int nth) {
                         return data.at(1) == 2 && nth <= 4;
                     };
                     sim.queueRound(Clock5, "r");
                     sim.runUntil(40000);
                 },
                 [](const Simulation& sim) {
                     QVERIFY(sim.showsRound(Clock5, "r") &&
                             sim.sendTimes(Clock5, ClockDatagram::build(2, "r v2")).size() == 5);
                 }});

    // 16. Taken out of both address lists while its texts are kept: nothing more is sent.
    list.append({"clock taken out of both lists while texts are kept",
                 [](Simulation& sim) {
                     sim.clocks[Clock5].dead = true;
                     sim.queueRound(Clock5, "r");
                     sim.runUntil(40000);
                     sim.mark = sim.queue.keptTexts();
                     sim.queue.forgetKeptTexts({QHostAddress("10.0.0.6")});
                     sim.clocks[Clock5].dead = false;
                     sim.runUntil(100000);
                 },
                 [](const Simulation& sim) { QVERIFY(sim.mark == 5 && sim.transmissions.last().at < 40000); }});

    // 17. A 1.5 s clock whose every text is superseded before its answer: measured within its
    // first five exchanges, two copies a text at most from then on.
    list.append({"1500 ms clock, every text superseded",
                 [](Simulation& sim) {
                     sim.clocks[Clock5].answerDelayMs = 1500;
                     for (int i = 0; i < 600; ++i) {
                         sim.queueText(Clock5, 0, QString("t%1").arg(i));
                         sim.runUntil(sim.nowMs + 99);
                         const RetransmitQueue::Counters counts = sim.queue.counters();
                         if (sim.mark < 0 && counts.samples > 0)
                             sim.mark = counts.acknowledged + counts.givenUp;  // exchanges so far
                     }
                 },
                 [](const Simulation& sim) {
                     QVERIFY2(sim.mark >= 0 && sim.mark <= 5, qPrintable(QString::number(sim.mark)));
                     QHash<QByteArray, int> sends;
                     for (const Simulation::Transmission& t : sim.transmissions)
                         QVERIFY(t.at < 30000 || ++sends[t.data] <= 2);
                 }});
    return list;
}

}  // namespace

class RetransmitQueueTest : public QObject
{
    Q_OBJECT

private slots:
    void issueScenarios_data()
    {
        QTest::addColumn<int>("index");
        const QList<Scenario> list = scenarios();
        for (int i = 0; i < list.size(); ++i)
            dataRow(list.at(i).name, i);
    }
    void issueScenarios()
    {
        QFETCH(int, index);
        const Scenario scenario = scenarios().at(index);
        Simulation sim;
        scenario.play(sim);
        scenario.check(sim);
        QVERIFY2(sim.wrongAcknowledgements.isEmpty(), qPrintable(sim.wrongAcknowledgements.join("; ")));
    }

    // Idle: no due moment at all. A silent clock's schedule, exactly:
    // 200/300/400/500, given up at 600, and the next record only once the
    // answers owed for the last transmissions can no longer come (4 s for a
    // clock never heard), at the interval doubled by the give-up; then the
    // probe, 30 s after the last transmission.
    void dueMomentsOfASilentClock()
    {
        Simulation sim;
        QCOMPARE(sim.queue.nextDueNs(), qint64(-1));
        sim.clocks[Clock5].dead = true;
        sim.queueText(Clock5, 0, "a");
        sim.queueText(Clock5, 1, "b");
        QList<qint64> wakeUps;
        while (sim.queue.size() > 0 && sim.nowMs < 10000) {
            const qint64 due = sim.queue.nextDueNs();
            QVERIFY(due >= 0);
            sim.nowMs = due / 1000000;
            wakeUps << sim.nowMs;
            sim.queue.service(3, [&sim](const udpQueueStruct& r) { sim.transmit(r); });
        }
        QCOMPARE(wakeUps, (QList<qint64>{200, 300, 400, 500, 600, 4500, 4700, 4900, 5100, 5300}));
        QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(0, "a")), (QList<qint64>{200, 300, 400, 500}));
        QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(1, "b")), (QList<qint64>{4500, 4700, 4900, 5100}));
        QCOMPARE(sim.queue.nextDueNs(), qint64(35100) * 1000000);
    }

    // A clock that answers a retransmission twice: the second answer is
    // absorbed, the next record goes out only after it (or its window).
    void lateDuplicateAnswerIsAbsorbed()
    {
        Simulation sim;
        sim.answerDelay = [](const QString&, const QByteArray& data, int nth) {
            return textOf(data) == "one" && nth == 1 ? 130 : 5;
        };
        sim.queueText(Clock5, 0, "one");
        sim.queueText(Clock5, 1, "two");
        sim.runUntil(2000);
        // "one" at 200 (answer at 330) and 300 (answer at 305): acknowledged
        // at 305; the answer at 330 pays the owed one; "two" goes at 330.
        QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(0, "one")), (QList<qint64>{200, 300}));
        QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(1, "two")), QList<qint64>{330});
        QCOMPARE(sim.queue.counters().absorbed, qint64(1));
        QCOMPARE(sim.queue.counters().acknowledged, qint64(2));
        QVERIFY(sim.wrongAcknowledgements.isEmpty());
    }

    void newerTextReplacesOneNotYetSentInItsPlace()
    {
        Simulation sim;
        sim.clocks[Clock5].dead = true;
        sim.queueText(Clock5, 0, "a old");
        sim.queueText(Clock5, 1, "b");
        sim.queueText(Clock5, 1, "b newer");
        sim.queueText(Clock5, 2, "c");
        QCOMPARE(sim.queue.size(), 3);
        QCOMPARE(sim.queue.counters().superseded, qint64(1));
        sim.clocks[Clock5].dead = false;
        sim.runUntil(2000);
        QList<QPair<int, QString>> expected{{0, "a old"}, {1, "b newer"}, {2, "c"}};
        QCOMPARE(sim.clocks.value(Clock5).received, expected);
    }

    // A text changed every 150 ms, faster than the 200 ms initial delay:
    // the replacing text keeps the replaced one's moment, so texts keep
    // going out while the changes go on (not only once they stop).
    void frequentlyChangedTextStillGoesOut()
    {
        Simulation sim;
        QHash<QString, int> order;
        for (int i = 0; i < 14; ++i) {
            const QString text = QString("t%1").arg(i);
            order.insert(text, i);
            sim.queueText(Clock5, 0, text);
            sim.runUntil(sim.nowMs + 149);
        }
        sim.runUntil(sim.nowMs + 1000);
        QList<qint64> firstSends;
        for (const Simulation::Transmission& t : sim.transmissions)
            firstSends << t.at;
        QCOMPARE(firstSends.first(), qint64(200));
        QVERIFY2(firstSends.size() >= 6, qPrintable(QString::number(firstSends.size())));
        QCOMPARE(sim.clocks.value(Clock5).vars.value(0), QString("t13"));
        QVERIFY(sim.receivedInOrder(Clock5, order));
        QVERIFY(sim.wrongAcknowledgements.isEmpty());
    }

    void clocksAreIndependent()
    {
        // One clock silent, the other answering: the answering one's records
        // go one after another, undisturbed.
        Simulation sim;
        sim.clocks["10.0.0.6"].dead = true;
        for (int v = 0; v < 5; ++v) {
            sim.queueText("10.0.0.6", v, QString("dead %1").arg(v));
            sim.queueText(Clock5, v, QString("live %1").arg(v));
        }
        sim.runUntil(400);
        QCOMPARE(sim.clocks.value(Clock5).vars.size(), 5);
        QVERIFY(sim.sendTimes(Clock5, ClockDatagram::build(4, "live 4")).value(0) <= 220);
    }

    // An older text already in flight when a newer one is queued finishes
    // its exchange: sent once more (the clock never answered), and the late answer is absorbed
    // rather than taken for the newer text's.
    void inFlightOlderTextFinishesAndIsNotResent()
    {
        Simulation sim;
        sim.answerDelay = [](const QString&, const QByteArray& data, int) { return textOf(data) == "old" ? 150 : 2; };
        sim.queueText(Clock5, 3, "old");
        sim.runUntil(249);
        sim.queueText(Clock5, 3, "new");
        sim.runUntil(2000);
        QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(3, "old")), (QList<qint64>{200, 300}));
        QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(3, "new")), QList<qint64>{450});
        QCOMPARE(sim.clocks.value(Clock5).vars.value(3), QString("new"));
        QVERIFY(sim.receivedInOrder(Clock5, {{"old", 0}, {"new", 1}}));
        QCOMPARE(sim.queue.counters().absorbed, qint64(1));
        QCOMPARE(sim.queue.counters().acknowledged, qint64(2));
        QVERIFY2(sim.wrongAcknowledgements.isEmpty(), qPrintable(sim.wrongAcknowledgements.join("; ")));
    }

    // What a clock's answers teach the link: six records, one every ten
    // seconds, to a clock that answers after `delay` ms; every other copy
    // of a text lost, from its first (so every answer is to a
    // retransmission, a confirming copy's too), or the last record lost
    // altogether.
    void learnedInterval_data()
    {
        QTest::addColumn<int>("delay");
        QTest::addColumn<bool>("firstCopiesLost");
        QTest::addColumn<bool>("lastRecordLost");
        QTest::addColumn<bool>("sampled");
        QTest::addColumn<int>("intervalMs");
        dataRow("fast clock: the retry interval", 2, false, false, true, 100);
        // Two ambiguous answers (200, 400 ms), then samples of 250 ms.
        dataRow("250 ms", 250, false, false, true, 460);
        // Learned past give-ups and ambiguous answers: 1500 + 4 x 750, at
        // most 2 s.
        dataRow("1500 ms", 1500, false, false, true, 2000);
        dataRow("after a give-up: doubled", 2, false, true, true, 200);
        dataRow("ambiguous answers are not measured", 2, true, false, false, 2000);
    }
    void learnedInterval()
    {
        QFETCH(int, delay);
        QFETCH(bool, firstCopiesLost);
        QFETCH(bool, lastRecordLost);
        QFETCH(bool, sampled);
        QFETCH(int, intervalMs);
        Simulation sim;
        sim.clocks[Clock5].answerDelayMs = delay;
        sim.loseDatagram = [&](const QString&, const QByteArray& data, int nth) {
            return (firstCopiesLost && nth % 2 == 1) || (lastRecordLost && textOf(data) == "t5");
        };
        for (int i = 0; i < 6; ++i) {
            sim.queueText(Clock5, i % 5, QString("t%1").arg(i));
            sim.runUntil(sim.nowMs + 10000);
        }
        const RetransmitQueue::ClockTiming timing = sim.queue.timing(QHostAddress(Clock5));
        QCOMPARE(timing.sampled, sampled);
        QCOMPARE(timing.intervalMs, intervalMs);
        // One record given up at most: never reported as not answering.
        QCOMPARE(sim.loggedLines(false), 0);
        QVERIFY(sim.wrongAcknowledgements.isEmpty());
    }

    void sameClockAddress_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        dataRow("equal IPv4", "192.168.1.20", "192.168.1.20", true);
        dataRow("different IPv4", "192.168.1.20", "192.168.1.21", false);
        dataRow("IPv4-mapped reply", "::ffff:192.168.1.20", "192.168.1.20", true);
        dataRow("IPv4-mapped other clock", "::ffff:192.168.1.21", "192.168.1.20", false);
        dataRow("both mapped", "::ffff:10.0.0.1", "::ffff:10.0.0.1", true);
        dataRow("plain IPv6 against unparsed", "::1", "not an address", false);
        dataRow("two unparsed addresses", "bad", "worse", false);
        dataRow("plain IPv6 pair", "fe80::1", "fe80::1", false);
    }
    void sameClockAddress()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QCOMPARE(::sameClockAddress(QHostAddress(a), QHostAddress(b)), same);
        QCOMPARE(::sameClockAddress(QHostAddress(b), QHostAddress(a)), same);
    }

    void clockAddressText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("usable");
        dataRow("IPv4", "10.0.0.7", true);
        dataRow("word", "clock-in-hall", false);
        dataRow("host name", "clock.example", false);
        dataRow("IPv6", "fe80::1", false);
        dataRow("empty (a part of spaces)", "", false);
        dataRow("out of range", "300.1.2.3", false);
        dataRow("last part out of range", "10.0.0.256", false);
        dataRow("highest", "255.255.255.255", true);
        dataRow("five parts", "10.0.0.7.1", false);
        dataRow("an empty part", "10..0.7", false);
        dataRow("spaces around", " 10.0.0.7 ", true);
        dataRow("leading zero", "10.0.0.07", true);
        dataRow("three parts", "10.0.7", true);
    }
    void clockAddressText()
    {
        QFETCH(QString, text);
        QFETCH(bool, usable);
        QCOMPARE(isClockAddressText(text), usable);
        // Read quickly or by QHostAddress, the same value.
        quint32 value = 0;
        QCOMPARE(clockAddressValue(text, &value), usable);
        if (usable)
            QCOMPARE(value, QHostAddress(text).toIPv4Address());
    }

    void recordForANonIPv4AddressIsRefused()
    {
        RetransmitQueue queue;
        QVERIFY(!queue.append(makeRecord("clock.example", 200, 100)));
        QVERIFY(!queue.append(makeRecord("fe80::1", 200, 100)));
        QVERIFY(queue.append(makeRecord("10.0.0.1", 200, 100)));
        QCOMPARE(queue.size(), 1);
        QCOMPARE(queue.counters().refused, qint64(2));
    }

    void acknowledgementFromUnknownSenderChangesNothing()
    {
        Simulation sim;
        sim.clocks[Clock5].dead = true;
        sim.queueText(Clock5, 0, "x", 0);
        sim.step();
        QVERIFY(!sim.queue.acknowledge(QHostAddress("::1")));
        QVERIFY(!sim.queue.acknowledge(QHostAddress()));
        QVERIFY(!sim.queue.acknowledge(QHostAddress("10.0.0.2")));
        QCOMPARE(sim.queue.size(), 1);
        QVERIFY(sim.queue.acknowledge(QHostAddress("::ffff:10.0.0.5")));
        QCOMPARE(sim.queue.size(), 0);
    }

    void schedule_data()
    {
        QTest::addColumn<int>("maxRetries");
        QTest::addColumn<int>("transmissions");
        dataRow("3 retries", 3, 4);
        dataRow("no retries", 0, 1);
        dataRow("1 retry", 1, 2);
    }
    void schedule()
    {
        QFETCH(int, maxRetries);
        QFETCH(int, transmissions);
        Simulation sim;
        sim.maxRetries = maxRetries;
        sim.clocks[Clock5].dead = true;
        sim.queueText(Clock5, 0, "x", 200, 100);
        sim.runUntil(2000);
        QList<qint64> expected;
        for (int i = 0; i < transmissions; ++i)
            expected << 200 + 100 * i;
        QCOMPARE(sim.sendTimes(Clock5, ClockDatagram::build(0, "x")), expected);
        QCOMPARE(sim.queue.counters().givenUp, qint64(1));
        QCOMPARE(sim.queue.counters().transmissions, qint64(transmissions));
    }

    void loweredRetryLimitAppliesToQueuedRecords()
    {
        Simulation sim;
        sim.clocks[Clock5].dead = true;
        sim.queueText(Clock5, 0, "x", 0, 10);
        sim.runUntil(10);
        QCOMPARE(sim.transmissions.size(), 2);
        sim.maxRetries = 1;
        sim.runUntil(100);
        QCOMPARE(sim.transmissions.size(), 2);
        QCOMPARE(sim.queue.size(), 0);
    }

    void intervalIsKeptPerRecord()
    {
        Simulation sim;
        sim.clocks[Clock5].dead = true;
        sim.queueText(Clock5, 0, "x", 0, 60000);
        sim.runUntil(5000);
        QCOMPARE(sim.transmissions.size(), 1);
        QCOMPARE(sim.queue.size(), 1);
    }

    void clearAbandonsEverything()
    {
        RetransmitQueue queue;
        for (int i = 0; i < 5; ++i)
            queue.append(makeRecord("10.0.0.1", 1000, 100, ClockDatagram::build(i, "x")));
        queue.clear();
        QCOMPARE(queue.size(), 0);
        QCOMPARE(queue.counters().abandoned, qint64(5));
        QVERIFY(!queue.acknowledge(QHostAddress("10.0.0.1")));
    }

    void concurrentUseKeepsEveryRecordAccountedFor()
    {
        // One thread appends, one services, this one acknowledges (real
        // time): every record ends acknowledged, given up or superseded,
        // exactly once.
        RetransmitQueue queue;
        constexpr int total = 20000;
        std::atomic<bool> appending{true};
        std::thread producer([&] {
            for (int i = 0; i < total; ++i)
                queue.append(makeRecord(QString("10.0.0.%1").arg(1 + i % 4), i % 2, 0,
                                        ClockDatagram::build(i % 7, QString::number(i))));
            appending = false;
        });
        // Services until the answers stop: an answer may queue kept texts
        // again after the queue was empty. Once all is queued, kept texts
        // are forgotten, so that the given-up ones stop coming back.
        std::atomic<bool> answering{true};
        std::thread walker([&] {
            while (answering)
                queue.service(2, [](const udpQueueStruct&) {});
        });
        QRandomGenerator random(7);
        while (appending || queue.size() > 0) {
            if (!appending)
                queue.forgetKeptTexts({});
            queue.acknowledge(QHostAddress(QString("10.0.0.%1").arg(1 + random.bounded(4))));
        }
        answering = false;
        producer.join();
        walker.join();
        const RetransmitQueue::Counters counts = queue.counters();
        QCOMPARE(counts.queued, qint64(total));
        // Confirming copies (not counted by size()) may still be in flight.
        const qint64 ended = counts.acknowledged + counts.givenUp + counts.superseded;
        QVERIFY(ended >= qint64(total) + counts.resent && ended <= qint64(total) + counts.resent + counts.confirmed);
        QCOMPARE(queue.size(), 0);
    }
};

CORVELTA_TEST_APPLESS_MAIN(RetransmitQueueTest)
#include "tst_retransmitqueue.moc"
