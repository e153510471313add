// Uses the clock port: binds UDP port 7372 (the link and substitute clocks).
//
// The clock link under load and on time:
//  1. 100 substitute clocks (127.0.0.2 .. 127.0.0.101) x 5 variables queued
//     at once, every datagram acknowledged: time until the retransmit queue
//     is empty. One datagram is in flight per clock, so each clock's five
//     exchanges follow one another.
//  2. Clocks that never answer: when each of the four transmissions arrives
//     and when the record is given up, against the schedule of 200, 300,
//     400, 500 and 600 ms after queueing. Enough clocks that each has one
//     record at a time (a clock's next record waits for the one before).
// Prints Markdown tables. Loopback only.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
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
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "clocklink/clockdatagram.h"
#include "support/clockportlock.h"
#include "clocksim/simulatedclock.h"
#include "clocklink/udpcommthread.h"

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

QHostAddress clockAddress(int i)  // 0 -> 127.0.0.2
{
    return QHostAddress(QStringLiteral("127.0.0.%1").arg(i + 2));
}

// What SendClockVar queues: the datagram, port 7372, queued, 200 ms initial
// delay, no extra interval.
void queueClockVar(const QHostAddress& address, int var, const QString& text)
{
    const QByteArray datagram = ClockDatagram::build(var, text);
    commThread.SendUDP(datagram, datagram.size(), address, CLOCK_UDP_PORT, true, 200, 0);
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

// ---- 1: acknowledged clocks

void acknowledgedClocks(int rounds)
{
    constexpr int ClockCount = 100;
    constexpr int Vars = 5;

    // The substitute clocks answer from a thread of their own, so their
    // answers are not held up by this thread's polling.
    QThread clockThread;
    clockThread.start();
    QObject holder;
    holder.moveToThread(&clockThread);
    QVector<SimulatedClock*> clocks;
    bool allBound = true;
    QMetaObject::invokeMethod(&holder, [&] {
        for (int i = 0; i < ClockCount; ++i) {
            auto* c = new SimulatedClock(clockAddress(i), CLOCK_UDP_PORT, &holder);
            allBound = c->bind() && allBound;
            clocks << c;
        }
    }, Qt::BlockingQueuedConnection);
    if (!allBound)
        std::printf("**Warning:** not every substitute clock could bind its address.\n\n");

    QVector<double> emptyAfter;
    const auto before = commThread.GetUdpCounters();
    bool leftOver = false;
    for (int round = 0; round < rounds; ++round) {
        const Clock::time_point queued = Clock::now();
        for (int i = 0; i < ClockCount; ++i)
            for (int v = 0; v < Vars; ++v)
                queueClockVar(clockAddress(i), v, QStringLiteral("R%1 V%2 12 C").arg(round).arg(v));
        Clock::time_point empty;
        for (;;) {
            if (commThread.GetUdpQueueSize() == 0) {
                empty = Clock::now();
                break;
            }
            if (msBetween(queued, Clock::now()) > 10000) {
                leftOver = true;
                empty = Clock::now();
                break;
            }
            QThread::usleep(200);
        }
        emptyAfter << msBetween(queued, empty);
        QThread::msleep(300);  // late duplicates settle before the next round
    }
    const auto after = commThread.GetUdpCounters();

    int arrivals = 0;
    QMetaObject::invokeMethod(&holder, [&] {
        for (SimulatedClock* c : clocks)
            arrivals += c->arrivals.size();
        qDeleteAll(clocks);
    }, Qt::BlockingQueuedConnection);
    clockThread.quit();
    clockThread.wait();

    const Stats s = statsOf(emptyAfter);
    std::printf("#### 100 clocks x 5 variables queued at once, all acknowledged (%d rounds)\n\n", rounds);
    std::printf("| measure | min | median | max |\n|---|---:|---:|---:|\n");
    std::printf("| time until the queue is empty (ms) | %.1f | %.1f | %.1f |\n", s.min, s.median, s.max);
    std::printf("| of which after the first transmission at 200 ms (ms) | %.1f | %.1f | %.1f |\n\n",
                s.min - 200, s.median - 200, s.max - 200);
    std::printf("Datagrams queued %lld, acknowledged %lld, given up %lld, transmissions %lld; "
                "datagrams the clocks received %d%s.\n\n",
                after.queued - before.queued, after.acknowledged - before.acknowledged,
                after.givenUp - before.givenUp, after.transmissions - before.transmissions, arrivals,
                leftOver ? "; **the queue did not empty within 10 s in some round**" : "");
}

// ---- 2: silent clocks

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
    // A clock gets a record every ClockCount * spacingMs (24 * 37 = 888 ms),
    // after its previous one has been given up (600 ms) and its owed answers
    // have run out (700 ms), so every record keeps its own schedule.
    constexpr int ClockCount = 24;
    std::vector<std::unique_ptr<SilentClock>> clocks;
    for (int i = 0; i < ClockCount; ++i) {
        clocks.push_back(std::make_unique<SilentClock>(clockAddress(i)));
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
            queueClockVar(clockAddress(next % ClockCount), 0,
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

    std::printf("#### Never-acknowledged datagrams: lateness against the schedule (%d datagrams, one queued "
                "every %d ms, to %d silent clocks)\n\n",
                datagrams, spacingMs, ClockCount);
    std::printf("| event | scheduled (ms) | samples | median (ms) | p99 (ms) | max (ms) | min (ms) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
    QVector<double> allTransmissions;
    for (int t = 0; t < 4; ++t) {
        const Stats s = statsOf(errors[t]);
        allTransmissions += errors[t];
        std::printf("| transmission %d | %d | %d | %+.2f | %+.2f | %+.2f | %+.2f |\n", t + 1, 200 + 100 * t,
                    s.count, s.median, s.p99, s.max, s.min);
    }
    const Stats all = statsOf(allTransmissions);
    std::printf("| all transmissions | | %d | %+.2f | %+.2f | %+.2f | %+.2f |\n", all.count, all.median,
                all.p99, all.max, all.min);
    const Stats g = statsOf(giveUpErrors);
    std::printf("| give-up (record leaves the queue) | 600 | %d | %+.2f | %+.2f | %+.2f | %+.2f |\n\n", g.count,
                g.median, g.p99, g.max, g.min);
    std::printf("Transmissions missing %d, beyond four %d. Give-up moments are seen by polling the queue's "
                "counters every ~0.1 ms.\n\n",
                missing, extra);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ClockPortLock lock;
    commThread.start(QThread::NormalPriority);
    // As the main window sets them.
    commThread.SetRetryParameters(3, 100);

    acknowledgedClocks(10);
    silentClocks(300, 37);

    commThread.StopThread();
    return 0;
}
