#include "clocklink/retransmitqueue.h"

#include <QSet>
#include <algorithm>
#include <chrono>

#include "clocklink/clockdatagram.h"

namespace {

constexpr qint64 NsPerMs = 1000000;

qint64 steadyNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool clockKey(const QHostAddress& address, quint32* key)
{
    bool isIPv4 = false;
    *key = address.toIPv4Address(&isIPv4);
    return isIPv4;
}

}  // namespace

bool sameClockAddress(const QHostAddress& a, const QHostAddress& b)
{
    bool aIsIPv4 = false;
    bool bIsIPv4 = false;
    const quint32 aValue = a.toIPv4Address(&aIsIPv4);
    const quint32 bValue = b.toIPv4Address(&bIsIPv4);
    return aIsIPv4 && bIsIPv4 && aValue == bValue;
}

bool isClockAddressText(const QString& text)
{
    return QHostAddress(text).protocol() == QAbstractSocket::IPv4Protocol;
}

RetransmitQueue::RetransmitQueue(ClockSource source)
    : clock(source ? std::move(source) : ClockSource(steadyNow))
{
}

RetransmitQueue::~RetransmitQueue()
{
    qDeleteAll(records);
}

void RetransmitQueue::setAnswerWindow(int msecs)
{
    std::lock_guard<std::mutex> lock(mutex);
    answerWindowMs = qMax(0, msecs);
}

qint64 RetransmitQueue::windowNs(const udpQueueStruct& record) const
{
    const int ms = answerWindowMs > 0 ? answerWindowMs : 2 * qMax(0, record.interval);
    return qint64(ms) * NsPerMs;
}

bool RetransmitQueue::append(udpQueueStruct* record)
{
    std::lock_guard<std::mutex> lock(mutex);
    quint32 key = 0;
    if (!clockKey(record->addr, &key)) {
        delete record;
        ++counts.refused;
        return false;
    }
    record->queuedAtNs = clock();
    record->variable = -1;
    if (record->data.size() >= 2 && record->data.at(0) == ClockDatagram::LeadByte)
        record->variable = quint8(record->data.at(1));
    ++counts.queued;

    if (record->variable >= 0) {
        int waiting = -1;
        for (int i = 0; i < records.size(); ++i) {
            udpQueueStruct* other = records.at(i);
            quint32 otherKey = 0;
            if (!clockKey(other->addr, &otherKey) || otherKey != key || other->variable != record->variable)
                continue;
            if (other->sentAtNs.isEmpty())
                waiting = i;  // at most one per clock and variable
            else
                other->superseded = true;  // finishes its exchange, is not sent again
        }
        if (waiting >= 0) {
            // The newer text takes the older one's place in the order and
            // its moment: a variable changed more often than the initial
            // delay still goes out, rather than waiting until the changes stop.
            record->queuedAtNs = records.at(waiting)->queuedAtNs;
            delete records.at(waiting);
            records[waiting] = record;
            ++counts.superseded;
            return true;
        }
    }
    records.append(record);
    return true;
}

void RetransmitQueue::expireOwed(ClockState& state, qint64 now)
{
    state.owedUntilNs.erase(std::remove_if(state.owedUntilNs.begin(), state.owedUntilNs.end(),
                                           [now](qint64 until) { return until <= now; }),
                            state.owedUntilNs.end());
}

void RetransmitQueue::finish(int i, bool answered, qint64 now)
{
    udpQueueStruct* record = records.takeAt(i);
    quint32 key = 0;
    clockKey(record->addr, &key);
    ClockState& state = clocks[key];
    // Which transmission the "A" answered is unknown; taking it to be the
    // earliest leaves the latest ones owed, the longest wait.
    const qint64 window = windowNs(*record);
    for (int t = answered ? 1 : 0; t < record->sentAtNs.size(); ++t) {
        const qint64 until = record->sentAtNs.at(t) + window;
        if (until > now)
            state.owedUntilNs.append(until);
    }
    delete record;
}

void RetransmitQueue::noteHealth(const QHostAddress& address, ClockState& state, bool answering)
{
    const QHostAddress clockAddress(address.toIPv4Address());
    if (answering) {
        if (state.health != ClockState::Answering)
            healthEvents.push_back({clockAddress, true, state.health == ClockState::Silent});
        state.health = ClockState::Answering;
    } else {
        if (state.health != ClockState::Silent)
            healthEvents.push_back({clockAddress, false, true});
        state.health = ClockState::Silent;
    }
}

void RetransmitQueue::transmitRecord(udpQueueStruct& record, qint64 now, const Transmit& transmit)
{
    transmit(record);
    record.firstSendPending = false;
    record.sentAtNs.append(now);
    record.lastSentNs = now;
    ++counts.transmissions;
}

void RetransmitQueue::service(int maxRetries, const Transmit& transmit)
{
    std::lock_guard<std::mutex> lock(mutex);
    const qint64 now = clock();
    // Clocks whose record in flight (or next record) has been dealt with in
    // this pass; the records behind it wait.
    QSet<quint32> handled;
    for (int i = 0; i < records.size();) {
        udpQueueStruct* record = records.at(i);
        quint32 key = 0;
        clockKey(record->addr, &key);
        if (handled.contains(key)) {
            ++i;
            continue;
        }
        ClockState& state = clocks[key];
        if (record->sentAtNs.isEmpty()) {
            // The clock's next record: sent once its initial delay has
            // passed and no earlier transmission still owes an answer.
            handled.insert(key);
            expireOwed(state, now);
            if (state.owedUntilNs.isEmpty()
                && now >= record->queuedAtNs + qint64(record->initialDelay) * NsPerMs)
                transmitRecord(*record, now, transmit);
            ++i;
            continue;
        }
        // In flight: the next step is due one interval after the previous
        // transmission, however late that one was.
        if (now < record->lastSentNs + qint64(record->interval) * NsPerMs) {
            handled.insert(key);
            ++i;
            continue;
        }
        if (record->superseded) {
            // A newer text for its variable waits: this one is not sent
            // again. The clock's next record is looked at in this same pass.
            finish(i, false, now);
            ++counts.superseded;
            continue;
        }
        ++record->retries;
        if (record->retries > maxRetries) {
            noteHealth(record->addr, state, false);
            finish(i, false, now);
            ++counts.givenUp;
            continue;
        }
        transmitRecord(*record, now, transmit);
        handled.insert(key);
        ++i;
    }
}

void RetransmitQueue::setAcknowledgementObserver(AcknowledgementObserver newObserver)
{
    std::lock_guard<std::mutex> lock(mutex);
    observer = std::move(newObserver);
}

bool RetransmitQueue::acknowledge(const QHostAddress& sender, const QByteArray& payload)
{
    std::lock_guard<std::mutex> lock(mutex);
    quint32 key = 0;
    auto state = clocks.end();
    if (clockKey(sender, &key))
        state = clocks.find(key);
    if (state == clocks.end()) {
        ++counts.strays;
        return false;
    }
    const qint64 now = clock();
    expireOwed(*state, now);
    if (!state->owedUntilNs.isEmpty()) {
        // The late answer to an earlier transmission: pays off the owed
        // answer that would expire first.
        state->owedUntilNs.erase(std::min_element(state->owedUntilNs.begin(), state->owedUntilNs.end()));
        ++counts.absorbed;
        return false;
    }
    for (int i = 0; i < records.size(); ++i) {
        udpQueueStruct* record = records.at(i);
        quint32 recordKey = 0;
        if (!clockKey(record->addr, &recordKey) || recordKey != key)
            continue;
        if (record->sentAtNs.isEmpty())
            break;  // nothing of this clock's is in flight
        if (observer)
            observer(*record, payload);
        noteHealth(record->addr, *state, true);
        finish(i, true, now);
        ++counts.acknowledged;
        return true;
    }
    ++counts.strays;
    return false;
}

qint64 RetransmitQueue::nextDueNs() const
{
    std::lock_guard<std::mutex> lock(mutex);
    qint64 next = -1;
    QSet<quint32> handled;
    for (const udpQueueStruct* record : records) {
        quint32 key = 0;
        clockKey(record->addr, &key);
        if (handled.contains(key))
            continue;
        handled.insert(key);
        qint64 due = 0;
        if (record->sentAtNs.isEmpty()) {
            due = record->queuedAtNs + qint64(record->initialDelay) * NsPerMs;
            const auto state = clocks.constFind(key);
            if (state != clocks.constEnd()) {
                for (qint64 until : state->owedUntilNs)
                    due = qMax(due, until);
            }
        } else {
            due = record->lastSentNs + qint64(record->interval) * NsPerMs;
        }
        if (next < 0 || due < next)
            next = due;
    }
    return next;
}

std::vector<RetransmitQueue::HealthEvent> RetransmitQueue::takeHealthEvents()
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<HealthEvent> events;
    events.swap(healthEvents);
    return events;
}

void RetransmitQueue::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    counts.abandoned += records.size();
    qDeleteAll(records);
    records.clear();
    for (ClockState& state : clocks)
        state.owedUntilNs.clear();
}

int RetransmitQueue::size() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return records.size();
}

RetransmitQueue::Counters RetransmitQueue::counters() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return counts;
}
