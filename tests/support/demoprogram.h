#pragma once

// The real corvelta executable run as the offline demo runs it: a directory
// of its own with a copy of the executable and the demo settings file, the
// demo's substitute services (replies frozen at one moment, so the texts are
// known), and the clocks the caller binds. Stops both processes when it goes.

#include <QMap>
#include <QProcess>
#include <QString>
#include <QVariant>

class DemoProgram
{
public:
    ~DemoProgram();

    // Starts the services, writes the settings into `dir` (the demo's, with
    // `extra` keys on top) and starts the program there on the offscreen
    // platform. Returns what went wrong, or an empty text.
    QString start(const QString& dir, const QString& weatherClocks, const QString& stockClocks,
                  const QMap<QString, QVariant>& extra = {});

    // The program's output and the end of its day logs.
    QString diagnostics();
    // Today's log of the program, whole.
    QString log() const;

    QProcess program;
    QProcess services;

private:
    QString directory;
};
