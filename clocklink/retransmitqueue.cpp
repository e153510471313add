#include "retransmitqueue.h"


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
        if (record->firstSendPending) {
            if (record->timer.elapsed() >= record->initialDelay) {
                record->firstSendPending = false;
                record->timer.restart();
                transmit(*record);
                ++counts.transmissions;
            }
        } else if (record->timer.elapsed() >= record->interval) {
            ++record->retries;
            record->timer.restart();
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
