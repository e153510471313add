#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QUdpSocket>

// Plays one clock on a loopback address, port 7372 by default: records every
// datagram that arrives and, unless told otherwise, answers each with "A".
class SubstituteClock : public QObject
{
    Q_OBJECT

public:
    struct Arrival
    {
        QByteArray data;
        QHostAddress sender;
        quint16 senderPort = 0;
        qint64 msecs = 0;  // since this substitute was created
    };

    explicit SubstituteClock(const QHostAddress& address, quint16 port = 7372,
                             QObject* parent = nullptr);

    bool isBound() const;
    QHostAddress address() const { return boundAddress; }

    // What the clock answers each datagram with; an empty answer means silence.
    void setAnswer(const QByteArray& answer) { answerBytes = answer; }

    // Sends any datagram from the clock's address and port.
    void sendTo(const QHostAddress& address, quint16 port, const QByteArray& data);

    QList<Arrival> arrivals;
    QElapsedTimer clock;

signals:
    void datagramReceived(const QByteArray& data);

private slots:
    void readPending();

private:
    QUdpSocket socket;
    QHostAddress boundAddress;
    QByteArray answerBytes = "A";
};
