#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (what systemctl stop, Ctrl-C, a shutdown
// script or a closed terminal send) into a signal of the event loop, so the
// program stops as an operator's close would. The handler only writes the
// signal's number to a socket pair; the event loop reads it. A second signal
// after the first ends the process at once (the stop is taking too long).
// Installed by main only; where the platform has no such signals nothing
// is installed.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

    // "SIGTERM", "SIGINT", "SIGHUP", or the number.
    static QString name(int signalNumber);

signals:
    void stopRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* notifier = nullptr;
};
