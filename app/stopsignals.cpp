#include "app/stopsignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
const int StopSignalNumbers[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, read by the event loop; the handler never blocks.
int signalPipe[2] = {-1, -1};
volatile sig_atomic_t stopping = 0;

// Only async-signal-safe calls here.
void onStopSignal(int signalNumber)
{
    if (stopping) {
        // Closing already: the default action ends the process now.
        ::signal(signalNumber, SIG_DFL);
        ::raise(signalNumber);
        return;
    }
    stopping = 1;
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}
#endif

}  // namespace

void StopSignals::catchFromNow()
{
#ifdef Q_OS_UNIX
    if (signalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        qWarning("Stop signals not handled: no socket pair (%s)", std::strerror(errno));
        signalPipe[0] = signalPipe[1] = -1;
        return;
    }
    stopping = 0;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : StopSignalNumbers)
        ::sigaction(signalNumber, &action, nullptr);
#endif
}

StopSignals::StopSignals(QObject* parent)
    : QObject(parent)
{
#ifdef Q_OS_UNIX
    catchFromNow();
    if (signalPipe[0] < 0)
        return;
    // A byte already waiting (a signal caught earlier) is read at the event loop's first turn.
    notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &StopSignals::readSignal);
#endif
}

StopSignals::~StopSignals()
{
#ifdef Q_OS_UNIX
    if (!notifier)
        return;
    for (int signalNumber : StopSignalNumbers)
        ::signal(signalNumber, SIG_DFL);
    delete notifier;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
#endif
}

QString StopSignals::name(int signalNumber)
{
#ifdef Q_OS_UNIX
    switch (signalNumber) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    }
#endif
    return QString::number(signalNumber);
}

void StopSignals::readSignal()
{
#ifdef Q_OS_UNIX
    char byte = 0;
    if (::read(signalPipe[0], &byte, 1) == 1)
        emit stopRequested(int(byte));
#endif
}
