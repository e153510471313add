#include "support/clockportlock.h"

#include <QFile>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char LockName[] = "corvelta-clockport";

int connectedSocket(bool bindIt)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, LockName, sizeof LockName - 1);  // sun_path[0] = 0: abstract
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + sizeof LockName);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto* a = reinterpret_cast<const sockaddr*>(&address);
    if (fd >= 0 && (bindIt ? ::bind(fd, a, length) == 0 && ::listen(fd, 128) == 0 : ::connect(fd, a, length) == 0))
        return fd;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    errno = error;
    return -1;
}

}  // namespace

ClockPortLock::ClockPortLock()
{
    bool told = false;
    while ((holder = connectedSocket(true)) < 0) {
        if (errno != EADDRINUSE) {
            std::fprintf(stderr, "Clock port lock not taken: %s\n", std::strerror(errno));
            return;
        }
        // Connected to the holder, which never answers: the read ends when it does.
        const int probe = connectedSocket(false);
        if (probe < 0) {
            ::usleep(10000);  // between one holder's end and the next one's start
            continue;
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        if (!told && ::getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0) {
            QFile comm(QString("/proc/%1/comm").arg(peer.pid));
            const QByteArray name = comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed() : "?";
            std::fprintf(stderr, "Waiting for the clock port (UDP 7372), held by process %d (%s)\n", int(peer.pid),
                         name.constData());
            told = true;
        }
        char byte;
        ssize_t n;
        while ((n = ::read(probe, &byte, 1)) > 0 || (n < 0 && errno == EINTR)) {
        }
        ::close(probe);
    }
}

ClockPortLock::~ClockPortLock()
{
    if (holder >= 0)
        ::close(holder);
}
