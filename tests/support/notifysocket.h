#pragma once

// The service manager's side of the notifications a program started as a
// Type=notify service sends: a Unix datagram socket at the path that
// NOTIFY_SOCKET names. Every message is kept with the moment it arrived.

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

class NotifySocket
{
public:
    explicit NotifySocket(const QString& path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = path.toLocal8Bit();
        std::memcpy(address.sun_path, name.constData(), size_t(qMin(name.size(), int(sizeof address.sun_path) - 1)));
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
            QObject::connect(notifier, &QSocketNotifier::activated, [this] { receive(); });
        }
        clock.start();
    }
    ~NotifySocket()
    {
        delete notifier;
        if (fd >= 0)
            ::close(fd);
    }
    bool isBound() const { return notifier != nullptr; }

    QStringList messages;
    QVector<qint64> arrivedMs;  // since the socket was made, one per message

private:
    void receive()
    {
        char buffer[4096];
        ssize_t size = 0;
        while ((size = ::recv(fd, buffer, sizeof buffer, 0)) >= 0) {
            messages << QString::fromUtf8(buffer, int(size));
            arrivedMs << clock.elapsed();
        }
    }

    int fd = -1;
    QSocketNotifier* notifier = nullptr;
    QElapsedTimer clock;
};
