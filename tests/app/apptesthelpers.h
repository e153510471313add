#pragma once

// Helpers shared by the application-core tests: a settable clock, a capture
// of the debug output, and the settings file beside the test executable.

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QMap>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include "timesource.h"

// Makes TimeSource::now() return `current` for as long as it lives.
class FixedClock
{
public:
    explicit FixedClock(const QDateTime& start) : current(start)
    {
        TimeSource::setNowFunction([this] { return current; });
    }
    ~FixedClock() { TimeSource::setNowFunction({}); }
    FixedClock(const FixedClock&) = delete;
    FixedClock& operator=(const FixedClock&) = delete;

    QDateTime current;
};

// Records every debug, warning and other message while it lives; warnings
// and worse are passed on, so a strict test still sees them.
class DebugCapture
{
public:
    DebugCapture()
    {
        active() = this;
        previous = qInstallMessageHandler(&DebugCapture::handle);
    }
    ~DebugCapture()
    {
        qInstallMessageHandler(previous);
        active() = nullptr;
    }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    QStringList debugLines;  // messages of type QtDebugMsg, in order
    QStringList otherLines;  // everything else

private:
    static DebugCapture*& active()
    {
        static DebugCapture* current = nullptr;
        return current;
    }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        DebugCapture* self = active();
        if (!self)
            return;
        if (type == QtDebugMsg) {
            self->debugLines << message;
        } else {
            self->otherLines << message;
            if (self->previous)
                self->previous(type, context, message);
        }
    }

    QtMessageHandler previous = nullptr;
};

// The 33 keys of the settings file, in the order the program writes them.
inline const QStringList& settingsKeys()
{
    static const QStringList keys = {
        "latitudeEdit", "longitudeEdit", "units", "gridid", "gridx", "gridy", "stationid",
        "weathercombo1", "weathercombo2", "weathercombo3", "weathercombo4", "weathercombo5",
        "clockweatheriplist", "stockapikey", "stockedit1", "stockedit2", "stockedit3", "stockedit4",
        "stockedit5", "clockstockiplist", "cbname", "cbticker", "cbprice", "cbchange", "cbvolume",
        "weatherstart", "weatherstop", "stockstart", "stockstop", "weatherinterval", "stockinterval",
        "weatherweekend", "stockweekend"};
    return keys;
}

// The settings file the window reads: crv_settings.ini beside the executable.
inline QString settingsFilePath()
{
    return QCoreApplication::applicationDirPath() + "/crv_settings.ini";
}

// Starts from no settings file at all, or from one holding only `values`.
// The two service hosts point at a closed local port unless `values` names
// them, so no scheduled or pressed update can ever leave this machine.
inline void prepareSettingsFile(QMap<QString, QVariant> values = {}, bool localServices = true)
{
    QFile::remove(settingsFilePath());
    if (localServices) {
        if (!values.contains("weatherhost"))
            values.insert("weatherhost", "http://127.0.0.1:9");
        if (!values.contains("stockhost"))
            values.insert("stockhost", "http://127.0.0.1:9");
    }
    if (values.isEmpty())
        return;
    QSettings settings(settingsFilePath(), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
}

// All lines of a text file, without their line ends.
inline QStringList fileLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}
