#include "clocklink/retransmitqueue.h"


bool sameClockAddress(const QHostAddress& a, const QHostAddress& b)
{
    bool aIsIPv4 = false;
    bool bIsIPv4 = false;
    const quint32 aValue = a.toIPv4Address(&aIsIPv4);
    const quint32 bValue = b.toIPv4Address(&bIsIPv4);
    return aIsIPv4 && bIsIPv4 && aValue == bValue;
}

RetransmitQueue::~RetransmitQueue()
{
    qDeleteAll(records);
}

void RetransmitQueue::append(udpQueueStruct* record)
{
    std::lock_guard<std::mutex> lock(mutex);
    records.append(record);
    ++counts.queued;
}

void RetransmitQueue::service(int maxRetries, const Transmit& transmit)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (int i = 0; i < records.size();) {
        udpQueueStruct* record = records.at(i);
        // Every moment of a record's schedule is counted from its queueing:
        // the first transmission at initialDelay, retry tick k at
        // initialDelay + k * interval. Counting each step from the pass that
        // took the step before would add up the loop's lateness (up to one
        // 5 ms sleep per step) over the four transmissions and the give-up.
        const qint64 elapsed = record->timer.elapsed();
        if (record->firstSendPending) {
            if (elapsed >= record->initialDelay) {
                record->firstSendPending = false;
                transmit(*record);
                ++counts.transmissions;
            }
        } else if (elapsed >= qint64(record->initialDelay) + qint64(record->retries + 1) * record->interval) {
            ++record->retries;
            if (record->retries > maxRetries) {
                // Given up: no message, no signal, nobody is told.
                records.removeAt(i);
                delete record;
                ++counts.givenUp;
                continue;
            }
            transmit(*record);
            ++counts.transmissions;
        }
        ++i;
    }
}

bool RetransmitQueue::acknowledge(const QHostAddress& sender)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (int i = 0; i < records.size(); ++i) {
        if (sameClockAddress(records.at(i)->addr, sender)) {
            delete records.takeAt(i);
            ++counts.acknowledged;
            return true;
        }
    }
    return false;
}

void RetransmitQueue::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    counts.abandoned += records.size();
    qDeleteAll(records);
    records.clear();
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
