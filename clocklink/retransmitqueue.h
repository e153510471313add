#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <functional>
#include <mutex>

// One clock datagram waiting for its acknowledgement.
struct udpQueueStruct
{
    QByteArray data;
    int length = 0;
    QHostAddress addr;
    int port = 0;
    int retries = 0;
    bool firstSendPending = false;
    QElapsedTimer timer;  // started at queueing; the whole schedule counts from it
    int initialDelay = 0;
    int interval = 0;
};

// True when both addresses name the same IPv4 clock. The program's socket is
// dual-stack, so a clock's reply arrives from ::ffff:a.b.c.d while the record
// holds a.b.c.d. An address without an IPv4 value (null, or plain IPv6) is
// never a clock, so it matches nothing, not even another such address.
bool sameClockAddress(const QHostAddress& a, const QHostAddress& b);

// The datagrams that wait for a clock's acknowledgement, oldest first. The
// application thread appends, the comm thread walks the schedule and applies
// acknowledgements; one mutex guards the list for each whole walk. It is a
// standard mutex, which the thread checker sees, unlike Qt's own locks.
class RetransmitQueue
{
public:
    // What has happened to the records since the queue was made.
    struct Counters
    {
        qint64 queued = 0;
        qint64 acknowledged = 0;
        qint64 givenUp = 0;
        qint64 abandoned = 0;  // dropped by clear()
        qint64 transmissions = 0;
    };

    // Writes one record's datagram; called with the queue locked, so it must
    // not call back into the queue.
    using Transmit = std::function<void(const udpQueueStruct&)>;

    RetransmitQueue() = default;
    RetransmitQueue(const RetransmitQueue&) = delete;
    RetransmitQueue& operator=(const RetransmitQueue&) = delete;
    ~RetransmitQueue();

    // Takes ownership of the record.
    void append(udpQueueStruct* record);

    // One pass over every record: the first transmission once the initial
    // delay has passed, then one retry tick per interval (tick k due at
    // initialDelay + k * interval after queueing); a record whose retry
    // count exceeds maxRetries is dropped without being sent again.
    void service(int maxRetries, const Transmit& transmit);

    // Removes the oldest record for the clock that sent an acknowledgement.
    // Returns whether one was removed.
    bool acknowledge(const QHostAddress& sender);

    // Drops every record still waiting (the link has stopped).
    void clear();

    int size() const;
    Counters counters() const;

private:
    mutable std::mutex mutex;
    QList<udpQueueStruct*> records;
    Counters counts;
};
