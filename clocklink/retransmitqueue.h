#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <functional>
#include <mutex>
#include <vector>

// One clock datagram waiting for its acknowledgement.
struct udpQueueStruct
{
    QByteArray data;
    int length = 0;
    QHostAddress addr;
    int port = 0;
    int retries = 0;
    bool firstSendPending = false;
    QElapsedTimer timer;  // started at queueing (kept for the record's readers)
    int initialDelay = 0;
    int interval = 0;

    // Kept by the queue, on its own clock (nanoseconds).
    qint64 queuedAtNs = 0;
    qint64 lastSentNs = 0;
    QList<qint64> sentAtNs;   // every transmission of this record
    int variable = -1;        // the clock variable a clock datagram changes, -1 for any other
    bool superseded = false;  // in flight while a newer text for its variable waits
};

// True when both addresses name the same IPv4 clock. The program's socket is
// dual-stack, so a clock's reply arrives from ::ffff:a.b.c.d while the record
// holds a.b.c.d. An address without an IPv4 value (null, or plain IPv6) is
// never a clock, so it matches nothing, not even another such address.
bool sameClockAddress(const QHostAddress& a, const QHostAddress& b);

// Whether a clock address text is a plain IPv4 address ("10.0.0.7"): the only
// kind of address the clock link sends to.
bool isClockAddressText(const QString& text);

// The datagrams that wait for a clock's acknowledgement, oldest first, with
// these rules:
//
// - One datagram in flight per clock. A record is first transmitted only
//   once every older record for its clock has been acknowledged, given up or
//   dropped as superseded, so an "A" answers the one datagram in flight.
// - Late duplicate answers are absorbed. Every transmission of a finished
//   record that has not been answered yet leaves an answer "owed" by the
//   clock until answerWindow after that transmission. The next record of the
//   clock is not transmitted while any answer is owed, and an "A" that
//   arrives while one is owed pays it off instead of acknowledging anything.
// - A newer text supersedes an older one: queueing a record for the same
//   clock and variable as a record not yet transmitted replaces that record
//   (in its place in the order, due when it was due); a record already in
//   flight is not sent
//   again and leaves the queue at its next retry moment, unless its answer
//   comes first.
// - No bursts: a retransmission is due one interval after the record's
//   previous transmission (not after its queueing), and the record is given
//   up one interval after its last retransmission.
// - Health: the queue notes when a clock stops answering (a record given up,
//   and the clock was not already known to be silent) and when it answers
//   (an acknowledgement); takeHealthEvents() hands the changes over.
//
// The queue keeps no timer: it reads its clock (settable, for tests) and says
// when it next needs to be serviced. The application thread appends, the
// comm thread services it and applies acknowledgements; one standard mutex
// (which the thread checker sees, unlike Qt's own locks) guards everything.
class RetransmitQueue
{
public:
    // What has happened to the records since the queue was made.
    struct Counters
    {
        qint64 queued = 0;
        qint64 acknowledged = 0;
        qint64 givenUp = 0;
        qint64 abandoned = 0;   // dropped by clear()
        qint64 transmissions = 0;
        qint64 superseded = 0;  // replaced or dropped for a newer text of the same variable
        qint64 absorbed = 0;    // late duplicate "A"s that acknowledged nothing
        qint64 strays = 0;      // "A"s from a clock with nothing in flight and nothing owed
        qint64 refused = 0;     // records for an address that is not an IPv4 address
    };

    // A clock started or stopped answering. `logged` is true for the changes
    // the operator is told of: stopped answering, and answering again after
    // that (not the first answer of a clock never known to be silent).
    struct HealthEvent
    {
        QHostAddress clock;
        bool answering = false;
        bool logged = false;
    };

    // Writes one record's datagram; called with the queue locked, so it must
    // not call back into the queue.
    using Transmit = std::function<void(const udpQueueStruct&)>;
    // Monotonic time in nanoseconds.
    using ClockSource = std::function<qint64()>;

    explicit RetransmitQueue(ClockSource clock = ClockSource());
    RetransmitQueue(const RetransmitQueue&) = delete;
    RetransmitQueue& operator=(const RetransmitQueue&) = delete;
    ~RetransmitQueue();

    // Takes ownership of the record and stamps it with the queue's clock. A
    // record whose address is not an IPv4 address is refused (deleted at
    // once); returns false then.
    bool append(udpQueueStruct* record);

    // Everything that is due now: first transmissions, retransmissions,
    // give-ups and superseded records leaving.
    void service(int maxRetries, const Transmit& transmit);

    // An "A" from `sender`: acknowledges the record in flight for that clock,
    // unless an answer is still owed for an earlier transmission (then the
    // "A" is absorbed). Returns whether a record was acknowledged.
    // `payload` is the whole answer, for the observer.
    bool acknowledge(const QHostAddress& sender, const QByteArray& payload = QByteArray());

    // For tests: called (with the queue locked) with every record that an
    // answer acknowledges, and the answer's bytes.
    using AcknowledgementObserver = std::function<void(const udpQueueStruct&, const QByteArray&)>;
    void setAcknowledgementObserver(AcknowledgementObserver observer);

    // The moment (on the queue's clock) service() next has work, or -1 when
    // nothing is waiting for time to pass.
    qint64 nextDueNs() const;
    qint64 now() const { return clock(); }

    // How long a clock may take to answer one transmission; while an answer
    // is owed, the clock's next record waits. 0: twice the record's interval.
    void setAnswerWindow(int msecs);

    // Health changes since the last call, oldest first.
    std::vector<HealthEvent> takeHealthEvents();

    // Drops every record still waiting (the link has stopped); the clocks'
    // health is kept.
    void clear();

    int size() const;
    Counters counters() const;

private:
    struct ClockState
    {
        QList<qint64> owedUntilNs;  // one entry per answer still owed
        enum Health { Unknown, Answering, Silent } health = Unknown;
    };

    qint64 windowNs(const udpQueueStruct& record) const;
    void expireOwed(ClockState& state, qint64 now);
    // Ends the record at index i (acknowledged, given up or superseded):
    // its unanswered transmissions become owed answers. `answered` says
    // whether one of them was answered.
    void finish(int i, bool answered, qint64 now);
    void noteHealth(const QHostAddress& clock, ClockState& state, bool answering);
    void transmitRecord(udpQueueStruct& record, qint64 now, const Transmit& transmit);

    ClockSource clock;
    mutable std::mutex mutex;
    QList<udpQueueStruct*> records;
    QHash<quint32, ClockState> clocks;
    std::vector<HealthEvent> healthEvents;
    Counters counts;
    int answerWindowMs = 0;
    AcknowledgementObserver observer;
};
