#include "app/instanceguard.h"

#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_LINUX
// Not the name of the tests' clock-port lock: tests that hold that lock
// still run beside a Corvelta that holds this one.
const char GuardName[] = "corvelta-running-instance";

// A socket bound to the guard's name and listening (`bind`), or connected
// to its holder; -1 with errno set when that fails.
int guardSocket(bool bind)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, GuardName, sizeof GuardName - 1);  // leading 0: abstract namespace
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + sizeof GuardName);
    const auto* a = reinterpret_cast<const sockaddr*>(&address);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (bind ? ::bind(fd, a, length) == 0 && ::listen(fd, 8) == 0 : ::connect(fd, a, length) == 0)
        return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}
#endif

}  // namespace

InstanceGuard::InstanceGuard(QObject* parent)
    : QObject(parent)
{}

InstanceGuard::~InstanceGuard()
{
    delete notifier;
#ifdef Q_OS_LINUX
    if (listening >= 0)
        ::close(listening);
#endif
}

bool InstanceGuard::take()
{
#ifdef Q_OS_LINUX
    // The holder may end between a refused bind and the connect: then try
    // again, a few times.
    for (int attempt = 0; attempt < 20; ++attempt) {
        listening = guardSocket(true);
        if (listening >= 0)
            return true;
        if (errno != EADDRINUSE) {
            // No guard to be had here: better one copy unguarded than none running.
            qWarning("Corvelta runs without its single-copy guard: %s", std::strerror(errno));
            return true;
        }
        const int other = guardSocket(false);
        if (other < 0)
            continue;
        ucred peer{};
        socklen_t size = sizeof peer;
        holder = ::getsockopt(other, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 ? peer.pid : 0;
        ::close(other);
        return false;
    }
#endif
    return true;
}

void InstanceGuard::watchForOtherStarts()
{
    if (listening < 0 || notifier)
        return;
    notifier = new QSocketNotifier(listening, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &InstanceGuard::acceptOtherStart);
}

void InstanceGuard::acceptOtherStart()
{
#ifdef Q_OS_LINUX
    const int other = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (other < 0)
        return;
    ::close(other);
    emit anotherStartRefused();
#endif
}
