#include "clocksim/simulatedclock.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTimer>

AcknowledgementDecision decideAcknowledgement(const AcknowledgementPolicy& policy, double randomUnit, double jitterUnit)
{
    AcknowledgementDecision decision;
    if (policy.silent) {
        decision.reason = QStringLiteral("silent");
        return decision;
    }
    if (policy.dropShare > 0.0 && randomUnit < policy.dropShare) {
        decision.reason = QStringLiteral("dropped");
        return decision;
    }
    decision.send = true;
    decision.delayMs = qMax(0, policy.delayMs);
    if (policy.delayJitterMs > 0)
        decision.delayMs += int(jitterUnit * (policy.delayJitterMs + 1));
    return decision;
}

SimulatedClock::SimulatedClock(const QHostAddress& address, quint16 port, QObject* parent)
    : QObject(parent)
    , clockAddress(address)
    , requestedPort(port)
    , socket(this)
    , randomUnit([] { return QRandomGenerator::global()->generateDouble(); })
{
    sinceCreated.start();
    connect(&socket, &QUdpSocket::readyRead, this, &SimulatedClock::readPending);
}

void SimulatedClock::setAnswer(const QByteArray& answer)
{
    ackPolicy.silent = answer.isEmpty();
    ackPolicy.answer = answer;
}

void SimulatedClock::sendTo(const QHostAddress& address, quint16 port, const QByteArray& data)
{
    socket.writeDatagram(data, address, port);
}

bool SimulatedClock::bind(QString* error)
{
    // Address reuse lets every simulated clock share port 7372 with the
    // program's own socket, which is bound to every local address.
    if (socket.bind(clockAddress, requestedPort, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        return true;
    if (error)
        *error = socket.errorString();
    return false;
}

void SimulatedClock::setParameter(const QString& name, const QString& value)
{
    params.insert(name, value);
    emit parameterChanged(name, value);
}

void SimulatedClock::readPending()
{
    while (socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket.receiveDatagram();
        // Announced once the clock has decided its answer, so a listener
        // that changes the answer changes it for the datagrams to come.
        if (handle(datagram.data(), datagram.senderAddress(), quint16(datagram.senderPort())))
            emit datagramArrived(datagram.data());
    }
}

bool SimulatedClock::handle(const QByteArray& datagram, const QHostAddress& sender, quint16 senderPort)
{
    if (ackPolicy.datagramDropShare > 0.0 && randomUnit() < ackPolicy.datagramDropShare) {
        ++count.lost;
        emit countersChanged();
        return false;
    }
    ++count.datagrams;
    arrivals.append({datagram, sender, senderPort, sinceCreated.elapsed()});
    const QString from =
        QStringLiteral("%1 from %2:%3").arg(clockAddress.toString(), sender.toString()).arg(senderPort);
    const ClockDatagramReading reading = ClockDatagramReader::read(datagram);
    if (!reading.valid) {
        ++count.malformed;
        emit report(QStringLiteral("%1: malformed datagram, %2, not answered [%3]")
                        .arg(from, reading.problem, ClockDatagramReader::hexPreview(datagram)));
        emit malformedReceived(reading.problem, datagram);
        emit countersChanged();
        return true;
    }

    const bool changed = !vars.contains(reading.variable) || vars.value(reading.variable) != reading.text;
    vars.insert(reading.variable, reading.text);

    // The jitter is drawn only for an answer that is sent.
    const double draw = randomUnit();
    AcknowledgementDecision decision = decideAcknowledgement(ackPolicy, draw);
    if (decision.send && ackPolicy.delayJitterMs > 0)
        decision = decideAcknowledgement(ackPolicy, draw, randomUnit());
    const QByteArray plainAnswer = ackPolicy.answer.isEmpty() ? ClockAcknowledgement : ackPolicy.answer;
    const QByteArray answerBytes = ackPolicy.echoDatagram ? plainAnswer + datagram : plainAnswer;
    QString answer;
    if (!decision.send) {
        ++count.withheld;
        answer = QStringLiteral("no acknowledgement (%1)").arg(decision.reason);
    } else if (decision.delayMs > 0) {
        answer = QStringLiteral("acknowledged after %1 ms").arg(decision.delayMs);
    } else {
        answer = QStringLiteral("acknowledged");
    }
    emit report(QStringLiteral("%1: var %2 = \"%3\"%4, %5")
                    .arg(from)
                    .arg(reading.variable)
                    .arg(reading.text, changed ? QString() : QStringLiteral(" (repeat)"), answer));
    emit variableReceived(reading.variable, reading.text, changed);

    if (decision.send) {
        if (decision.delayMs > 0) {
            // The clock as context: a clock closed meanwhile sends nothing.
            QTimer::singleShot(decision.delayMs, Qt::PreciseTimer, this, [this, sender, senderPort, answerBytes] {
                acknowledge(sender, senderPort, answerBytes);
            });
        } else {
            acknowledge(sender, senderPort, answerBytes);
        }
    }
    emit countersChanged();
    return true;
}

void SimulatedClock::acknowledge(const QHostAddress& sender, quint16 senderPort, const QByteArray& answer)
{
    socket.writeDatagram(answer, sender, senderPort);
    ++count.acknowledged;
    emit countersChanged();
}
