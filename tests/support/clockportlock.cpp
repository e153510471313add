#include "support/clockportlock.h"

#include <QFile>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int abstractSocket(const char* name, bool listen)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t size = qMin(std::strlen(name), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name, size);  // a leading 0: the abstract namespace
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size);
    const auto* a = reinterpret_cast<const sockaddr*>(&address);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || (listen ? ::bind(fd, a, length) == 0 && ::listen(fd, 128) == 0 : ::connect(fd, a, length) == 0))
        return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

namespace {

// The lock's socket, taken (`take`) or connected to whoever holds it.
int lockSocket(bool take)
{
    return abstractSocket("corvelta-clockport", take);
}

}  // namespace

ClockPortLock::ClockPortLock()
{
    bool told = false;
    while ((holder = lockSocket(true)) < 0 && errno == EADDRINUSE) {
        // Connected to the holder, which never answers: the read ends when the holder does.
        const int probe = lockSocket(false);
        ucred peer{};
        socklen_t size = sizeof peer;
        if (probe >= 0 && !told && ::getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0) {
            QFile comm(QString("/proc/%1/comm").arg(peer.pid));
            const QByteArray name = comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed() : "?";
            std::fprintf(stderr, "Waiting for the clock port (UDP 7372), held by process %d (%s)\n", int(peer.pid),
                         name.constData());
            told = true;
        }
        char byte;
        while (probe >= 0 && (::read(probe, &byte, 1) > 0 || errno == EINTR)) {
        }
        if (probe < 0)
            ::usleep(10000);  // between one holder's end and the next one's start
        else
            ::close(probe);
    }
    if (holder < 0)
        std::fprintf(stderr, "Clock port lock not taken: %s\n", std::strerror(errno));
}

ClockPortLock::~ClockPortLock()
{
    if (holder >= 0)
        ::close(holder);
}
