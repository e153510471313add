#pragma once

// The settings file beside the test executable, and plain text files the
// program writes.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSettings>
#include <QStringList>
#include <QTest>
#include <QVariant>

#include "app/mainwindow.h"
#include "app/statusfile.h"

// The keys the program writes, in the order it writes them.
inline QStringList settingsKeys()
{
    QStringList keys;
    for (const SettingsKey& key : MainWindow::settingsKeys()) {
        if (key.written())
            keys << key.name;
    }
    return keys;
}

// Compares two sets of values key by key, so a failure names the key.
inline void compareValues(const QVariantMap& actual, const QVariantMap& expected)
{
    QCOMPARE(actual.keys(), expected.keys());
    for (const QString& key : expected.keys())
        QVERIFY2(
            actual[key] == expected[key],
            qPrintable(QString("%1: got %2, expected %3").arg(key, actual[key].toString(), expected[key].toString())));
}

// The settings file the window reads: crv_settings.ini beside the executable.
inline QString settingsFilePath()
{
    return QCoreApplication::applicationDirPath() + "/crv_settings.ini";
}

// Starts from no settings file at all, or from one holding only `values`.
// The two service hosts point at a closed local port unless `values` names
// them, so no scheduled or pressed update can ever leave this machine, and
// no web page is served unless `values` asks for one.
inline void prepareSettingsFile(QMap<QString, QVariant> values = {}, bool localServices = true)
{
    QFile::remove(settingsFilePath());
    if (localServices) {
        if (!values.contains("weatherhost"))
            values.insert("weatherhost", "http://127.0.0.1:9");
        if (!values.contains("stockhost"))
            values.insert("stockhost", "http://127.0.0.1:9");
        if (!values.contains("webport"))
            values.insert("webport", 0);
    }
    if (values.isEmpty())
        return;
    QSettings settings(settingsFilePath(), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
}

// Writes the settings file byte for byte, as a person or a damaged disk
// would: `lines` after the [General] line and, unless `localServices` is
// false (then `lines` is the whole file), the two service hosts on a closed
// local port and no web page.
inline void writeRawSettingsFile(const QByteArray& lines, bool localServices = true)
{
    QFile file(settingsFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    if (localServices)
        file.write("[General]\nweatherhost=http://127.0.0.1:9\nstockhost=http://127.0.0.1:9\nwebport=0\n");
    file.write(lines);
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

// The status file in the working directory, read as JSON; an empty object
// while there is none.
inline QJsonValue readStatusFile()
{
    QFile file(QDir::current().filePath(StatusFile::FileName));
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}
