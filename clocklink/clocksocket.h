#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <atomic>
#include <functional>
#include <vector>

class QSocketNotifier;
class QUdpSocket;

// The clock link's UDP socket: bound to every address (IPv4 and IPv6) on one
// port with address reuse, made, used and deleted by the link's worker thread
// alone.
//
// On Linux the socket is the system's own, and its datagrams go in batches:
// send() collects up to BatchSize datagrams, which one sendmmsg call writes
// (at flush(), or when one more comes),
// and read() takes what is waiting with recvmmsg, BatchSize at a call, never
// peeking first. Elsewhere a QUdpSocket reads and writes one datagram at a
// time, as the link always did.
class ClockSocket : public QObject
{
    Q_OBJECT

public:
    // Datagrams written or read by one system call at most.
    static constexpr int BatchSize = 64;

    // `calls`, when given, counts the system calls that send or receive
    // datagrams (read by any thread).
    explicit ClockSocket(std::atomic<qint64>* calls = nullptr);
    ~ClockSocket() override;

    // Binds the port; false when that failed (datagrams then go out from
    // another port, and answers to it are still read).
    bool bind(quint16 port);

    // Writes `length` bytes of `data` to the address, at once or with the
    // next batch. An address that is null cannot be sent to and is skipped;
    // write errors are ignored, as for a lost datagram.
    void send(const QByteArray& data, int length, const QHostAddress& address, quint16 port);
    // The same to an IPv4 address given as a number (a clock's).
    void send(const QByteArray& data, int length, quint32 ipv4, quint16 port);
    // Writes the datagrams send() has collected.
    void flush();

    // One datagram read: its sender's IPv4 address (`isIPv4` false for
    // another sender) and its bytes (at most ReadBytes of them), valid
    // during the call.
    using Take = std::function<void(quint32 sender, bool isIPv4, const QByteArray& data)>;
    static constexpr int ReadBytes = 2048;
    // Reads the datagrams waiting, oldest first, at most `most` and at most
    // BatchSize (one system call on Linux). Returns how many were read;
    // fewer than asked for means none was left waiting.
    int read(int most, const Take& take);

    // Asks for a receive buffer of `bytes`; returns what the system granted.
    qint64 setReceiveBufferSize(qint64 bytes);

signals:
    // Datagrams are waiting to be read.
    void readyRead();

private:
    void countCall();

#ifdef Q_OS_LINUX
    struct Batches;
    // Adds a datagram to the batch, writing the batch once it is full.
    void collect(const QByteArray& data, int length, const void* address, unsigned addressLength);
    int fd = -1;
    bool dualStack = false;
    QSocketNotifier* notifier = nullptr;
    Batches* batches = nullptr;
#else
    QUdpSocket* socket = nullptr;
#endif
    std::atomic<qint64>* calls = nullptr;
};
