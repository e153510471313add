#pragma once

// systemd's end of a Type=notify service's notifications (NOTIFY_SOCKET), with every message received.

#include <QSocketNotifier>
#include <QStringList>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

struct NotifySocket
{
    explicit NotifySocket(const QString& path)
    {
        sockaddr_un address{AF_UNIX, {}};
        qstrncpy(address.sun_path, qPrintable(path), sizeof address.sun_path);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            QObject::connect(&notifier, &QSocketNotifier::activated, [this] {
                char buffer[4096];
                for (ssize_t size; (size = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0;)
                    messages << QString::fromUtf8(buffer, int(size));
            });
    }
    ~NotifySocket() { ::close(fd); }

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QSocketNotifier notifier{fd, QSocketNotifier::Read};
    QStringList messages;
};
