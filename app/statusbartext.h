#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTime>

// The main window's status bar: when each feed last refreshed successfully
// and which clocks answer, for example
//   Weather 14:03 · Stocks 14:03 · Clocks 3 of 4 answering · 10.0.0.7 not answering
namespace StatusBarText {

struct State
{
    QTime weather;  // invalid: no successful refresh yet
    QTime stocks;
    // Every clock the link has reported on, by address: whether it answers.
    QMap<QString, bool> clocks;
    // The addresses in the two clock lists: a clock listed in neither is
    // not shown.
    QSet<QString> listed;
};

QString compose(const State& state);

// The same in one line for the service manager (`systemctl status`), the
// clocks counted as in the status bar:
//   40 clocks, 3 not answering; weather 12:03, stocks 12:03
QString serviceLine(const State& state);

// The addresses of both clock lists, as the feeds send to them.
QSet<QString> listedClocks(const QString& weatherList, const QString& stockList);

}  // namespace StatusBarText
