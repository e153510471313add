#pragma once

#include <QDate>
#include <QFile>
#include <QList>
#include <QMainWindow>
#include <QMutex>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QTime>

#include <QPointer>
#include <array>

#include "app/feedstatus.h"
#include "app/requestkind.h"
#include "app/settingskeys.h"
#include "app/statusbartext.h"
#include "stocks/stockquoterecord.h"
#include "weather/weatheritems.h"

class AlertsForecastFeed;
class ClocksTableModel;
class ClocksWindow;
class QCloseEvent;
class QComboBox;
class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class RefreshPlan;
class ServiceRequests;
class StatusBoard;
class WebServer;

namespace Ui {
class MainWindow;
}

// The program's one window and its controller: it owns the form, the network
// access manager of both feeds, the update timer, the log file and the
// in-memory settings, and it starts and stops the clock link. What it does
// beyond its own operations it hands to the objects it owns: the requests to
// the services (ServiceRequests), each feed's retries and suspension
// (RefreshPlan), the alerts and forecast rows (AlertsForecastFeed), the
// clocks' state with the status file (StatusBoard), and the web page of it
// (WebServer).
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Reading replies: cuts the value that follows the colon at `position`.
    void extractJsonValue(const QString& text, QString& key, QString& value, int position, int& resumePosition);

    // Weather texts for the clocks, in the units `units` selects.
    QString formatTemperature(QString raw);
    QString formatHumidity(QString raw);
    QString formatWind(QString speed, QString direction);

    // Changes one variable of one clock (queued for the clock link).
    void SendClockVar(QString address, int var, QString text);

    // Log file.
    void logLine(QString message);
    void openLogFile(QString dir);
    void reopenLogFile();
    void removeOldLogs(int daysBack);

    // Settings file: every key, in the order of the file (app/windowsettingsfile.cpp).
    static const QVector<SettingsKey>& settingsKeys();
    void loadSettings();
    void saveSettings();
    // Writes the file when a written setting changed since it was last
    // written or loaded, or when there is no file yet; hand edits made
    // while nothing changed here are left alone.
    void saveSettingsIfChanged();

    // The one orderly stop, run once whatever asks for it (the window's
    // close, a stop signal, the end of the session): settings written if
    // they changed, the shutdown line logged, the last status file written,
    // the log file closed.
    void shutDown();

    using Trigger = RequestTrigger;

    // Weather requests.
    void getStations(QString gridId, QString gridX, QString gridY);
    void getWeather(QString stationId, Trigger trigger = Trigger::Operator);

    // Status bar: a feed's refresh has been delivered (a weather observation
    // or a stock reply handled); the bar shows the time of the last one.
    void noteRefreshSucceeded(FeedStatus::Feed feed);

    // The Clocks window (app/windowclocks.cpp): opens it, or brings it to
    // the front ("Clocks…" in the status bar, Ctrl+K).
    void openClocksWindow();

signals:
    void OnSendToLogfile(QString);
    // The state in one line for the service manager, with each change of
    // the status bar: "40 clocks, 3 not answering; weather 12:03, stocks 12:03".
    void serviceStatusChanged(QString line);

private slots:
    void closeEvent(QCloseEvent* event) override;
    // Hands every finished reply to the requests object, which calls the
    // reply branch of its kind.
    void httpResponses(QNetworkReply* rep);
    void sslErrors(QNetworkReply* reply, QList<QSslError> errors);
    void on_coordsPushButton_clicked();
    void on_updateWeatherPushButton_clicked();
    void on_metricCheckBox_toggled(bool checked);
    void on_locationComboBox_currentTextChanged(QString arg1);
    void timerTimeout();
    void getStocks(MainWindow::Trigger trigger = MainWindow::Trigger::Operator);
    void on_updateStocksPushButton_clicked();
    void on_setupPushButton_clicked();
    void SendToLogfile(QString s);

private:
    // Reply branches, one per kind of request, called by serviceRequests.
    void handlePointReply(const QString& text);
    void handleStationListReply(const QString& text);
    void handleObservationReply(const QString& text);
    void handleStockReply(const QString& text);
    // Which reply goes to which branch, and which plan its failures and
    // answers tell (app/mainwindow.cpp).
    void routeReplies();

    // Log file (app/windowlogfile.cpp): opens the log file of `date` in
    // `dir` (start-up and rollover).
    void openLogFileForDate(const QString& dir, const QDate& date);
    // Deletes the day logs older than `logDays` days in the log directory.
    void removeExpiredLogs();
    // Logs a failure of a feed's request or reply and keeps it for the
    // status file.
    void logFeedFailure(FeedStatus::Feed feed, const QString& line);

    // Settings file: the written values as the file holds them, and the
    // wait after the last edit in the form before they are written.
    void watchSettingsEdits();
    QVector<QVariant> settingsOnFile;
    QTimer* settingsWriteTimer = nullptr;
    bool shutDownDone = false;

    // Weather feed (weather/windowweatherrequests.cpp): builds the weather
    // service URL from the path, logs it with the format's %s and sends the
    // GET as a request of the given kind.
    void sendWeatherRequest(const QString& path, const char* logFormat, RequestKind kind);
    // A weather refresh (button, schedule or retry): the latest observation,
    // and the alerts and the forecast while a weather row shows them.
    void refreshWeather(Trigger trigger);

    // The five weather rows: the combo box choosing the item, the label
    // showing what was sent, the clock variable, and the item number the
    // settings file held (written back while the row shows no item: a
    // number of a newer version).
    struct WeatherRow
    {
        QComboBox* item = nullptr;
        QLabel* label = nullptr;
        int variable = 0;
        int storedNumber = 0;
    };
    // One row to every weather clock: a "Sending Weather Data to %s" line
    // per address and, when there is a text, the variable sent and the label
    // set with each (an empty list leaves the label as it was).
    void sendWeatherRow(const WeatherRow& row, const QStringList& addresses, const QString* text);
    // `text` in every row whose item comes from `source` (alerts, forecast).
    void sendWeatherRows(WeatherItems::Source source, const QString& text);

    // Stock feed (stocks/windowstocksfeed.cpp): the texts of tickerLineEdit1
    // .. tickerLineEdit5, in order.
    QStringList tickerFieldTexts() const;

    // Status bar: the feeds' last refreshes and the clocks' state
    // as the clock link reports it.
    void updateStatusBar();

    // The clocks' state, the Clocks window and the status file
    // (app/windowclocks.cpp).
    void setupClocks();

    QNetworkAccessManager* networkManager = nullptr;
    // Every request of both feeds, one of each kind at most (uses networkManager).
    ServiceRequests* serviceRequests = nullptr;
    bool units = false;
    QString gridId;
    QString gridX;
    QString gridY;
    QString stationId;
    QTimer* updateTimer = nullptr;
    QFile logFile;
    int logDay = 0;
    bool logOpen = false;
    QString logDir;
    QMutex logMutex;
    Ui::MainWindow* ui = nullptr;
    QString settingsFile;
    QLabel* weatherVarLabels[5] = {};
    QLabel* stockVarLabels[5] = {};
    QString stockApiKey;
    QString stockHost;
    bool cbName = false;
    bool cbTicker = false;
    bool cbPrice = false;
    bool cbChange = false;
    bool cbVolume = false;
    QTime weatherStart;
    QTime weatherStop;
    QTime stockStart;
    QTime stockStop;
    int weatherInterval = 0;
    int stockInterval = 0;
    bool weatherWeekend = false;
    bool stockWeekend = false;
    std::array<WeatherRow, 5> weatherRows;
    // 64-bit, like the tick comparison: interval x 60 of a hand-written huge
    // interval does not fit an int.
    qint64 weatherCounter = 0;
    qint64 stockCounter = 0;
    stockQuoteStruct stockQuotes[200];

    // Deployment: where the two services are reached ("weatherhost" and
    // "stockhost" in the settings file; read at start-up, never written).
    QString weatherBaseUrl;
    QString stockBaseUrl;
    QDate logDate;  // date in the open log file's name

    // Deployment: "contact" (named in the weather service's User-Agent) and
    // "maxobservationage" (minutes), read at start-up, never written.
    QByteArray weatherUserAgent;
    int maxObservationAge = 120;
    // "logdays": days of day logs kept before today; 0 keeps every log.
    int logDays = 0;

    // Each feed's retries, suspension and "Not Requested" line; the weather
    // plan's suspension holds every request to the weather host.
    RefreshPlan* weatherPlan = nullptr;
    RefreshPlan* stockPlan = nullptr;
    // The alerts and forecast rows' requests, schedules and texts.
    AlertsForecastFeed* alertsFeed = nullptr;

    StatusBarText::State statusState;
    // The clocks' state, the feeds' outcomes and the status file.
    StatusBoard* statusBoard = nullptr;
    // The page, /status.json and /metrics over HTTP ("webport", "webaddress").
    WebServer* webServer = nullptr;
    ClocksTableModel* clocksTable = nullptr;
    QPointer<ClocksWindow> clocksWindow;
    // "clockswindowpos" and "clockswindowsize" as read, kept until the
    // window is opened.
    QString clocksWindowPos;
    QString clocksWindowSize;

    // Each test executable defines this to reach the window's state.
    friend struct MainWindowProbe;
};
