#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <array>
#include <bitset>
#include <vector>

#include "clocklink/clocklinkevent.h"

// What one clock variable shows, as far as the clock's answers tell.
struct ClockVariableState
{
    QString acknowledged;  // the text the clock last acknowledged
    QDateTime acknowledgedAt;
    QString onItsWay;  // a text sent or waiting, not acknowledged yet
    QString givenUp;   // the newest text, when it ran out of retries
};

// One clock of the address lists.
struct ClockState
{
    enum class Health { NotYetSentTo, Answering, NotAnswering };
    static constexpr int Variables = 5;
    static constexpr int RetransmissionWindow = 100;  // datagrams

    quint32 key = 0;  // the IPv4 address as a number
    QString address;
    bool weatherList = false;
    bool stockList = false;
    Health health = Health::NotYetSentTo;
    QDateTime lastAnswered;
    QDateTime notAnsweringSince;  // null unless not answering
    // The texts acknowledged and the last answer were read back from before
    // the program's restart; true until the clock answers in this run.
    bool fromBeforeRestart = false;
    double answerMs = -1;  // smoothed answer time; negative: not measured
    std::array<ClockVariableState, Variables> variables;

    // Of the clock's last (up to) 100 finished datagrams, the share that
    // needed a retransmission (0-1); negative while none has finished.
    double retransmittedShare() const;
    void noteFinished(bool retransmitted);

private:
    std::bitset<RetransmissionWindow> finished;  // ring of the last outcomes
    int finishedCount = 0;
    int nextSlot = 0;
};

// The state of every clock in either address list, built from the clock
// link's events; the Clocks window and the status file both read it. A clock
// in neither list is not kept, and events for it are dropped.
class ClockStates
{
public:
    // Both address lists as split from their fields. Only IPv4 addresses are
    // clocks (nothing is sent to anything else). Returns whether the rows
    // changed; a clock in both lists before and after keeps its state.
    bool setLists(const QStringList& weather, const QStringList& stocks);

    // Applies one batch; returns the rows changed, in ascending order.
    std::vector<int> apply(const ClockLinkEvents& events);

    // What the clocks acknowledged before the restart (by IPv4 key), read
    // back at start: a clock listed now, or joining later, shows it until it
    // answers.
    void restore(QHash<quint32, ClockState> beforeRestart);

    const std::vector<ClockState>& clocks() const { return rows; }
    int rowOf(const QString& address) const;
    // Grows with every change, so a reader can tell whether to look again.
    quint64 generation() const { return changes; }

private:
    // A clock read back from before the restart takes its texts and last
    // answer from `restored` (each entry used once).
    void takeRestored(ClockState& clock);

    std::vector<ClockState> rows;
    QHash<quint32, int> rowByKey;
    QHash<quint32, ClockState> restored;
    quint64 changes = 0;
};

// The texts the Clocks window shows for a clock's health.
QString healthText(ClockState::Health health);
// The same as the status document, the page and the metrics name it: one
// word each ("answering", "not_answering", "not_yet_sent_to").
const char* healthKey(ClockState::Health health);
