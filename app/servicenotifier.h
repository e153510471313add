#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// Tells systemd, when it started Corvelta as a Type=notify service, how the
// program is: ready (the settings read, the window shown), alive (a ping
// from the window thread's event loop at half the watchdog time systemd
// asks for, so an event loop that is stuck stops the pings and systemd
// restarts the program), stopping, and a one-line state for `systemctl
// status`. Through libsystemd (Linux): it reads NOTIFY_SOCKET,
// WATCHDOG_USEC and WATCHDOG_PID from the environment and does nothing
// where they are not set; a build without libsystemd has no notifications.
class ServiceNotifier : public QObject
{
    Q_OBJECT

public:
    // Starts the pings when systemd asks for them.
    explicit ServiceNotifier(QObject* parent = nullptr);

    // READY=1, once; nothing after the stop has begun.
    void ready();
    // STOPPING=1, once: the orderly stop begins.
    void stopping();
    // STATUS=<line>, when the line changed.
    void setStatus(const QString& line);

private:
    void notify(const QByteArray& state);

    bool readySent = false;
    bool stoppingSent = false;
    QString status;
};
