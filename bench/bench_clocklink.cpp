// Uses the clock port: binds UDP port 7372 (the link and substitute clocks).
//
// The clock link under load and on time:
//  0. The retransmit queue alone on a settable clock (no sockets): clocks
//     whose answers now and then come far later than usual, on a link
//     losing a tenth of the datagrams and of the answers; runs that credited
//     an answer to the wrong datagram or left the clock with an old text,
//     the confirming copies sent, the answers of a datagram sent early that
//     were taken for owed ones (each costs a resend), the time to an empty
//     queue; and a clock that dies after a minute of answering: how long
//     after its last answer it is reported as not answering.
//  1. Substitute clocks (127.0.0.2 upward; 100, 1,000 and 10,000 of them, or
//     the counts given as arguments) x 5 variables queued at once, every
//     datagram acknowledged at once: the time the queueing takes on the
//     calling thread, the time until the retransmit queue is empty, the
//     link's CPU per round and per clock, datagrams sent more than once (and
//     of those, the ones whose answer was already waiting for the link),
//     the link's socket calls per exchange, answers dropped at the link's
//     socket and the receive buffer granted.
//     One datagram is in flight per clock, so each clock's five exchanges
//     follow one another.
//  2. Clocks that never answer: when each of the four transmissions arrives
//     and when the record is given up, against the schedule of 200, 300,
//     400, 500 and 600 ms after queueing. One record per clock, the first
//     the link sends it.
// Prints Markdown tables. Loopback only.
//
//   bench_clocklink [CLOCKS...]     e.g. bench_clocklink 100 1000 10000
//   bench_clocklink queue           the queue alone (part 0)
//   bench_clocklink calls [CLOCKS]  five rounds of part 1 (1,000 clocks), then
//                                   the link thread's id and the exchanges
//                                   made, for counting its system calls
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QThread>
#include <QVector>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "clocklink/clockdatagram.h"
#include "clocklink/retransmitqueue.h"
#include "clocklink/udpcommthread.h"
#include "support/answeringclocks.h"
#include "support/clockportlock.h"

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

QHostAddress clockAddress(int i)  // 0 -> 127.0.0.2, 254 -> 127.0.1.0, ...
{
    return AnsweringClocks::address(i);
}

struct Stats
{
    double median = 0, p99 = 0, max = 0, min = 0;
    int count = 0;
};

Stats statsOf(QVector<double> values)
{
    Stats s;
    s.count = values.size();
    if (values.isEmpty())
        return s;
    std::sort(values.begin(), values.end());
    s.min = values.first();
    s.median = values[values.size() / 2];
    s.p99 = values[qMin(values.size() - 1, int(values.size() * 0.99))];
    s.max = values.last();
    return s;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(' ', 0, 2) : QString();
}

// ---- 0: the queue alone, answers late now and then

// How one simulated clock answers: `baseMs` late, or, for each listed
// share, that much later; each datagram and each answer lost with the share
// `loss`.
struct AnswerDelays
{
    int baseMs = 300;
    std::vector<std::pair<double, int>> spikes;  // (share of answers, delay)
    double loss = 0.1;

    int draw(QRandomGenerator& random) const
    {
        double unit = random.generateDouble();
        for (const auto& spike : spikes) {
            if (unit < spike.first)
                return spike.second;
            unit -= spike.first;
        }
        return baseMs;
    }
};

// One run of the queue with one clock on its settable clock (milliseconds).
struct QueueRun
{
    bool wrongCredit = false;
    bool stale = false;         // the clock does not end with the last texts queued
    double emptyAfterMs = 0;    // queue empty, after the last round was queued
    double sendsPerText = 0;    // transmissions per text queued
    qint64 confirming = 0;      // confirming copies queued
    qint64 ownAbsorbed = 0;     // answers of the record in flight taken for owed ones
    double silentAfterMs = -1;  // "not answering", after the clock's last answer
};

class QueueRunner
{
public:
    QueueRunner(quint32 seed, const AnswerDelays& delays)
        : random(seed)
        , delays(delays)
    {
        queue.setAcknowledgementObserver([this](const udpQueueStruct& record, const QByteArray& answer) {
            run.wrongCredit = run.wrongCredit || answer.mid(1) != record.data;
            inFlightCredited = inFlightCredited || record.data == inFlight;
        });
    }

    void queueRound(const QString& tag)
    {
        for (int v = 0; v < 5; ++v) {
            if (oneTextARound && v != roundsQueued % 5)
                continue;
            auto* record = new udpQueueStruct;
            record->data = ClockDatagram::build(v, QStringLiteral("%1 v%2").arg(tag).arg(v));
            record->length = record->data.size();
            record->addr = address;
            record->port = CLOCK_UDP_PORT;
            record->initialDelay = 200;
            record->interval = 100;
            last[v] = record->data;
            queue.append(record);  // may replace a waiting record with this one and delete it
        }
    }

    // Answers, the queue's service and its health until `untilMs`; rounds
    // queued every `everyMs` from now while `rounds` are left.
    void runUntil(qint64 untilMs, int rounds = 0, int everyMs = 1000)
    {
        qint64 nextRound = nowMs;
        while (nowMs <= untilMs) {
            for (size_t i = 0; i < answers.size();) {
                if (answers[i].first <= nowMs) {
                    const QByteArray answered = answers[i].second;
                    answers.erase(answers.begin() + long(i));
                    lastAnswerMs = nowMs;
                    const bool credited = queue.acknowledge(address, "A" + answered);
                    if (!credited && answered == inFlight && !inFlightCredited)
                        ++run.ownAbsorbed;
                } else {
                    ++i;
                }
            }
            if (rounds > 0 && nowMs >= nextRound) {
                queueRound(QStringLiteral("r%1").arg(roundsQueued++));
                lastRoundMs = nowMs;
                nextRound += everyMs;
                --rounds;
                emptyAt = -1;
            }
            queue.service(3, [this](const udpQueueStruct& record) { transmit(record); });
            if (emptyAt < 0 && queue.size() == 0)
                emptyAt = nowMs;
            for (const RetransmitQueue::HealthEvent& event : queue.takeHealthEvents()) {
                // Reported already before it died (two give-ups in a row
                // on the lossy link), and not answered since: that report.
                silentSinceMs = event.answering ? -1 : nowMs;
                if (dead && !event.answering && run.silentAfterMs < 0 && lastAnswerMs >= 0)
                    run.silentAfterMs = double(nowMs - lastAnswerMs);
            }
            // On to the next event: an answer, a round, something due.
            qint64 next = rounds > 0 ? nextRound : untilMs + 1;
            for (const auto& answer : answers)
                next = qMin(next, answer.first);
            const qint64 due = queue.nextDueNs();
            if (due >= 0)
                next = qMin(next, (due + 999999) / 1000000);
            nowMs = qMax(next, nowMs + 1);
        }
    }

    QueueRun finish()
    {
        if (dead && run.silentAfterMs < 0 && silentSinceMs >= 0 && lastAnswerMs >= 0)
            run.silentAfterMs = double(silentSinceMs - lastAnswerMs);
        for (int v = 0; v < 5; ++v)
            run.stale = run.stale || shown[v] != last[v];
        run.emptyAfterMs = double(emptyAt - lastRoundMs);
        const RetransmitQueue::Counters counts = queue.counters();
        run.sendsPerText = double(counts.transmissions) / qMax<qint64>(1, counts.queued);
        run.confirming = counts.confirmed;
        return run;
    }

    bool dead = false;
    bool oneTextARound = false;  // each round changes one variable, the five in turn

private:
    void transmit(const udpQueueStruct& record)
    {
        inFlight = record.data;
        inFlightCredited = false;
        if (dead || random.generateDouble() < delays.loss)
            return;
        shown[quint8(record.data.at(1)) % 5] = record.data;
        if (random.generateDouble() < delays.loss)
            return;
        answers.push_back({nowMs + delays.draw(random), record.data});
    }

    qint64 nowMs = 0;
    RetransmitQueue queue{[this] { return nowMs * 1000000; }};
    QRandomGenerator random;
    AnswerDelays delays;
    const QHostAddress address{QStringLiteral("10.0.0.5")};
    std::vector<std::pair<qint64, QByteArray>> answers;  // (arrival, datagram answered)
    QByteArray shown[5], last[5];
    QByteArray inFlight;
    bool inFlightCredited = false;
    int roundsQueued = 0;
    qint64 lastRoundMs = 0, emptyAt = -1, lastAnswerMs = -1, silentSinceMs = -1;
    QueueRun run;
};

// 20 rounds of five texts a second apart, then a minute with nothing queued.
QueueRun roundsRun(quint32 seed, const AnswerDelays& delays)
{
    QueueRunner runner(seed, delays);
    runner.runUntil(19000, 20, 1000);
    runner.runUntil(19000 + 60000);
    return runner.finish();
}

// A round of new texts every 500 ms for a minute (the five, or one of them
// in turn), then the clock dies while its texts go on changing for 30 s.
QueueRun deathRun(quint32 seed, const AnswerDelays& delays, bool oneTextARound)
{
    QueueRunner runner(seed, delays);
    runner.oneTextARound = oneTextARound;
    runner.runUntil(59999, 120, 500);
    runner.dead = true;
    runner.runUntil(60000 + 29999, 60, 500);
    return runner.finish();
}

void queueSimulation(int runs)
{
    struct Case
    {
        const char* name;
        AnswerDelays delays;
    };
    const std::vector<Case> cases = {
        {"steady 300 ms clock", {300, {}, 0.1}},
        {"steady 300 ms clock, nothing lost", {300, {}, 0}},
        {"steady 50 ms clock", {50, {}, 0.1}},
        {"steady 50 ms clock, nothing lost", {50, {}, 0}},
        {"300 ms clock, 2 % of answers at 800 ms", {300, {{0.02, 800}}, 0.1}},
        {"50 ms clock, 2 % of answers at 500 ms", {50, {{0.02, 500}}, 0.1}},
        {"300 ms clock, 10 % of answers at 900 ms", {300, {{0.1, 900}}, 0.1}},
        {"300 ms clock, 5 % of answers at 1.8 s", {300, {{0.05, 1800}}, 0.1}},
        {"300 ms clock, 5 % at 1.8 s, 2 % at 800 ms", {300, {{0.05, 1800}, {0.02, 800}}, 0.1}},
    };
    std::printf(
        "#### The queue alone: late answers on a lossy link (%d runs each, seeds 1-%d; 10 %% of "
        "datagrams and of answers lost unless said otherwise; 20 rounds of 5 texts a second "
        "apart)\n\n",
        runs, runs);
    std::printf(
        "| clock | runs with a wrong credit | runs ending stale | queue empty after the last round, "
        "median (ms) | sends per text, median | confirming copies (all runs) | answers of the datagram in "
        "flight absorbed, so sent again (all runs) |\n|---|---:|---:|---:|---:|---:|---:|\n");
    for (const Case& c : cases) {
        int wrong = 0, stale = 0;
        qint64 confirming = 0, ownAbsorbed = 0;
        QVector<double> empty, sends;
        for (int seed = 1; seed <= runs; ++seed) {
            const QueueRun run = roundsRun(quint32(seed), c.delays);
            wrong += run.wrongCredit ? 1 : 0;
            stale += run.stale ? 1 : 0;
            confirming += run.confirming;
            ownAbsorbed += run.ownAbsorbed;
            empty << run.emptyAfterMs;
            sends << run.sendsPerText;
        }
        std::printf("| %s | %d | %d | %.0f | %.3f | %lld | %lld |\n", c.name, wrong, stale, statsOf(empty).median,
                    statsOf(sends).median, confirming, ownAbsorbed);
    }
    std::printf("\n");

    const std::vector<Case> dying = {
        {"300 ms clock, 10 % of datagrams and of answers lost", {300, {}, 0.1}},
        {"300 ms clock, nothing lost", {300, {}, 0}},
    };
    std::printf(
        "#### The queue alone: a clock that dies (%d runs each; new texts every 500 ms, for a minute "
        "before and 30 s after)\n\n",
        runs);
    std::printf(
        "| before it dies | texts every 500 ms | \"not answering\" after its last answer, median (ms) | max (ms) | "
        "min (ms) | runs never reported |\n|---|---|---:|---:|---:|---:|\n");
    for (const Case& c : dying)
        for (const bool oneText : {false, true}) {
            QVector<double> silent;
            int never = 0;
            for (int seed = 1; seed <= runs; ++seed) {
                const QueueRun run = deathRun(quint32(seed), c.delays, oneText);
                if (run.silentAfterMs < 0)
                    ++never;
                else
                    silent << run.silentAfterMs;
            }
            const Stats s = statsOf(silent);
            std::printf("| %s | %s | %.0f | %.0f | %.0f | %d |\n", c.name,
                        oneText ? "one, the five in turn" : "all five", s.median, s.max, s.min, never);
        }
    std::printf("\n");
}

// ---- 1: acknowledged clocks, 100 / 1,000 / 10,000 of them

// The thread id of the link's worker thread, found in /proc: the thread
// carries its class name. Empty before the worker runs.
QString linkThreadId()
{
    QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "UDPCommThread")
            return tid;
    }
    return QString();
}

// CPU time the link's worker thread has used (ns), read from /proc.
qint64 linkCpuNs()
{
    QFile stat(QStringLiteral("/proc/self/task/%1/schedstat").arg(linkThreadId()));
    return stat.open(QIODevice::ReadOnly) ? stat.readAll().split(' ').value(0).toLongLong() : -1;
}

// Datagrams the kernel dropped at the link's socket (bound to every address
// on port 7372, so listed in /proc/net/udp6 with address 0 and port 1CCC).
qint64 linkSocketDrops()
{
    QFile table(QStringLiteral("/proc/self/net/udp6"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    qint64 drops = 0;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 12 && fields.at(1) == "00000000000000000000000000000000:1CCC")
            drops += fields.last().toLongLong();
    }
    return drops;
}

qint64 readNumberFile(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : -1;
}

struct SizeResult
{
    int clocks = 0;
    Stats queueing, empty, cpu;
    qint64 queued = 0, acknowledged = 0, transmissions = 0, givenUp = 0, superseded = 0;
    qint64 received = 0, drops = 0, buffer = 0, repeated = 0, socketCalls = 0, confirmed = 0;
    int unbound = 0;
    bool leftOver = false;
    int roundsResentOverOnePercent = 0, roundsWithGiveUps = 0;
    QString load;  // load average before the rounds
};

SizeResult acknowledgedClocks(int clockCount, int rounds)
{
    constexpr int Vars = 5;
    SizeResult result;
    result.clocks = clockCount;
    AnsweringClocks clocks(clockCount);
    result.unbound = clocks.unbound;
    QStringList addresses;
    for (int i = 0; i < clockCount; ++i)
        addresses << clockAddress(i).toString();

    QVector<double> queueing, emptyAfter, cpu;
    result.load = loadAverage();
    const auto before = commThread.GetUdpCounters();
    const qint64 dropsBefore = linkSocketDrops();
    const qint64 callsBefore = commThread.GetSocketCalls();
    for (int round = 0; round < rounds; ++round) {
        const auto roundBefore = commThread.GetUdpCounters();
        QStringList texts;
        for (int v = 0; v < Vars; ++v)
            texts << QStringLiteral("R%1 V%2 12 C").arg(round).arg(v);
        const qint64 cpuBefore = linkCpuNs();
        const Clock::time_point queued = Clock::now();
        for (int i = 0; i < clockCount; ++i)
            for (int v = 0; v < Vars; ++v)
                queueClockVar(addresses.at(i), v, texts.at(v));
        queueing << msBetween(queued, Clock::now());
        Clock::time_point empty;
        for (;;) {
            if (commThread.GetUdpQueueSize() == 0) {
                empty = Clock::now();
                break;
            }
            if (msBetween(queued, Clock::now()) > 60000) {
                result.leftOver = true;
                empty = Clock::now();
                break;
            }
            QThread::usleep(500);
        }
        emptyAfter << msBetween(queued, empty);
        QThread::msleep(200);  // the last answers are read
        cpu << (linkCpuNs() - cpuBefore) / 1e6;
        const auto roundAfter = commThread.GetUdpCounters();
        const qint64 resent =
            roundAfter.transmissions - roundBefore.transmissions - (roundAfter.queued - roundBefore.queued);
        result.roundsResentOverOnePercent += resent * 100 > roundAfter.queued - roundBefore.queued ? 1 : 0;
        result.roundsWithGiveUps += roundAfter.givenUp > roundBefore.givenUp ? 1 : 0;
    }
    const auto after = commThread.GetUdpCounters();
    result.queueing = statsOf(queueing);
    result.empty = statsOf(emptyAfter);
    result.cpu = statsOf(cpu);
    result.queued = after.queued - before.queued;
    result.acknowledged = after.acknowledged - before.acknowledged;
    result.transmissions = after.transmissions - before.transmissions;
    result.givenUp = after.givenUp - before.givenUp;
    result.superseded = after.superseded - before.superseded;
    result.confirmed = after.confirmed - before.confirmed;
    result.socketCalls = commThread.GetSocketCalls() - callsBefore;
    result.received = clocks.received;
    result.repeated = clocks.repeated;
    result.drops = linkSocketDrops() - dropsBefore;
    result.buffer = commThread.GetReceiveBufferSize();
    return result;
}

void printSizes(const std::vector<SizeResult>& results, int rounds)
{
    std::printf("#### Clocks x 5 variables queued at once, all acknowledged (median of %d rounds; min-max)\n\n",
                rounds);
    std::printf("| measure |");
    for (const SizeResult& r : results)
        std::printf(" %d clocks |", r.clocks);
    std::printf("\n|---|");
    for (size_t i = 0; i < results.size(); ++i)
        std::printf("---:|");
    std::printf("\n");
    auto row = [&](const char* name, Stats SizeResult::*field) {
        std::printf("| %s |", name);
        for (const SizeResult& r : results) {
            const Stats& s = r.*field;
            std::printf(" %.1f (%.1f-%.1f) |", s.median, s.min, s.max);
        }
        std::printf("\n");
    };
    row("queueing the round on the calling thread (ms)", &SizeResult::queueing);
    row("queue empty after queueing (ms)", &SizeResult::empty);
    row("link CPU per round (ms)", &SizeResult::cpu);
    std::printf("| link CPU per clock and round (us) |");
    for (const SizeResult& r : results)
        std::printf(" %.1f |", r.cpu.median * 1000 / qMax(1, r.clocks));
    std::printf("\n| load average before the rounds |");
    for (const SizeResult& r : results)
        std::printf(" %s |", qPrintable(r.load));
    std::printf("\n");
    auto countRow = [&](const char* name, auto SizeResult::*field) {
        std::printf("| %s |", name);
        for (const SizeResult& r : results)
            std::printf(" %lld |", qint64(r.*field));
        std::printf("\n");
    };
    countRow("datagrams queued", &SizeResult::queued);
    countRow("acknowledged", &SizeResult::acknowledged);
    countRow("transmissions", &SizeResult::transmissions);
    countRow("given up", &SizeResult::givenUp);
    countRow("confirming copies", &SizeResult::confirmed);
    countRow("sent again while the answer was waiting for the link", &SizeResult::repeated);
    std::printf("| sends per datagram |");
    for (const SizeResult& r : results)
        std::printf(" %.4f |", double(r.transmissions) / qMax<qint64>(1, r.queued));
    std::printf("\n");
    std::printf("| socket calls (send, receive) of the link per exchange, its own count |");
    for (const SizeResult& r : results)
        std::printf(" %.3f |", double(r.socketCalls) / qMax<qint64>(1, r.transmissions));
    std::printf("\n");
    countRow("rounds with more than 1 % sent twice", &SizeResult::roundsResentOverOnePercent);
    countRow("rounds with a datagram given up", &SizeResult::roundsWithGiveUps);
    countRow("datagrams the clocks received", &SizeResult::received);
    countRow("answers dropped at the link's socket", &SizeResult::drops);
    countRow("receive buffer granted (bytes)", &SizeResult::buffer);
    std::printf("\n");
    for (size_t i = 1; i < results.size(); ++i)
        std::printf("Link CPU per clock, %d against %d clocks: %.2fx.\n", results[i].clocks, results[i - 1].clocks,
                    (results[i].cpu.median / results[i].clocks) /
                        qMax(1e-9, results[i - 1].cpu.median / results[i - 1].clocks));
    if (results.size() > 2)
        std::printf("Link CPU per clock, %d against %d clocks: %.2fx.\n", results.back().clocks, results[1].clocks,
                    (results.back().cpu.median / results.back().clocks) /
                        qMax(1e-9, results[1].cpu.median / results[1].clocks));
    std::printf("\nKernel rmem_max: %lld bytes (Linux grants twice the size asked for, up to twice rmem_max).\n",
                readNumberFile("/proc/sys/net/core/rmem_max"));
    for (const SizeResult& r : results) {
        if (r.unbound)
            std::printf("**Warning:** %d of %d clocks could not bind their address.\n", r.unbound, r.clocks);
        if (r.leftOver)
            std::printf("**The queue did not empty within 60 s in some round of %d clocks.**\n", r.clocks);
    }
    std::printf("\n");
}

// ---- 2: silent clocks

// Beyond the answering clocks' addresses.
constexpr int SilentClockOffset = 20000;

// A clock that never answers, listening with a plain blocking socket on a
// thread of its own so that each arrival is stamped the moment it is read.
class SilentClock
{
public:
    struct Arrival
    {
        QByteArray data;
        Clock::time_point at;
    };

    explicit SilentClock(const QHostAddress& address)
    {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(CLOCK_UDP_PORT);
        a.sin_addr.s_addr = htonl(address.toIPv4Address());
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        reader = std::thread([this] { readLoop(); });
    }
    ~SilentClock()
    {
        stop = true;
        reader.join();
        ::close(fd);
    }

    std::vector<Arrival> takeArrivals()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return arrivals;
    }

    bool bound = false;

private:
    void readLoop()
    {
        char buffer[2048];
        while (!stop) {
            pollfd p = {fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            const Clock::time_point at = Clock::now();
            if (n <= 0)
                continue;
            std::lock_guard<std::mutex> lock(mutex);
            arrivals.push_back({QByteArray(buffer, int(n)), at});
        }
    }

    int fd = -1;
    std::atomic<bool> stop{false};
    std::thread reader;
    std::mutex mutex;
    std::vector<Arrival> arrivals;
};

void silentClocks(int datagrams, int spacingMs)
{
    // One record per clock, to clocks the link has never heard from: each
    // keeps the first record's schedule (a clock's later records wait out
    // the answers it may still owe, and a give-up doubles its interval).
    const int ClockCount = datagrams;
    std::vector<std::unique_ptr<SilentClock>> clocks;
    for (int i = 0; i < ClockCount; ++i) {
        clocks.push_back(std::make_unique<SilentClock>(clockAddress(SilentClockOffset + i)));
        if (!clocks.back()->bound)
            std::printf("**Warning:** silent clock %d could not bind.\n\n", i);
    }

    // Datagram k goes to clock k % 24 with the text "T<k>", queued every
    // spacingMs (not a multiple of the loop's 5 ms step, so the queueing
    // moments fall all over the loop's cycle). The give-up moments are seen
    // by polling the link's counters; records are given up in queue order.
    std::vector<Clock::time_point> queuedAt(datagrams);
    std::vector<Clock::time_point> givenUpAt;
    const qint64 givenUpBefore = commThread.GetUdpCounters().givenUp;
    qint64 seenGivenUp = 0;
    int next = 0;
    Clock::time_point nextQueue = Clock::now();
    const Clock::time_point start = nextQueue;
    while (seenGivenUp < datagrams && msBetween(start, Clock::now()) < datagrams * spacingMs + 5000.0) {
        const Clock::time_point now = Clock::now();
        if (next < datagrams && now >= nextQueue) {
            queuedAt[next] = Clock::now();
            queueClockVar(clockAddress(SilentClockOffset + next % ClockCount).toString(), 0,
                          QStringLiteral("T%1").arg(next));
            ++next;
            nextQueue += std::chrono::milliseconds(spacingMs);
        }
        const qint64 g = commThread.GetUdpCounters().givenUp - givenUpBefore;
        const Clock::time_point seen = Clock::now();
        while (seenGivenUp < g) {
            givenUpAt.push_back(seen);
            ++seenGivenUp;
        }
        QThread::usleep(100);
    }

    QVector<double> errors[4];
    QVector<double> giveUpErrors;
    int missing = 0, extra = 0;
    for (int c = 0; c < ClockCount; ++c) {
        std::vector<std::vector<Clock::time_point>> byDatagram(datagrams);
        for (const SilentClock::Arrival& a : clocks[c]->takeArrivals()) {
            // 0xBE, variable, text, 0x00
            const int k = QString::fromUtf8(a.data.mid(2, a.data.size() - 3)).mid(1).toInt();
            if (k >= 0 && k < datagrams)
                byDatagram[k].push_back(a.at);
        }
        for (int k = c; k < datagrams; k += ClockCount) {
            const auto& times = byDatagram[k];
            if (times.size() < 4)
                missing += int(4 - times.size());
            if (times.size() > 4)
                extra += int(times.size() - 4);
            for (int t = 0; t < int(qMin<size_t>(times.size(), 4)); ++t)
                errors[t] << msBetween(queuedAt[k], times[t]) - (200 + 100 * t);
        }
    }
    for (int k = 0; k < int(givenUpAt.size()) && k < datagrams; ++k)
        giveUpErrors << msBetween(queuedAt[k], givenUpAt[k]) - 600;

    std::printf(
        "#### Never-acknowledged datagrams: lateness against the schedule (%d datagrams, one queued "
        "every %d ms, to %d silent clocks)\n\n",
        datagrams, spacingMs, ClockCount);
    std::printf("| event | scheduled (ms) | samples | median (ms) | p99 (ms) | max (ms) | min (ms) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
    QVector<double> allTransmissions;
    for (int t = 0; t < 4; ++t) {
        const Stats s = statsOf(errors[t]);
        allTransmissions += errors[t];
        std::printf("| transmission %d | %d | %d | %+.2f | %+.2f | %+.2f | %+.2f |\n", t + 1, 200 + 100 * t, s.count,
                    s.median, s.p99, s.max, s.min);
    }
    const Stats all = statsOf(allTransmissions);
    std::printf("| all transmissions | | %d | %+.2f | %+.2f | %+.2f | %+.2f |\n", all.count, all.median, all.p99,
                all.max, all.min);
    const Stats g = statsOf(giveUpErrors);
    std::printf("| give-up (record leaves the queue) | 600 | %d | %+.2f | %+.2f | %+.2f | %+.2f |\n\n", g.count,
                g.median, g.p99, g.max, g.min);
    std::printf(
        "Transmissions missing %d, beyond four %d. Give-up moments are seen by polling the queue's "
        "counters every ~0.1 ms.\n\n",
        missing, extra);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode != "calls")
        queueSimulation(200);
    if (mode == "queue")
        return 0;  // the queue alone
    ClockPortLock lock;
    commThread.start(QThread::NormalPriority);
    // As the main window sets them.
    commThread.SetRetryParameters(3, 100);

    // Ten thousand clocks need as many descriptors, and a few more.
    rlimit files = {};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 10500) {
        files.rlim_cur = qMin<rlim_t>(files.rlim_max, 11000);
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    if (mode == "calls") {
        // For ./bench.sh, which counts the system calls of the link's
        // thread with strace: that thread's id and the exchanges made (the
        // datagrams acknowledged).
        // The id first; the rounds begin once a line comes on standard
        // input (strace has attached to the thread).
        const int clocks = argc > 2 ? qMax(1, QByteArray(argv[2]).toInt()) : 1000;
        std::printf("link thread %s\n", qPrintable(linkThreadId()));
        std::fflush(stdout);
        char line[16];
        if (!std::fgets(line, sizeof line, stdin))
            return 1;
        const SizeResult result = acknowledgedClocks(clocks, 5);
        std::printf("exchanges %lld\ntransmissions %lld\nown count %lld\nload %s\n", result.acknowledged,
                    result.transmissions, result.socketCalls, qPrintable(result.load));
        commThread.StopThread();
        return 0;
    }
    QVector<int> sizes;
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]).toInt() > 0)
            sizes << QByteArray(argv[i]).toInt();
    if (sizes.isEmpty())
        sizes = {100, 1000, 10000};
    constexpr int Rounds = 10;
    std::vector<SizeResult> results;
    for (int clocks : sizes)
        results.push_back(acknowledgedClocks(clocks, Rounds));
    printSizes(results, Rounds);
    silentClocks(120, 37);

    commThread.StopThread();
    return 0;
}
