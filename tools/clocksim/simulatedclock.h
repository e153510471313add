#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUdpSocket>
#include <functional>

#include "clocksim/clockdatagramreader.h"

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
};

struct AcknowledgementDecision
{
    bool send = false;
    int delayMs = 0;
    QString reason;  // why it is withheld, when it is
};

// `randomUnit` is a draw from [0, 1); a draw below the drop share drops.
AcknowledgementDecision decideAcknowledgement(const AcknowledgementPolicy& policy,
                                              double randomUnit);

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
    explicit SimulatedClock(const QHostAddress& address, quint16 port = 7372,
                            QObject* parent = nullptr);

    // False, with the reason in `error`, when the address cannot be bound.
    bool bind(QString* error = nullptr);
    QHostAddress address() const { return clockAddress; }
    quint16 boundPort() const { return socket.localPort(); }

    void setPolicy(const AcknowledgementPolicy& newPolicy) { ackPolicy = newPolicy; }
    AcknowledgementPolicy policy() const { return ackPolicy; }
    // Replaces the draw used for the drop share (tests make it predictable).
    void setRandomSource(std::function<double()> source) { randomUnit = std::move(source); }

    // Variable number to its latest text.
    const QMap<int, QString>& variables() const { return vars; }

    // Device parameters set through the web interface.
    const QMap<QString, QString>& parameters() const { return params; }
    void setParameter(const QString& name, const QString& value);

    struct Counters
    {
        int datagrams = 0;        // every datagram read, good or not
        int acknowledged = 0;     // acknowledgements sent
        int withheld = 0;         // good datagrams left unanswered by the policy
        int malformed = 0;
        int lost = 0;             // datagrams dropped on their way in by the policy
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

private slots:
    void readPending();

private:
    void handle(const QByteArray& datagram, const QHostAddress& sender, quint16 senderPort);
    void acknowledge(const QHostAddress& sender, quint16 senderPort, const QByteArray& answer);

    QHostAddress clockAddress;
    quint16 requestedPort;
    QUdpSocket socket;
    AcknowledgementPolicy ackPolicy;
    std::function<double()> randomUnit;
    QMap<int, QString> vars;
    QMap<QString, QString> params;
    Counters count;
};
