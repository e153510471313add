#include "clocklink/retransmitqueue.h"

#include <algorithm>
#include <chrono>

#include "clocklink/clockdatagram.h"

namespace {

constexpr qint64 NsPerMs = 1000000;

qint64 steadyNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool clockKey(const QHostAddress& address, quint32* key)
{
    bool isIPv4 = false;
    *key = address.toIPv4Address(&isIPv4);
    return isIPv4;
}

// The bounds of a clock's interval for one record: the record's own interval
// (the link's retry interval) at least, MaxIntervalMs at most (or the
// record's interval, should that be longer).
qint64 floorNs(const udpQueueStruct& record)
{
    return qint64(qMax(0, record.interval)) * NsPerMs;
}

qint64 capNs(const udpQueueStruct& record)
{
    return qMax(qint64(RetransmitQueue::MaxIntervalMs) * NsPerMs, floorNs(record));
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

bool clockAddressValue(const QString& text, quint32* ipv4)
{
    // Four decimal parts of one to three digits, none with a leading zero.
    quint32 value = 0;
    int parts = 0;
    int digits = 0;
    int part = 0;
    const QChar* c = text.constData();
    const QChar* const end = c + text.size();
    for (;; ++c) {
        if (c == end || *c == QLatin1Char('.')) {
            if (digits == 0 || part > 255 || ++parts > 4)
                break;
            value = (value << 8) | quint32(part);
            if (c == end) {
                if (parts != 4)
                    break;
                *ipv4 = value;
                return true;
            }
            digits = part = 0;
            continue;
        }
        const ushort u = c->unicode();
        if (u < '0' || u > '9' || digits == 3 || (digits == 1 && part == 0))
            break;
        part = part * 10 + (u - '0');
        ++digits;
    }
    bool isIPv4 = false;
    const QHostAddress parsed(text);
    *ipv4 = parsed.toIPv4Address(&isIPv4);
    return isIPv4 && parsed.protocol() == QAbstractSocket::IPv4Protocol;
}

RetransmitQueue::RetransmitQueue(ClockSource source)
    : clock(source ? std::move(source) : ClockSource(steadyNow))
{}

RetransmitQueue::~RetransmitQueue()
{
    for (auto& entry : clocks) {
        qDeleteAll(entry.second.records);
        dropTexts(entry.second.kept);
        dropTexts(entry.second.doubtful);
    }
}

void RetransmitQueue::RecentTimes::add(qint64 value, bool bound)
{
    values[size_t(next)] = value;
    bounds[size_t(next)] = bound;
    next = (next + 1) % ObservedAnswers;
    count = qMin(count + 1, ObservedAnswers);
}

qint64 RetransmitQueue::RecentTimes::largest(bool ofBounds) const
{
    qint64 most = 0;
    for (int i = 0; i < count; ++i)
        if (bounds[size_t(i)] == ofBounds)
            most = qMax(most, values[size_t(i)]);
    return most;
}

qint64 RetransmitQueue::RecentTimes::smallest() const
{
    if (count == 0)
        return 0;
    qint64 least = values[0];
    for (int i = 1; i < count; ++i)
        least = qMin(least, values[size_t(i)]);
    return least;
}

qint64 RetransmitQueue::intervalNs(const ClockState& state, const udpQueueStruct& record) const
{
    const qint64 learned = state.intervalNs > 0 ? state.intervalNs : floorNs(record);
    return qBound(floorNs(record), learned, capNs(record));
}

void RetransmitQueue::backOff(ClockState& state, const udpQueueStruct& record)
{
    state.intervalNs = qMin(2 * intervalNs(state, record), capNs(record));
}

void RetransmitQueue::sample(ClockState& state, const udpQueueStruct& record, qint64 answerNs)
{
    // As TCP keeps its round-trip time: gains of 1/8 and 1/4.
    if (!state.sampled) {
        state.smoothedNs = answerNs;
        state.variationNs = answerNs / 2;
        state.sampled = true;
    } else {
        state.variationNs = (3 * state.variationNs + qAbs(state.smoothedNs - answerNs)) / 4;
        state.smoothedNs = (7 * state.smoothedNs + answerNs) / 8;
    }
    state.observed.add(answerNs);
    state.measured.add(answerNs);
    state.intervalNs = qBound(floorNs(record), state.smoothedNs + 4 * state.variationNs, capNs(record));
    ++counts.samples;
}

bool RetransmitQueue::append(udpQueueStruct* record, bool* earliest)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (earliest)
        *earliest = false;
    quint32 key = 0;
    if (!clockKey(record->addr, &key)) {
        delete record;
        ++counts.refused;
        return false;
    }
    record->ipv4 = key;
    const qint64 now = clock();
    record->queuedAtNs = now;
    record->variable = -1;
    if (record->data.size() >= 2 && record->data.at(0) == ClockDatagram::LeadByte)
        record->variable = quint8(record->data.at(1));
    ++counts.queued;
    ClockState& state = clocks[key];

    if (record->variable >= 0) {
        for (auto& waiting : state.waiting) {
            if (waiting.first != record->variable)
                continue;
            // The newer text takes the older one's place in the order and
            // its moment: a variable changed more often than the initial
            // delay still goes out, rather than waiting until the changes stop.
            udpQueueStruct* older = waiting.second;
            if (older->confirming)
                ++recordCount;  // a text to deliver now, not a confirmation
            record->queuedAtNs = older->queuedAtNs;
            *older = *record;
            delete record;
            ++counts.superseded;
            report(ClockLinkEvent::Kind::Queued, key, older, 0, now);
            scheduleAfterAppend(key, state, earliest);
            return true;
        }
        udpQueueStruct* first = state.records.empty() ? nullptr : state.records.front();
        if (first && !first->sentAtNs.isEmpty() && first->variable == record->variable)
            first->superseded = true;  // finishes its exchange, is not kept
        // The newer text is the one the clock should end with: an older
        // one kept or to be confirmed no longer needs to go out.
        for (std::map<int, udpQueueStruct*>* texts : {&state.kept, &state.doubtful}) {
            const auto older = texts->find(record->variable);
            if (older != texts->end()) {
                delete older->second;
                texts->erase(older);
            }
        }
    }
    enqueue(state, record);
    report(ClockLinkEvent::Kind::Queued, key, record, 0, now);
    scheduleAfterAppend(key, state, earliest);
    return true;
}

void RetransmitQueue::enqueue(ClockState& state, udpQueueStruct* record)
{
    if (record->variable >= 0)
        state.waiting.emplace_back(record->variable, record);
    state.records.push_back(record);
    if (!record->confirming)
        ++recordCount;
}

void RetransmitQueue::requeueKept(quint32 key, ClockState& state, qint64 now)
{
    for (auto& entry : state.kept) {
        udpQueueStruct* record = entry.second;
        record->queuedAtNs = now;
        enqueue(state, record);
        report(ClockLinkEvent::Kind::Queued, key, record);
        ++counts.resent;
    }
    state.kept.clear();
}

void RetransmitQueue::requeueDoubtful(quint32 key, ClockState& state, qint64 now)
{
    for (auto& entry : state.doubtful) {
        udpQueueStruct* record = entry.second;
        // The clock is quiet: due at once.
        record->queuedAtNs = now - qint64(record->initialDelay) * NsPerMs;
        record->confirming = true;  // before enqueue(): not counted by size()
        enqueue(state, record);
        report(ClockLinkEvent::Kind::Queued, key, record);
        ++counts.confirmed;
    }
    state.doubtful.clear();
}

void RetransmitQueue::dropTexts(std::map<int, udpQueueStruct*>& texts)
{
    for (auto& entry : texts)
        delete entry.second;
    texts.clear();
}

int RetransmitQueue::sendProbe(quint32 key, ClockState& state, qint64 now, const Transmit& transmit)
{
    // The lowest variable's text; should the clock answer, the others follow.
    const auto first = state.kept.begin();
    udpQueueStruct* record = first->second;
    state.kept.erase(first);
    record->probe = true;
    record->queuedAtNs = now;
    state.records.push_back(record);  // not counted by size()
    ++counts.resent;
    report(ClockLinkEvent::Kind::Queued, key, record);
    transmitRecord(*record, now, transmit);
    state.lastTransmissionNs = now;
    return 1;
}

void RetransmitQueue::scheduleAfterAppend(quint32 key, ClockState& state, bool* earliest)
{
    const qint64 nextBefore = dueIndex.empty() ? -1 : dueIndex.begin()->first;
    reschedule(key, state);
    if (earliest)
        *earliest = !dueIndex.empty() && (nextBefore < 0 || dueIndex.begin()->first < nextBefore);
}

void RetransmitQueue::expireOwed(ClockState& state, qint64 now)
{
    auto& owed = state.owed;
    for (const Owed& entry : owed)
        if (entry.untilNs <= now)
            state.unpaidCloseNs = qMax(state.unpaidCloseNs, entry.untilNs);
    owed.erase(std::remove_if(owed.begin(), owed.end(), [now](const Owed& entry) { return entry.untilNs <= now; }),
               owed.end());
}

qint64 RetransmitQueue::owedCloseNs(const ClockState& state)
{
    qint64 close = 0;
    for (const Owed& entry : state.owed)
        close = qMax(close, entry.untilNs);
    return close;
}

qint64 RetransmitQueue::sendAllowedNs(const ClockState& state) const
{
    // The next record's own answer comes no sooner than the clock's
    // shortest recent answer, so it may go out that much before the last
    // owed window closes: any "A" before the close pays what is owed.
    const qint64 close = owedCloseNs(state);
    if (close == 0)
        return 0;
    const qint64 lead = state.measured.smallest() - qint64(EarlySendMarginMs) * NsPerMs;
    return lead > 0 ? close - lead : close;
}

qint64 RetransmitQueue::firstSendNs(const ClockState& state, const udpQueueStruct& record) const
{
    const qint64 due = qMax(record.queuedAtNs + qint64(record.initialDelay) * NsPerMs, sendAllowedNs(state));
    return record.confirming ? qMax(due, doubtEndsNs(state)) : due;
}

qint64 RetransmitQueue::doubtEndsNs(const ClockState& state) const
{
    if (state.unpaidCloseNs < 0)
        return 0;
    return state.unpaidCloseNs + qMax(qint64(DoubtSpanMs) * NsPerMs, 2 * answerWindowNs(state, nullptr));
}

qint64 RetransmitQueue::answerWindowNs(const ClockState& state, const udpQueueStruct* record) const
{
    // How long an answer may still come: twice the slowest answer measured
    // among the clock's last ObservedAnswers, or their largest upper bound
    // (counted once: it is already the most that answer took), plus a
    // margin. A clock never measured might be as slow as the longest
    // interval allows. Never less than MinAnswerWindowMs: an answer a few
    // times slower than usual (a busy clock, a wireless hop) must still find
    // its copy owed.
    const qint64 cap = record ? capNs(*record) : qint64(MaxIntervalMs) * NsPerMs;
    const qint64 slowest = state.observed.largest();
    const qint64 bound = state.observed.largest(true);
    if (!state.sampled)
        return 2 * qMax(cap, qMax(slowest, bound));
    const qint64 margin = qint64(AnswerWindowMarginMs) * NsPerMs;
    return qMax(qint64(MinAnswerWindowMs) * NsPerMs, qMax(2 * slowest, bound) + margin);
}

void RetransmitQueue::finishFirst(ClockState& state, bool answered, qint64 window, qint64 now,
                                  std::map<int, udpQueueStruct*>* into)
{
    udpQueueStruct* record = state.records.front();
    state.records.pop_front();
    if (!record->probe && !record->confirming)
        --recordCount;
    // Which transmission the "A" answered is unknown. It is taken to be the
    // latest, so the earlier ones are owed: a copy lost on the way (the
    // usual reason for a retransmission) then holds the clock's next record
    // one interval less. Should the answer have been to an earlier copy,
    // the latest copy's answer still comes within the window of the
    // earliest one still owed (the answer's upper bound, the time from the
    // first copy, counts the gaps between the copies, and the window is
    // twice that), and is absorbed.
    const int owed = record->sentAtNs.size() - (answered ? 1 : 0);
    for (int t = 0; t < owed; ++t) {
        const qint64 sent = record->sentAtNs.at(t);
        if (sent + window > now)
            state.owed.push_back({sent, sent + window});
        else
            state.unpaidCloseNs = qMax(state.unpaidCloseNs, sent + window);
    }
    if (!into || record->variable < 0 || record->superseded) {
        delete record;
        return;
    }
    // Kept as it was queued, ready to go out again.
    record->retries = 0;
    record->firstSendPending = true;
    record->sentAtNs.clear();
    record->lastSentNs = 0;
    record->superseded = false;
    record->probe = false;
    record->confirming = false;
    udpQueueStruct*& slot = (*into)[record->variable];
    delete slot;  // none: a newer text would have replaced it
    slot = record;
}

void RetransmitQueue::giveUpFirst(quint32 key, ClockState& state, qint64 now)
{
    // The answers owed are those of transmissions made at the interval in
    // force, before it is doubled.
    const udpQueueStruct& record = *state.records.front();
    const qint64 window = answerWindowNs(state, &record);
    backOff(state, record);
    report(ClockLinkEvent::Kind::GivenUp, key, &record);
    // The text kept is the newest of its variable: an older one to be
    // confirmed is no longer wanted.
    const auto older = state.doubtful.find(record.variable);
    if (older != state.doubtful.end()) {
        delete older->second;
        state.doubtful.erase(older);
    }
    finishFirst(state, false, window, now, &state.kept);
    state.lastAnswered = false;
    noteGiveUp(key, state);
    ++counts.givenUp;
}

void RetransmitQueue::noteAnswer(quint32 key, ClockState& state, qint64 now)
{
    state.givenUpInARow = 0;
    // The clock is there: what it missed goes out again.
    if (!state.kept.empty())
        requeueKept(key, state, now);
    if (state.health != ClockState::Answering) {
        healthEvents.push_back({QHostAddress(key), true, state.health == ClockState::Silent});
        report(ClockLinkEvent::Kind::Answering, key);
    }
    state.health = ClockState::Answering;
}

void RetransmitQueue::noteGiveUp(quint32 key, ClockState& state)
{
    // One record lost on a lossy link is no outage; two in a row are.
    if (++state.givenUpInARow < 2 || state.health == ClockState::Silent)
        return;
    healthEvents.push_back({QHostAddress(key), false, true});
    report(ClockLinkEvent::Kind::NotAnswering, key);
    state.health = ClockState::Silent;
}

void RetransmitQueue::transmitRecord(udpQueueStruct& record, qint64 now, const Transmit& transmit)
{
    transmit(record);
    if (!record.sentAtNs.isEmpty())
        ++counts.retransmissions;
    record.firstSendPending = false;
    record.sentAtNs.append(now);
    record.lastSentNs = now;
    ++counts.transmissions;
}

int RetransmitQueue::serviceClock(quint32 key, ClockState& state, int maxRetries, qint64 now, const Transmit& transmit)
{
    int sent = 0;
    if (state.records.empty() && !state.doubtful.empty()) {
        // Quiet: nothing waiting, in flight or owed.
        expireOwed(state, now);
        if (state.owed.empty() && now >= doubtEndsNs(state))
            requeueDoubtful(key, state, now);
    }
    if (state.records.empty() && !state.kept.empty()) {
        expireOwed(state, now);
        if (state.owed.empty() && now >= state.lastTransmissionNs + qint64(ProbeIntervalMs) * NsPerMs)
            sent += sendProbe(key, state, now, transmit);
    }
    while (!state.records.empty()) {
        udpQueueStruct* record = state.records.front();
        if (record->sentAtNs.isEmpty()) {
            // The clock's next record: sent once its initial delay has
            // passed and no earlier transmission's answer can come after
            // its own.
            expireOwed(state, now);
            if (now >= firstSendNs(state, *record)) {
                const auto waiting =
                    std::find_if(state.waiting.begin(), state.waiting.end(),
                                 [record](const std::pair<int, udpQueueStruct*>& w) { return w.second == record; });
                if (waiting != state.waiting.end())
                    state.waiting.erase(waiting);
                transmitRecord(*record, now, transmit);
                state.lastTransmissionNs = now;
                ++sent;
            }
            break;
        }
        // In flight: the next step is due one interval after the previous
        // transmission, however late that one was.
        if (now < record->lastSentNs + intervalNs(state, *record))
            break;
        // A newer text for its variable waits, or a probe has had its one
        // copy: no more copies. Two unanswered copies count as a give-up
        // (a dead clock whose texts keep changing is still noticed). A
        // superseded record sent once leaves unanswered without one, unless
        // the clock's previous exchange went unanswered too: then it is sent
        // a second time, so that a silent clock is told from a lost copy.
        // The clock's next record is looked at at once.
        ++record->retries;
        if (record->probe || record->retries > maxRetries || (record->superseded && record->sentAtNs.size() >= 2)) {
            giveUpFirst(key, state, now);
            continue;
        }
        if (record->superseded && state.lastAnswered) {
            finishFirst(state, false, answerWindowNs(state, record), now);
            state.lastAnswered = false;
            ++counts.superseded;
            continue;
        }
        transmitRecord(*record, now, transmit);
        state.lastTransmissionNs = now;
        ++sent;
        break;
    }
    reschedule(key, state);
    return sent;
}

void RetransmitQueue::reschedule(quint32 key, ClockState& state)
{
    qint64 due = -1;
    if (!state.records.empty()) {
        const udpQueueStruct* record = state.records.front();
        if (record->sentAtNs.isEmpty())
            due = firstSendNs(state, *record);
        else
            due = record->lastSentNs + intervalNs(state, *record);
    } else if (!state.doubtful.empty()) {
        // The confirming copies, once the clock is quiet.
        due = qMax(owedCloseNs(state), doubtEndsNs(state));
    } else if (!state.kept.empty()) {
        due = qMax(state.lastTransmissionNs + qint64(ProbeIntervalMs) * NsPerMs, owedCloseNs(state));
    }
    if (due == state.dueNs)
        return;
    if (state.dueNs >= 0)
        dueIndex.erase({state.dueNs, key});
    if (due >= 0)
        dueIndex.insert({due, key});
    state.dueNs = due;
}

bool RetransmitQueue::service(int maxRetries, const Transmit& transmit, int maxTransmissions)
{
    std::lock_guard<std::mutex> lock(mutex);
    const qint64 now = clock();
    // The clocks due now, each looked at once in this call. A clock makes
    // at most one transmission per call, so taking no more clocks than the
    // transmissions allowed keeps to the limit.
    std::vector<quint32> due;
    for (auto it = dueIndex.begin(); it != dueIndex.end() && it->first <= now; ++it) {
        if (maxTransmissions >= 0 && int(due.size()) >= maxTransmissions)
            break;
        due.push_back(it->second);
    }
    for (quint32 key : due)
        serviceClock(key, clocks[key], maxRetries, now, transmit);
    return !dueIndex.empty() && dueIndex.begin()->first <= now;
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
    if (!clockKey(sender, &key)) {
        ++counts.strays;
        return false;
    }
    return acknowledgeLocked(key, payload);
}

bool RetransmitQueue::acknowledge(quint32 sender, const QByteArray& payload)
{
    std::lock_guard<std::mutex> lock(mutex);
    return acknowledgeLocked(sender, payload);
}

bool RetransmitQueue::acknowledgeLocked(quint32 key, const QByteArray& payload)
{
    const auto found = clocks.find(key);
    if (found == clocks.end()) {
        ++counts.strays;
        return false;
    }
    ClockState& state = found->second;
    const qint64 now = clock();
    expireOwed(state, now);
    if (!state.owed.empty()) {
        // The late answer to an earlier transmission: pays off the earliest
        // copy owed, and bounds how late the clock's answers can be (it may
        // answer a later copy, so the time is an upper bound). It still
        // shows the clock answers.
        const auto earliest = std::min_element(state.owed.begin(), state.owed.end(),
                                               [](const Owed& a, const Owed& b) { return a.sentNs < b.sentNs; });
        state.observed.add(qMin(now - earliest->sentNs, qint64(MaxIntervalMs) * NsPerMs), true);
        state.owed.erase(earliest);
        ++counts.absorbed;
        noteAnswer(key, state, now);
        reschedule(key, state);
        return false;
    }
    if (state.records.empty() || state.records.front()->sentAtNs.isEmpty()) {
        ++counts.strays;  // nothing of this clock's is in flight
        return false;
    }
    udpQueueStruct* record = state.records.front();
    if (observer)
        observer(*record, payload);
    // Sent once, while no earlier answer was owed: the answer can only be
    // to this transmission, so it measures the clock. After a retransmission
    // it is ambiguous (which copy it answers is unknown): the clock is given
    // more time instead.
    const qint64 fromFirstCopy = now - record->sentAtNs.first();
    // Whichever copy a retransmitted record's answer is for, the clock took
    // no longer than this.
    const qint64 bound = qMin(fromFirstCopy, capNs(*record));
    report(ClockLinkEvent::Kind::Acknowledged, key, record);
    if (record->sentAtNs.size() == 1) {
        sample(state, *record, fromFirstCopy);
        report(ClockLinkEvent::Kind::AnswerTime, key, nullptr, double(state.smoothedNs) / NsPerMs);
    } else {
        state.observed.add(bound, true);
        backOff(state, *record);
    }
    // The window covers the earlier copies' answers, however slow this one
    // shows the clock can be: should it have answered the first copy, the
    // latest copy's answer may come as late after that one, so the
    // earliest copy owes its answer for the gap between them more.
    qint64 window = answerWindowNs(state, record);
    if (record->sentAtNs.size() > 1) {
        const qint64 gap = record->sentAtNs.last() - record->sentAtNs.first();
        window = qMax(window, gap + bound + qint64(AnswerWindowMarginMs) * NsPerMs);
    }
    // Credited soon after an owed answer never came: this "A" may be that
    // one, later than any window allowed. The newest text of the variable
    // is sent once more when the clock is quiet (not a confirming copy's:
    // one confirmation per text; not one a newer text follows).
    const bool doubtful = now < doubtEndsNs(state);
    std::map<int, udpQueueStruct*>* into = nullptr;
    if (record->variable >= 0) {
        const auto older = state.doubtful.find(record->variable);
        if (older != state.doubtful.end()) {
            delete older->second;
            state.doubtful.erase(older);
        }
        if (doubtful && !record->confirming)
            into = &state.doubtful;
    }
    finishFirst(state, true, window, now, into);
    state.lastAnswered = true;
    noteAnswer(key, state, now);
    ++counts.acknowledged;
    reschedule(key, state);
    return true;
}

qint64 RetransmitQueue::nextDueNs() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return dueIndex.empty() ? -1 : dueIndex.begin()->first;
}

std::vector<RetransmitQueue::HealthEvent> RetransmitQueue::takeHealthEvents()
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<HealthEvent> events;
    events.swap(healthEvents);
    return events;
}

void RetransmitQueue::setReportingEvents(bool on)
{
    std::lock_guard<std::mutex> lock(mutex);
    reportingEvents = on;
    if (!on)
        linkEvents.clear();
}

void RetransmitQueue::takeLinkEvents(std::vector<ClockLinkEvent>& events)
{
    events.clear();
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.swap(linkEvents);
    }
    for (ClockLinkEvent& event : events) {
        if (!event.datagram.isEmpty()) {
            event.text = ClockDatagram::textOf(event.datagram);
            event.datagram.clear();
        }
    }
}

std::vector<ClockLinkEvent> RetransmitQueue::takeLinkEvents()
{
    std::vector<ClockLinkEvent> events;
    takeLinkEvents(events);
    return events;
}

void RetransmitQueue::report(ClockLinkEvent::Kind kind, quint32 key, const udpQueueStruct* record, double answerMs,
                             qint64 atNs)
{
    // Only clock variables have a text worth showing.
    if (!reportingEvents || (record && record->variable < 0))
        return;
    linkEvents.emplace_back();
    ClockLinkEvent& event = linkEvents.back();
    event.kind = kind;
    event.clock = key;
    event.answerMs = answerMs;
    event.steadyNs = atNs >= 0 ? atNs : clock();
    if (record) {
        event.variable = record->variable;
        event.datagram = record->data;
        event.retransmitted = record->sentAtNs.size() > 1;
    }
}

void RetransmitQueue::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    counts.abandoned += recordCount;
    for (auto& entry : clocks) {
        ClockState& state = entry.second;
        qDeleteAll(state.records);
        state.records.clear();
        state.waiting.clear();
        state.owed.clear();
        dropTexts(state.kept);
        dropTexts(state.doubtful);
        state.dueNs = -1;
    }
    dueIndex.clear();
    recordCount = 0;
    linkEvents.clear();  // of records that no longer exist
}

void RetransmitQueue::forgetKeptTexts(const QList<QHostAddress>& listed)
{
    std::lock_guard<std::mutex> lock(mutex);
    std::set<quint32> keys;
    for (const QHostAddress& address : listed) {
        quint32 key = 0;
        if (clockKey(address, &key))
            keys.insert(key);
    }
    for (auto& entry : clocks) {
        ClockState& state = entry.second;
        if (keys.count(entry.first))
            continue;
        dropTexts(state.kept);
        dropTexts(state.doubtful);
        if (!state.records.empty() && state.records.front()->probe)
            state.records.front()->superseded = true;  // not kept again
        reschedule(entry.first, state);
    }
}

int RetransmitQueue::keptTexts() const
{
    std::lock_guard<std::mutex> lock(mutex);
    int count = 0;
    for (const auto& entry : clocks)
        count += int(entry.second.kept.size());
    return count;
}

int RetransmitQueue::size() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return recordCount;
}

int RetransmitQueue::busyClocks() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return int(dueIndex.size());
}

RetransmitQueue::Counters RetransmitQueue::counters() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return counts;
}

RetransmitQueue::ClockTiming RetransmitQueue::timing(const QHostAddress& address) const
{
    std::lock_guard<std::mutex> lock(mutex);
    ClockTiming timing;
    quint32 key = 0;
    if (!clockKey(address, &key))
        return timing;
    const auto found = clocks.find(key);
    if (found == clocks.end())
        return timing;
    const ClockState& state = found->second;
    timing.sampled = state.sampled;
    timing.smoothedMs = double(state.smoothedNs) / NsPerMs;
    timing.variationMs = double(state.variationNs) / NsPerMs;
    timing.slowestRecentMs = double(qMax(state.observed.largest(), state.observed.largest(true))) / NsPerMs;
    timing.fastestRecentMs = double(state.measured.smallest()) / NsPerMs;
    timing.answerWindowMs = double(answerWindowNs(state, nullptr)) / NsPerMs;
    timing.intervalMs = int(state.intervalNs / NsPerMs);
    return timing;
}
