#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUdpSocket>
#include <functional>

#include "clocksim/receiveddatagram.h"

// How a simulated clock answers good datagrams, so an operator can watch the
// program retransmit: a share of acknowledgements dropped, each one delayed,
// or none at all.
struct AcknowledgementPolicy
{
    double dropShare = 0.0;  // 0 answers every datagram, 1 answers none
    int delayMs = 0;
    bool silent = false;
    // Beyond the answers, for tests of the link: a share of the datagrams
    // lost on their way in (never seen by the clock), a random extra delay
    // of each answer (0 to delayJitterMs on top of delayMs), and answers
    // that carry the answered datagram after the "A" (still an
    // acknowledgement by the "A" rule), so a test can tell which datagram an
    // answer answered.
    double datagramDropShare = 0.0;
    int delayJitterMs = 0;
    bool echoDatagram = false;
    // What the clock answers with instead of "A" (for instance "a" or "BA",
    // which are no acknowledgement); empty means "A".
    QByteArray answer;
};

struct AcknowledgementDecision
{
    bool send = false;
    int delayMs = 0;
    QString reason;  // why it is withheld, when it is
};

// `randomUnit` is a draw from [0, 1); a draw below the drop share drops.
// `jitterUnit`, another draw, picks the extra delay within delayJitterMs.
AcknowledgementDecision decideAcknowledgement(const AcknowledgementPolicy& policy, double randomUnit,
                                              double jitterUnit = 0.0);

// What a clock answers with: any datagram whose first byte is "A" will do.
inline const QByteArray ClockAcknowledgement = QByteArrayLiteral("A");

// One clock on one address: binds address:port with address reuse (so it can
// share port 7372 with the program on one machine), keeps the variables it is
// sent, and acknowledges good datagrams to their sender. A malformed datagram
// is reported and left unanswered.
class SimulatedClock : public QObject
{
    Q_OBJECT

public:
    explicit SimulatedClock(const QHostAddress& address, quint16 port = 7372, QObject* parent = nullptr);

    // False, with the reason in `error`, when the address cannot be bound.
    bool bind(QString* error = nullptr);
    bool isBound() const { return socket.state() == QAbstractSocket::BoundState; }
    QHostAddress address() const { return clockAddress; }
    quint16 boundPort() const { return socket.localPort(); }

    void setPolicy(const AcknowledgementPolicy& newPolicy) { ackPolicy = newPolicy; }
    AcknowledgementPolicy policy() const { return ackPolicy; }
    // Replaces the draw used for the drop share (tests make it predictable).
    void setRandomSource(std::function<double()> source) { randomUnit = std::move(source); }
    // Answers good datagrams with `answer` from now on; an empty one makes
    // the clock silent.
    void setAnswer(const QByteArray& answer);

    // Sends any datagram from the clock's address and port (an answer out of
    // turn, a stranger's datagram).
    void sendTo(const QHostAddress& address, quint16 port, const QByteArray& data);

    // Every datagram that reached the clock, good or not, in order of
    // arrival; the link's tests read what was sent, and when, from here.
    struct Arrival
    {
        QByteArray data;
        QHostAddress sender;
        quint16 senderPort = 0;
        qint64 msecs = 0;  // since the clock was made
    };
    QList<Arrival> arrivals;
    qint64 msecsSinceCreated() const { return sinceCreated.elapsed(); }

    // Variable number to its latest text.
    const QMap<int, QString>& variables() const { return vars; }

    // Device parameters set through the web interface.
    const QMap<QString, QString>& parameters() const { return params; }
    void setParameter(const QString& name, const QString& value);

    struct Counters
    {
        int datagrams = 0;     // every datagram read, good or not
        int acknowledged = 0;  // acknowledgements sent
        int withheld = 0;      // good datagrams left unanswered by the policy
        int malformed = 0;
        int lost = 0;  // datagrams dropped on their way in by the policy
    };
    const Counters& counters() const { return count; }

signals:
    // Every good datagram, repeats included; `changed` is false for a repeat
    // of the text the variable already holds (a retransmission, usually).
    void variableReceived(int variable, const QString& text, bool changed);
    void malformedReceived(const QString& problem, const QByteArray& datagram);
    void parameterChanged(const QString& name, const QString& value);
    // One human-readable line per event, for the window or standard output.
    void report(const QString& line);
    void countersChanged();
    // Every datagram that reached the clock, as `arrivals` records it, once
    // the clock has decided how to answer it.
    void datagramArrived(const QByteArray& datagram);

private slots:
    void readPending();

private:
    // False for a datagram the policy lost on its way in.
    bool handle(const QByteArray& datagram, const QHostAddress& sender, quint16 senderPort);
    void acknowledge(const QHostAddress& sender, quint16 senderPort, const QByteArray& answer);

    QHostAddress clockAddress;
    quint16 requestedPort;
    QUdpSocket socket;
    AcknowledgementPolicy ackPolicy;
    std::function<double()> randomUnit;
    QMap<int, QString> vars;
    QMap<QString, QString> params;
    Counters count;
    QElapsedTimer sinceCreated;
};
