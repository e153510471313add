#include "clocklink/clocksocket.h"

#ifdef Q_OS_LINUX
#include <QSocketNotifier>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#else
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <climits>
#endif

void ClockSocket::countCall()
{
    if (calls)
        calls->fetch_add(1, std::memory_order_relaxed);
}

#ifdef Q_OS_LINUX

// The messages of one sendmmsg and one recvmmsg call, made once.
struct ClockSocket::Batches
{
    mmsghdr out[BatchSize];
    iovec outData[BatchSize];
    sockaddr_storage outAddress[BatchSize];
    QByteArray outBytes[BatchSize];  // each datagram's bytes, held until written
    int outCount = 0;

    mmsghdr in[BatchSize];
    iovec inData[BatchSize];
    sockaddr_storage inAddress[BatchSize];
    char inBytes[BatchSize][ReadBytes];
};

ClockSocket::ClockSocket(std::atomic<qint64>* calls)
    : batches(new Batches)
    , calls(calls)
{
    // IPv4 and IPv6 on one socket, IPv4 senders as ::ffff:a.b.c.d; IPv4
    // alone where the system has no IPv6.
    fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        const int no = 0;
        dualStack = ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no) == 0;
        if (!dualStack) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0)
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    // Address reuse, so that a clock simulator on this machine can share the port.
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &ClockSocket::readyRead);
    std::memset(batches->out, 0, sizeof batches->out);
    std::memset(batches->in, 0, sizeof batches->in);
    for (int i = 0; i < BatchSize; ++i) {
        batches->in[i].msg_hdr.msg_name = &batches->inAddress[i];
        batches->in[i].msg_hdr.msg_iov = &batches->inData[i];
        batches->in[i].msg_hdr.msg_iovlen = 1;
        batches->inData[i].iov_base = batches->inBytes[i];
        batches->inData[i].iov_len = ReadBytes;
        batches->out[i].msg_hdr.msg_name = &batches->outAddress[i];
        batches->out[i].msg_hdr.msg_iov = &batches->outData[i];
        batches->out[i].msg_hdr.msg_iovlen = 1;
    }
}

ClockSocket::~ClockSocket()
{
    delete notifier;
    if (fd >= 0)
        ::close(fd);
    delete batches;
}

bool ClockSocket::bind(quint16 port)
{
    if (fd < 0)
        return false;
    if (dualStack) {
        sockaddr_in6 any = {};
        any.sin6_family = AF_INET6;
        any.sin6_addr = in6addr_any;
        any.sin6_port = htons(port);
        return ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0;
    }
    sockaddr_in any = {};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(port);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0;
}

void ClockSocket::send(const QByteArray& data, int length, const QHostAddress& address, quint16 port)
{
    if (address.isNull())
        return;
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (isIPv4) {
        send(data, length, ipv4, port);
        return;
    }
    if (fd < 0 || !dualStack)
        return;  // an IPv6 address, and no IPv6 here
    sockaddr_in6 to = {};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(port);
    const Q_IPV6ADDR ipv6 = address.toIPv6Address();
    std::memcpy(to.sin6_addr.s6_addr, ipv6.c, 16);
    collect(data, length, &to, sizeof to);
}

void ClockSocket::send(const QByteArray& data, int length, quint32 ipv4, quint16 port)
{
    if (fd < 0)
        return;
    if (dualStack) {
        sockaddr_in6 to = {};  // ::ffff:a.b.c.d
        to.sin6_family = AF_INET6;
        to.sin6_port = htons(port);
        to.sin6_addr.s6_addr[10] = 0xFF;
        to.sin6_addr.s6_addr[11] = 0xFF;
        const quint32 network = htonl(ipv4);
        std::memcpy(&to.sin6_addr.s6_addr[12], &network, 4);
        collect(data, length, &to, sizeof to);
        return;
    }
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(ipv4);
    collect(data, length, &to, sizeof to);
}

void ClockSocket::collect(const QByteArray& data, int length, const void* address, unsigned addressLength)
{
    // A full batch goes before this one is added, not as it fills: the
    // link collects a batch with its queue locked and writes it after.
    if (batches->outCount == BatchSize)
        flush();
    const int slot = batches->outCount++;
    std::memcpy(&batches->outAddress[slot], address, addressLength);
    batches->out[slot].msg_hdr.msg_namelen = addressLength;
    batches->outBytes[slot] = data;
    batches->outData[slot].iov_base = const_cast<char*>(data.constData());
    batches->outData[slot].iov_len = size_t(qBound(0, length, data.size()));
}

void ClockSocket::flush()
{
    const int count = batches->outCount;
    int done = 0;
    while (done < count) {
        const int sent = ::sendmmsg(fd, batches->out + done, unsigned(count - done), 0);
        countCall();
        if (sent > 0) {
            done += sent;
        } else if (sent == 0) {
            break;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
            break;  // the system takes no more now: the rest are lost, as datagrams may be
        } else {
            ++done;  // this one cannot go (an unreachable address): lost, the others still go
        }
    }
    for (int i = 0; i < count; ++i)
        batches->outBytes[i] = QByteArray();
    batches->outCount = 0;
}

int ClockSocket::read(int most, const Take& take)
{
    if (fd < 0 || most <= 0)
        return 0;
    const int want = qMin(most, int(BatchSize));
    for (int i = 0; i < want; ++i)
        batches->in[i].msg_hdr.msg_namelen = sizeof batches->inAddress[i];
    int got = -1;
    do {
        got = ::recvmmsg(fd, batches->in, unsigned(want), MSG_DONTWAIT, nullptr);
        countCall();
    } while (got < 0 && errno == EINTR);
    for (int i = 0; i < got; ++i) {
        const sockaddr_storage& from = batches->inAddress[i];
        quint32 sender = 0;
        bool isIPv4 = false;
        if (from.ss_family == AF_INET) {
            sender = ntohl(reinterpret_cast<const sockaddr_in&>(from).sin_addr.s_addr);
            isIPv4 = true;
        } else if (from.ss_family == AF_INET6) {
            const in6_addr& address = reinterpret_cast<const sockaddr_in6&>(from).sin6_addr;
            if (IN6_IS_ADDR_V4MAPPED(&address)) {
                std::memcpy(&sender, &address.s6_addr[12], 4);
                sender = ntohl(sender);
                isIPv4 = true;
            }
        }
        const int size = int(qMin<unsigned>(batches->in[i].msg_len, ReadBytes));
        take(sender, isIPv4, QByteArray::fromRawData(batches->inBytes[i], size));
    }
    return qMax(0, got);
}

qint64 ClockSocket::setReceiveBufferSize(qint64 bytes)
{
    if (fd < 0)
        return 0;
    const int asked = int(qMin<qint64>(bytes, INT_MAX));
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &asked, sizeof asked);
    int granted = 0;
    socklen_t length = sizeof granted;
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &length);
    return granted;
}

#else

ClockSocket::ClockSocket(std::atomic<qint64>* calls)
    : socket(new QUdpSocket(this))
    , calls(calls)
{
    connect(socket, &QUdpSocket::readyRead, this, &ClockSocket::readyRead);
}

ClockSocket::~ClockSocket() = default;

bool ClockSocket::bind(quint16 port)
{
    return socket->bind(QHostAddress::Any, port, QAbstractSocket::ReuseAddressHint);
}

void ClockSocket::send(const QByteArray& data, int length, const QHostAddress& address, quint16 port)
{
    if (address.isNull())
        return;
    socket->writeDatagram(data.constData(), qBound(0, length, data.size()), address, port);
    countCall();
}

void ClockSocket::send(const QByteArray& data, int length, quint32 ipv4, quint16 port)
{
    send(data, length, QHostAddress(ipv4), port);
}

void ClockSocket::flush() {}

int ClockSocket::read(int most, const Take& take)
{
    int read = 0;
    while (read < qMin(most, int(BatchSize))) {
        countCall();
        if (!socket->hasPendingDatagrams())
            break;
        const QNetworkDatagram datagram = socket->receiveDatagram();
        countCall();
        if (!datagram.isValid())
            break;
        ++read;
        bool isIPv4 = false;
        const quint32 sender = datagram.senderAddress().toIPv4Address(&isIPv4);
        take(sender, isIPv4, datagram.data().left(ReadBytes));
    }
    return read;
}

qint64 ClockSocket::setReceiveBufferSize(qint64 bytes)
{
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, int(qMin<qint64>(bytes, INT_MAX)));
    return socket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toLongLong();
}

#endif
