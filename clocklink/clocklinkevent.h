#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QVector>

// One change the clock link saw at one clock, handed to the window thread in
// batches: what each clock shows now is built from these alone.
struct ClockLinkEvent
{
    enum class Kind : quint8 {
        Queued,        // a text for a variable is on its way
        Acknowledged,  // the clock acknowledged a text
        GivenUp,       // a text ran out of retries
        Answering,     // the clock answers (again)
        NotAnswering,  // the clock stopped answering
        AnswerTime,    // a new smoothed answer time (answerMs)
    };

    Kind kind = Kind::Queued;
    quint32 clock = 0;  // the clock's IPv4 address as a number
    int variable = -1;  // 0-4 for the text events
    QString text;
    // The text's datagram, until the events are taken: the text is read
    // from it then, off the thread that queues the records.
    QByteArray datagram;
    // Acknowledged and GivenUp: the text needed more than one transmission.
    bool retransmitted = false;
    double answerMs = 0;
    qint64 steadyNs = 0;  // when, on the link's monotonic clock
    QDateTime at;         // the time of day, stamped by stampEvents()
};

using ClockLinkEvents = QVector<ClockLinkEvent>;

// Gives each event its time of day from its monotonic moment, with `now`
// the time of day at `nowNs`. Done on the window thread: the time seam is
// read there, never on the link's thread.
void stampEvents(ClockLinkEvents& events, const QDateTime& now, qint64 nowNs);
Q_DECLARE_METATYPE(ClockLinkEvents)
