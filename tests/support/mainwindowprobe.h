#pragma once

// The tests' one way into the main window's private state: the window names
// this struct its friend. Accessors hand out references, so a test can read
// and set the same member.

#include <QNetworkRequest>
#include <QString>
#include <QTime>
#include <QTimer>
#include <QUrl>

#include "app/mainwindow.h"
#include "app/servicerequests.h"

struct MainWindowProbe
{
    // Scheduler.
    static QTimer* updateTimer(MainWindow& w) { return w.updateTimer; }
    static void tick(MainWindow& w) { w.timerTimeout(); }
    static qint64& weatherCounter(MainWindow& w) { return w.weatherCounter; }
    static qint64& stockCounter(MainWindow& w) { return w.stockCounter; }
    static int& weatherInterval(MainWindow& w) { return w.weatherInterval; }
    static int& stockInterval(MainWindow& w) { return w.stockInterval; }
    static QTime& weatherStart(MainWindow& w) { return w.weatherStart; }
    static QTime& weatherStop(MainWindow& w) { return w.weatherStop; }
    static QTime& stockStart(MainWindow& w) { return w.stockStart; }
    static QTime& stockStop(MainWindow& w) { return w.stockStop; }
    static bool& weatherWeekend(MainWindow& w) { return w.weatherWeekend; }
    static bool& stockWeekend(MainWindow& w) { return w.stockWeekend; }

    // Log file and settings file.
    static QFile& logFile(MainWindow& w) { return w.logFile; }
    static bool logOpen(MainWindow& w) { return w.logOpen; }
    static int logDay(MainWindow& w) { return w.logDay; }
    static QString logDir(MainWindow& w) { return w.logDir; }
    static QString& settingsFile(MainWindow& w) { return w.settingsFile; }

    // Services.
    static QString& weatherBaseUrl(MainWindow& w) { return w.weatherBaseUrl; }
    static QString& stockBaseUrl(MainWindow& w) { return w.stockBaseUrl; }
    static QString& stockHost(MainWindow& w) { return w.stockHost; }
    static QString& stockApiKey(MainWindow& w) { return w.stockApiKey; }
    static QNetworkAccessManager* networkManager(MainWindow& w) { return w.networkManager; }
    // Whether a request of the kind is outstanding.
    static bool running(MainWindow& w, RequestKind kind) { return w.serviceRequests->running(kind); }
    static bool anyRunning(MainWindow& w) { return w.serviceRequests->anyRunning(); }

    // Weather.
    static bool& units(MainWindow& w) { return w.units; }
    static QString& stationId(MainWindow& w) { return w.stationId; }
    static QString& gridId(MainWindow& w) { return w.gridId; }
    static QString& gridX(MainWindow& w) { return w.gridX; }
    static QString& gridY(MainWindow& w) { return w.gridY; }
    static QLabel* weatherLabel(MainWindow& w, int i) { return w.weatherVarLabels[i]; }
    // Asks for the station list of the grid the window holds.
    static void getStations(MainWindow& w) { w.getStations(w.gridId, w.gridX, w.gridY); }

    // Stocks.
    static QLabel* stockLabel(MainWindow& w, int i) { return w.stockVarLabels[i]; }
    // The ticker flags by letter: n(ame) t(icker) p(rice) c(hange) v(olume).
    static void setFlags(MainWindow& w, const QString& letters)
    {
        w.cbName = letters.contains('n');
        w.cbTicker = letters.contains('t');
        w.cbPrice = letters.contains('p');
        w.cbChange = letters.contains('c');
        w.cbVolume = letters.contains('v');
    }
    static void getStocks(MainWindow& w) { w.getStocks(); }
};
