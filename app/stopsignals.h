#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (what systemctl stop, Ctrl-C, a shutdown
// script or a closed terminal send) into a signal of the event loop, so the
// program stops as an operator's close would. The handler only writes the
// signal's number to a socket pair; the event loop reads it. A second signal
// after the first ends the process at once (the stop is taking too long).
// Caught by main only, from its first line: a signal that comes before the
// event loop runs waits in the socket pair and is reported once it does, so
// a stop at any moment of the start is as orderly as a later one. Where the
// platform has no such signals nothing is installed.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    // Catches the signals from now on, keeping them for the object made
    // later; needs no application object.
    static void catchFromNow();

    // Reports every signal caught, also one caught before it was made.
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
