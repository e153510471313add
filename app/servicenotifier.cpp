#include "app/servicenotifier.h"

#include <QTimer>
#include <limits>

#ifdef CORVELTA_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

ServiceNotifier::ServiceNotifier(QObject* parent)
    : QObject(parent)
{
#ifdef CORVELTA_SYSTEMD
    uint64_t watchdogUsec = 0;
    if (sd_watchdog_enabled(0, &watchdogUsec) <= 0 || watchdogUsec == 0)
        return;
    auto* pings = new QTimer(this);
    // Precise: a coarse timer may come late by a twentieth of its interval.
    pings->setTimerType(Qt::PreciseTimer);
    pings->setInterval(int(qBound<uint64_t>(1, watchdogUsec / 2000, std::numeric_limits<int>::max())));
    connect(pings, &QTimer::timeout, this, [this] { notify("WATCHDOG=1"); });
    pings->start();
#endif
}

void ServiceNotifier::ready()
{
    if (readySent || stoppingSent)
        return;
    readySent = true;
    notify("READY=1");
}

void ServiceNotifier::stopping()
{
    if (stoppingSent)
        return;
    stoppingSent = true;
    notify("STOPPING=1");
}

void ServiceNotifier::setStatus(const QString& line)
{
    if (line == status)
        return;
    status = line;
    notify("STATUS=" + line.toUtf8());
}

void ServiceNotifier::notify(const QByteArray& state)
{
#ifdef CORVELTA_SYSTEMD
    sd_notify(0, state.constData());
#else
    Q_UNUSED(state);
#endif
}
