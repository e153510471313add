#include "app/instanceguard.h"

#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_LINUX
// Not the name of the tests' clock-port lock: tests that hold that lock
// still run beside a Corvelta that holds this one.
const char GuardName[] = "corvelta-running-instance";

// How long a second copy waits for the holder's answer, from its first try.
constexpr std::chrono::milliseconds AnswerTimeLimit(2000);

using Clock = std::chrono::steady_clock;

sockaddr_un guardAddress(socklen_t& length)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, GuardName, sizeof GuardName - 1);  // leading 0: abstract namespace
    length = socklen_t(offsetof(sockaddr_un, sun_path) + sizeof GuardName);
    return address;
}

// A socket bound to the guard's name and listening; -1 with errno set when
// that fails.
int listeningSocket()
{
    socklen_t length = 0;
    const sockaddr_un address = guardAddress(length);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 && ::listen(fd, 8) == 0)
        return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(qBound<qint64>(0, left, INT_MAX));
}

enum class Answer {
    Given,
    None,
    Closed,      // no byte: the holder ended, or is a version that answers by closing
    HolderGone,  // ended since its name was found taken
};

// Asks the holder of the guard to raise its window and waits for its byte
// until `deadline`, never longer: a connect to a holder whose queue is full
// is tried again, not waited on. `pid` is the holder's, once connected.
Answer askHolder(Clock::time_point deadline, qint64& pid)
{
    socklen_t length = 0;
    const sockaddr_un address = guardAddress(length);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return Answer::None;
    Answer answer = Answer::None;
    bool connected = false;
    for (;;) {
        connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
        if (connected)
            break;
        if (errno == ECONNREFUSED || errno == ENOENT) {
            answer = Answer::HolderGone;
            break;
        }
        if ((errno != EAGAIN && errno != EINTR) || millisecondsUntil(deadline) == 0)
            break;
        ::poll(nullptr, 0, qMin(20, millisecondsUntil(deadline)));
    }
    if (connected) {
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0)
            pid = peer.pid;
        pollfd reply{fd, POLLIN, 0};
        int ready = 0;
        while ((ready = ::poll(&reply, 1, millisecondsUntil(deadline))) < 0 && errno == EINTR) {
        }
        char byte = 0;
        const ssize_t got = ready > 0 ? ::read(fd, &byte, 1) : -1;
        // Readable without a byte: the holder closed (its end, or its way of answering).
        answer = got > 0 ? Answer::Given : ready > 0 ? Answer::Closed : Answer::None;
    }
    ::close(fd);
    return answer;
}

// The folder's lock file, beside the settings file in the program's folder.
QByteArray lockFilePath()
{
    char path[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path - 1);
    const QByteArray program(path, int(qMax<ssize_t>(0, size)));
    return program.left(program.lastIndexOf('/') + 1) + "corvelta.lock";
}

// The process id the lock file holds while its lock is held; 0 otherwise.
qint64 lockHolder(int fd)
{
    char text[32] = {};
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0 || ::pread(fd, text, sizeof text - 1, 0) <= 0)
        return 0;
    return std::atoll(text);
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
    if (folderLock >= 0)
        ::close(folderLock);
#endif
}

InstanceGuard::Outcome InstanceGuard::take()
{
#ifdef Q_OS_LINUX
    // The socket: one copy per network namespace.
    const Clock::time_point deadline = Clock::now() + AnswerTimeLimit;
    bool closedBefore = false;
    for (int attempt = 0; listening < 0 && attempt < 20; ++attempt) {
        listening = listeningSocket();
        if (listening >= 0)
            break;
        if (errno != EADDRINUSE) {
            // No guard to be had here: better one copy unguarded than none running.
            qWarning("Corvelta runs without its single-copy guard: %s", std::strerror(errno));
            break;
        }
        const Answer answer = askHolder(deadline, holder);
        // Closed twice: a holder that lives on and answers by closing.
        if (answer == Answer::Given || (answer == Answer::Closed && closedBefore))
            return Outcome::Refused;
        if (answer == Answer::None) {
            // Not connected (its queue full): the lock file of this folder may name it.
            const int fd = holder ? -1 : ::open(lockFilePath().constData(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) {
                holder = lockHolder(fd);
                ::close(fd);
            }
            return Outcome::NotAnswering;
        }
        // Perhaps ended: the name is tried again.
        closedBefore = closedBefore || answer == Answer::Closed;
    }

    // The folder's lock: one copy per folder, whatever its network namespace.
    const QByteArray lockPath = lockFilePath();
    folderLock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (folderLock < 0) {
        qWarning("Corvelta runs without its folder lock %s: %s", lockPath.constData(), std::strerror(errno));
        return Outcome::Taken;
    }
    if (::flock(folderLock, LOCK_EX | LOCK_NB) != 0) {
        holder = lockHolder(folderLock);
        return Outcome::Refused;
    }
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(folderLock, 0) != 0 || ::write(folderLock, pid.constData(), size_t(pid.size())) != pid.size())
        qWarning("Corvelta cannot write its process id to %s: %s", lockPath.constData(), std::strerror(errno));
#endif
    return Outcome::Taken;
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
    const int other = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (other < 0)
        return;
    emit anotherStartRefused();
    // The answer: the window is in front. A copy that stopped waiting has
    // closed its end; that must not end this one (no SIGPIPE).
    const char byte = 1;
    [[maybe_unused]] const ssize_t sent = ::send(other, &byte, 1, MSG_NOSIGNAL);
    ::close(other);
#endif
}
