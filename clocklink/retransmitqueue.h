#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <array>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "clocklink/clocklinkevent.h"

// One clock datagram waiting for its acknowledgement.
struct udpQueueStruct
{
    QByteArray data;
    int length = 0;
    QHostAddress addr;
    quint32 ipv4 = 0;  // addr's IPv4 value, set by the queue
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
    bool probe = false;       // a kept text sent once to find out whether its clock is back
    bool confirming = false;  // a text credited doubtfully, sent once more to make sure the clock has it
};

// True when both addresses name the same IPv4 clock. The program's socket is
// dual-stack, so a clock's reply arrives from ::ffff:a.b.c.d while the record
// holds a.b.c.d. An address without an IPv4 value (null, or plain IPv6) is
// never a clock, so it matches nothing, not even another such address.
bool sameClockAddress(const QHostAddress& a, const QHostAddress& b);

// Whether a clock address text is a plain IPv4 address ("10.0.0.7"): the only
// kind of address the clock link sends to.
bool isClockAddressText(const QString& text);
// The same, with the address's value. A plain dotted quad is read without
// QHostAddress's parser (a round to a thousand clocks reads five thousand);
// any other text goes through it.
bool clockAddressValue(const QString& text, quint32* ipv4);

// The datagrams that wait for a clock's acknowledgement, with these rules:
//
// - One datagram in flight per clock. A clock's records go out in the order
//   they were queued, each only once the one before it has been
//   acknowledged, given up or dropped as superseded, so an "A" answers the
//   one datagram in flight.
// - Each clock's timing is learned from its answers. An answer to a record
//   transmitted once is a sample of the clock's answer time. One to a
//   retransmitted record is ambiguous: it is not a sample, but the time from
//   the record's first copy (at most MaxIntervalMs) is an upper bound of it.
//   The clock's retransmission interval is the smoothed answer time plus
//   four times its smoothed variation, at least the record's own interval
//   and at most MaxIntervalMs; an ambiguous answer or a give-up doubles it
//   (within the same bounds) until the next sample. A clock not sampled yet
//   uses the record's interval.
// - Late duplicate answers are absorbed. Every transmission of a finished
//   record that has not been answered leaves an answer "owed" by the clock
//   for the answer window, and an "A" that arrives while one is owed pays
//   the earliest of them off instead of acknowledging anything. The window
//   is built from what the clock's last ObservedAnswers answers showed:
//   samples, and upper bounds (an answer after a retransmission: the time
//   since the first copy; an absorbed answer: the time since the copy it
//   paid for). It is twice the largest sample or the largest bound,
//   whichever is more, plus AnswerWindowMarginMs, at least
//   MinAnswerWindowMs (twice MaxIntervalMs while the clock has no sample):
//   an answer a few times slower than the clock's usual one, or as slow as
//   any it may have taken lately, is still owed when it comes, and a lossy
//   stretch long past no longer holds the clock back. A bound counts once:
//   it is already the most that answer can have taken. After an answer to a
//   retransmission the earliest copy owes its answer for the gap between
//   the copies more, so the window covers whichever copy was answered.
// - The clock's next record goes out once the last owed window is about to
//   close: at its close less the shortest of the clock's last
//   ObservedAnswers samples (less EarlySendMarginMs). Its own answer cannot
//   come before the windows close; should it come sooner than ever seen, it
//   is absorbed, which costs a retransmission, never a wrong credit.
// - A doubtful credit is confirmed. An answer credited within DoubtSpanMs
//   (or twice the answer window, if longer) after an owed window closed
//   unpaid may be that answer, later than any window allowed. Once nothing
//   of the clock's is waiting, in flight or owed, the newest text of each
//   variable credited so is sent once more (a confirming copy, not counted
//   by size()), unless a newer text of its variable is waiting, in flight or
//   kept. A confirming copy goes only once a credit would no longer be
//   doubtful, so no late answer can pay for it: it is the text's last
//   chance. Its own answer is credited as usual and never leads to another.
// - A newer text supersedes an older one: queueing a record for the same
//   clock and variable as a record not yet transmitted replaces that record
//   (in its place in the order, due when it was due). A record already in
//   flight is not sent again and leaves the queue at its next retry moment,
//   unless its answer comes first; leaving with two or more unanswered
//   copies counts as a give-up. Should it have gone out only once while the
//   clock's previous record also went unanswered (or the clock has not
//   answered yet), it is sent a second time first: one lost copy tells
//   nothing, but a dead clock whose texts keep changing must be noticed, and
//   a slow one must back off until it can be measured.
// - No bursts: a retransmission is due one interval after the record's
//   previous transmission (not after its queueing), and the record is given
//   up one interval after its last retransmission.
// - Given-up texts are kept: the record of a clock variable given up stays
//   that clock's newest text for the variable until a newer one is queued or
//   forgetKeptTexts() drops it. At the clock's next answer the kept texts
//   are queued again, in variable order; while nothing else is waiting for
//   the clock, one kept text is sent once (a probe) at most every
//   ProbeIntervalMs after the clock's last transmission, to find out
//   whether it is back. Kept texts and probes are not counted by size().
// - Health: a clock stops answering when two of its records in a row have
//   been given up, and answers again at its next "A"; takeHealthEvents()
//   hands the changes over.
//
// Cost per clock is flat: records are kept per clock, and the clocks with
// something waiting are indexed by their next due moment, so queueing,
// crediting an "A" and finding the next due moment do not depend on the
// number of clocks.
//
// The queue keeps no timer: it reads its clock (settable, for tests) and says
// when it next needs to be serviced. The application thread appends, the
// comm thread services it and applies acknowledgements; one standard mutex
// (which the thread checker sees, unlike Qt's own locks) guards everything.
class RetransmitQueue
{
public:
    // The longest retransmission interval a clock's timing can lead to.
    static constexpr int MaxIntervalMs = 2000;
    // The shortest time an unanswered copy's answer stays owed: an answer up
    // to this late, slower than any the clock has shown, is still absorbed.
    static constexpr int MinAnswerWindowMs = 1000;
    // Added to twice the slowest recent answer (or its largest bound): the
    // answer window.
    static constexpr int AnswerWindowMarginMs = 50;
    // How many of a clock's latest answers its answer window and its early
    // sends are built from.
    static constexpr int ObservedAnswers = 32;
    // The next record goes this much later than the shortest recent answer
    // would allow.
    static constexpr int EarlySendMarginMs = 50;
    // A credit this soon after an owed window closed unpaid (or within twice
    // the answer window) is doubtful.
    static constexpr int DoubtSpanMs = 4000;
    // A clock with kept texts and nothing waiting is probed this long after
    // its last transmission.
    static constexpr int ProbeIntervalMs = 30000;

    // What has happened to the records since the queue was made.
    struct Counters
    {
        qint64 queued = 0;
        qint64 acknowledged = 0;
        qint64 givenUp = 0;
        qint64 abandoned = 0;        // dropped by clear()
        qint64 transmissions = 0;    // every copy sent
        qint64 retransmissions = 0;  // copies after a record's first
        qint64 superseded = 0;       // replaced or dropped for a newer text of the same variable
        qint64 absorbed = 0;         // late duplicate "A"s that acknowledged nothing
        qint64 strays = 0;           // "A"s from a clock with nothing in flight and nothing owed
        qint64 refused = 0;          // records for an address that is not an IPv4 address
        qint64 samples = 0;          // answers that measured a clock's answer time
        qint64 resent = 0;           // kept texts queued again, and probes
        qint64 confirmed = 0;        // confirming copies of doubtfully credited texts queued
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

    // What the queue has learned of one clock's timing (milliseconds).
    struct ClockTiming
    {
        bool sampled = false;        // an answer time has been measured
        double smoothedMs = 0;       // smoothed answer time
        double variationMs = 0;      // its smoothed variation
        double slowestRecentMs = 0;  // the largest of the last ObservedAnswers observations
        double fastestRecentMs = 0;  // the shortest of the last ObservedAnswers samples
        double answerWindowMs = 0;   // how long an unanswered copy's answer is owed now
        int intervalMs = 0;          // retransmission interval now; 0: the record's own
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
    // once); returns false then. `earliest`, when given, tells whether the
    // queue's next due moment came forward (whoever services the queue
    // must look again sooner than it planned).
    bool append(udpQueueStruct* record, bool* earliest = nullptr);

    // What is due now: first transmissions, retransmissions, give-ups and
    // superseded records leaving, at most `maxTransmissions` transmissions
    // (-1: no limit). Returns whether something due is left for another
    // call, so the caller can read answers in between.
    bool service(int maxRetries, const Transmit& transmit, int maxTransmissions = -1);

    // An "A" from `sender`: acknowledges the record in flight for that clock,
    // unless an answer is still owed for an earlier transmission (then the
    // "A" is absorbed). Returns whether a record was acknowledged.
    // `payload` is the whole answer, for the observer.
    bool acknowledge(const QHostAddress& sender, const QByteArray& payload = QByteArray());
    // The same for a sender given as its IPv4 address (a number).
    bool acknowledge(quint32 sender, const QByteArray& payload = QByteArray());

    // For tests: called (with the queue locked) with every record that an
    // answer acknowledges, and the answer's bytes.
    using AcknowledgementObserver = std::function<void(const udpQueueStruct&, const QByteArray&)>;
    void setAcknowledgementObserver(AcknowledgementObserver observer);

    // The moment (on the queue's clock) service() next has work, or -1 when
    // nothing is waiting for time to pass.
    qint64 nextDueNs() const;
    qint64 now() const { return clock(); }

    // Health changes since the last call, oldest first.
    std::vector<HealthEvent> takeHealthEvents();

    // What each clock was sent, acknowledged and gave up, and its health and
    // answer time, for the window: collected once switched on, handed over
    // oldest first (unstamped).
    void setReportingEvents(bool on);
    std::vector<ClockLinkEvent> takeLinkEvents();
    // The same into `events` (emptied first), which the queue fills next:
    // two vectors taking turns keep their room between calls.
    void takeLinkEvents(std::vector<ClockLinkEvent>& events);

    // Drops every record still waiting, every kept text and every pending
    // confirmation (the link has stopped); the clocks' health and timing are
    // kept.
    void clear();

    // Forgets the kept texts and pending confirmations of every clock not in
    // `listed` (the clocks the program still sends to); a probe in flight to
    // one is not kept again.
    void forgetKeptTexts(const QList<QHostAddress>& listed);

    int size() const;
    // Given-up texts kept for the clocks.
    int keptTexts() const;
    // Clocks that have records waiting.
    int busyClocks() const;
    Counters counters() const;
    ClockTiming timing(const QHostAddress& clock) const;

private:
    // The latest ObservedAnswers values (nanoseconds), each an answer's
    // time or an upper bound of it.
    struct RecentTimes
    {
        std::array<qint64, ObservedAnswers> values{};
        std::array<bool, ObservedAnswers> bounds{};
        int count = 0;
        int next = 0;
        void add(qint64 value, bool bound = false);
        qint64 largest(bool ofBounds = false) const;  // of the answer times, or of the bounds
        qint64 smallest() const;                      // 0 when empty
    };

    // One transmission whose answer may still come.
    struct Owed
    {
        qint64 sentNs = 0;
        qint64 untilNs = 0;
    };

    struct ClockState
    {
        std::deque<udpQueueStruct*> records;  // oldest first; the first may be in flight
        // Records not transmitted yet, by variable, for superseding.
        std::vector<std::pair<int, udpQueueStruct*>> waiting;
        std::vector<Owed> owed;  // one entry per answer still owed
        // The latest moment an owed window closed without its answer.
        qint64 unpaidCloseNs = -1;
        // Given-up texts, by variable (owned), and the clock's latest
        // transmission (for the probe).
        std::map<int, udpQueueStruct*> kept;
        // Texts credited doubtfully, by variable (owned), to be confirmed.
        std::map<int, udpQueueStruct*> doubtful;
        qint64 lastTransmissionNs = 0;
        qint64 dueNs = -1;  // its entry in the due index, -1 none
        // Timing (nanoseconds).
        bool sampled = false;
        qint64 smoothedNs = 0;
        qint64 variationNs = 0;
        RecentTimes observed;   // samples, upper bounds, absorbed answers
        RecentTimes measured;   // samples only
        qint64 intervalNs = 0;  // 0: the record's own interval
        int givenUpInARow = 0;
        bool lastAnswered = false;  // its latest record that ended was acknowledged
        enum Health { Unknown, Answering, Silent } health = Unknown;
    };

    qint64 intervalNs(const ClockState& state, const udpQueueStruct& record) const;
    void backOff(ClockState& state, const udpQueueStruct& record);
    void sample(ClockState& state, const udpQueueStruct& record, qint64 answerNs);
    void expireOwed(ClockState& state, qint64 now);
    // The moment the clock's next record may go out, as far as the answers
    // it owes are concerned (0: at once).
    qint64 sendAllowedNs(const ClockState& state) const;
    // The moment the record, not sent yet, may go out.
    qint64 firstSendNs(const ClockState& state, const udpQueueStruct& record) const;
    // The moment a credit stops being doubtful (0: none would be): a
    // confirming copy goes no sooner, so no late answer can pay it.
    qint64 doubtEndsNs(const ClockState& state) const;
    // The moment the last owed window closes (0: none owed).
    static qint64 owedCloseNs(const ClockState& state);
    // Ends the clock's first record (acknowledged, given up or superseded):
    // its unanswered transmissions become owed answers. `answered` says
    // whether one of them was answered.
    // `window`: how long an unanswered transmission owes its answer.
    // `into`: the record's text is kept there, by its variable (the
    // clock's kept texts or its texts to confirm), instead of deleted.
    void finishFirst(ClockState& state, bool answered, qint64 window, qint64 now,
                     std::map<int, udpQueueStruct*>* into = nullptr);
    // Gives the clock's first record up: the answers owed, the doubled
    // interval, the health rule; its text is kept unless a newer one waits.
    void giveUpFirst(quint32 key, ClockState& state, qint64 now);
    // Appends a record to the clock's order (superseding is the caller's).
    void enqueue(ClockState& state, udpQueueStruct* record);
    // Queues every kept text of the clock again, in variable order.
    void requeueKept(quint32 key, ClockState& state, qint64 now);
    // Queues a confirming copy of every doubtfully credited text.
    void requeueDoubtful(quint32 key, ClockState& state, qint64 now);
    static void dropTexts(std::map<int, udpQueueStruct*>& texts);
    // Sends one kept text once, as the clock's only record.
    int sendProbe(quint32 key, ClockState& state, qint64 now, const Transmit& transmit);
    qint64 answerWindowNs(const ClockState& state, const udpQueueStruct* record) const;
    void noteAnswer(quint32 key, ClockState& state, qint64 now);
    void noteGiveUp(quint32 key, ClockState& state);
    void transmitRecord(udpQueueStruct& record, qint64 now, const Transmit& transmit);
    // Services one clock whose due moment has come; returns the
    // transmissions made.
    int serviceClock(quint32 key, ClockState& state, int maxRetries, qint64 now, const Transmit& transmit);
    // Puts the clock in the due index at its next due moment (or takes it out).
    void reschedule(quint32 key, ClockState& state);
    // reschedule(), telling whether the queue's next due moment came forward.
    void scheduleAfterAppend(quint32 key, ClockState& state, bool* earliest);
    bool acknowledgeLocked(quint32 key, const QByteArray& payload);

    // Clock events: one report() at each point a record is queued,
    // acknowledged or given up, and where health or timing changes.
    // `atNs`: when, if the caller has read the clock already (-1: now).
    void report(ClockLinkEvent::Kind kind, quint32 key, const udpQueueStruct* record = nullptr, double answerMs = 0,
                qint64 atNs = -1);
    bool reportingEvents = false;
    std::vector<ClockLinkEvent> linkEvents;

    ClockSource clock;
    mutable std::mutex mutex;
    std::unordered_map<quint32, ClockState> clocks;
    std::set<std::pair<qint64, quint32>> dueIndex;  // (due moment, clock)
    int recordCount = 0;
    int busyClockCount = 0;
    std::vector<HealthEvent> healthEvents;
    Counters counts;
    AcknowledgementObserver observer;
};
