#pragma once

#include <QDate>
#include <QFile>
#include <QList>
#include <QMainWindow>
#include <QMutex>
#include <QNetworkRequest>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QTime>

#include <QDateTime>
#include <QPointer>
#include <QUrl>
#include <array>
#include <optional>

#include "app/feedstatus.h"
#include "app/refreshretry.h"
#include "app/requestkind.h"
#include "app/settingskeys.h"
#include "app/statusbartext.h"
#include "clocklink/clocklinkevent.h"
#include "clocklink/clockstates.h"
#include "stocks/stockquoterecord.h"
#include "weather/alertsschedule.h"
#include "weather/standingtexts.h"
#include "weather/weatheritems.h"

class ClocksTableModel;
class ClocksWindow;
class QCloseEvent;
class StatusFileWriter;
struct StatusSnapshot;
class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace Ui {
class MainWindow;
}

// The program's one window and its controller: it owns the form, the network
// access manager of both feeds, the update timer, the log file and the
// in-memory settings, and it starts and stops the clock link.
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
    // they changed, the shutdown line logged, the log file closed.
    void shutDown();

    // Who asks for a request: the operator (a button, or the lookup that a
    // button started) replaces a request of its kind still running; the
    // scheduler (a scheduled refresh or a retry) leaves it running and skips.
    enum class Trigger { Operator, Schedule };

    // Weather requests.
    void getStations(QString gridId, QString gridX, QString gridY);
    void getWeather(QString stationId, Trigger trigger = Trigger::Operator);

    // Which request a reply answers travels with the request itself, so a
    // reply is never read as the kind of some later request, and neither is
    // a reply of an older request of its kind read as the newest one's.
    static constexpr QNetworkRequest::Attribute RequestKindAttribute = QNetworkRequest::User;
    static constexpr QNetworkRequest::Attribute RequestNumberAttribute =
        QNetworkRequest::Attribute(QNetworkRequest::User + 1);
    // Marks a reply this program gave up (abandoned for a newer request, or
    // timed out): that was dealt with when it was given up, and its cancelled
    // end changes nothing.
    static constexpr const char* GivenUpProperty = "corveltaGivenUp";

    // Status bar: a feed's refresh has been delivered (a weather observation
    // or a stock reply handled); the bar shows the time of the last one.
    enum class Feed { Weather, Stocks };
    void noteRefreshSucceeded(Feed feed);

    // The Clocks window (app/windowclocks.cpp): opens it, or brings it to
    // the front ("Clocks…" in the status bar, Ctrl+K).
    void openClocksWindow();
    // The status file's last version, "running": false: part of an orderly
    // stop, once (later calls do nothing).
    void writeFinalStatusFile();

signals:
    void OnSendToLogfile(QString);

private slots:
    void closeEvent(QCloseEvent* event) override;
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
    // Reply handling, one branch per kind of request.
    void handlePointReply(const QString& text);
    void handleStationListReply(const QString& text);
    void handleObservationReply(const QString& text);
    void handleStockReply(const QString& text);
    // A failed reply of the newest request of its kind.
    void serviceRequestFailed(RequestKind kind, QNetworkReply* rep, const QString& reason);
    void routeFeedFailure(RequestKind kind, RefreshRetry::Failure failure, int status, std::optional<qint64> retryAfter,
                          const QString& reason);

    // Sends a GET of the feeds and logs the request's start; the request
    // carries its kind and its number, and is given up after the time limit.
    void sendServiceRequest(QNetworkRequest request, RequestKind kind);

    // One request of each kind at most is outstanding. Whether a request of
    // `kind` may go out now: when one is still running, the operator's
    // request abandons it ("Request Abandoned: %s") and the scheduler's is
    // skipped ("Request Still Running: %s").
    bool mayRequest(RequestKind kind, Trigger trigger);
    // The same, once what the request needs is there (`ready`); until it is,
    // nothing is asked and `notRequestedLine` is logged once.
    bool mayRequestWhen(bool ready, bool& notRequestedLogged, const char* notRequestedLine, RequestKind kind,
                        Trigger trigger);
    // Gives up the outstanding request of `kind` that has run for the time
    // limit ("Request Timed Out: %s after %d s"), a passing failure.
    void giveUpRequest(RequestKind kind);
    // On a tick: gives up every request that has run for the time limit.
    void enforceRequestTimeLimits(const QDateTime& now);

    // Log file (app/windowlogfile.cpp): opens the log file of `date` in
    // `dir` (start-up and rollover).
    void openLogFileForDate(const QString& dir, const QDate& date);
    // Deletes the day logs older than `logDays` days in the log directory.
    void removeExpiredLogs();

    // Settings file: the written values as the file holds them, and the
    // wait after the last edit in the form before they are written.
    void watchSettingsEdits();
    QVector<QVariant> settingsOnFile;
    QTimer* settingsWriteTimer = nullptr;
    bool shutDownDone = false;

    // Weather feed (weather/windowweatherrequests.cpp): builds the weather
    // service URL from the path, logs it with the format's %s and sends the
    // GET as a request of the given kind, asking for replies of `accept`.
    void sendWeatherRequest(const QString& path, const char* logFormat, RequestKind kind,
                            const QByteArray& accept = "application/json");

    // Alerts and forecast (weather/windowalertsforecast.cpp).
    // A weather refresh (button, schedule or retry): the latest observation,
    // and the alerts and the forecast while a weather row shows them.
    void refreshWeather(Trigger trigger);
    // The active alerts for the point of the latitude and longitude fields;
    // the scheduler asks all day, every day, as alertsSchedule says
    // (`onlyWhenDue`: a tick, not a refresh).
    void requestAlerts(Trigger trigger, bool onlyWhenDue = false);
    // The forecast for the stored grid, in the units chosen; the scheduler
    // asks every hour, all day, every day, besides each weather refresh.
    void requestForecast(Trigger trigger);
    void handleAlertsReply(const QString& text);
    void handleForecastReply(const QString& text);
    // A failed alerts or forecast reply (HTTP status, 0 for none; the
    // service's reason): a refused point or grid is said once.
    void alertsFailed(int httpStatus, const QString& reason);
    void forecastFailed(int httpStatus, const QString& reason);
    // Whether some weather row shows an item of that reply.
    bool someWeatherRowShows(WeatherItems::Source source) const;
    // Shows `text` in every weather row whose item comes from `source` and
    // sends it to every weather clock as that row's variable.
    void sendWeatherRows(WeatherItems::Source source, const QString& text);
    // Gives the alerts and forecast rows the texts due at `now`, where they
    // changed: alerts end, forecast periods pass.
    void updateStandingTexts(const QDateTime& now);

    // Stock feed (stocks/windowstocksfeed.cpp): the texts of tickerLineEdit1
    // .. tickerLineEdit5, in order.
    QStringList tickerFieldTexts() const;

    // Refresh outcomes and retries (app/windowrefreshoutcome.cpp).
    // A retry series of one feed: when the next retry is due (null: none
    // planned) and how many retries of the series have gone out; how many
    // went out since the last scheduled refresh, and until when the service
    // asked the feed to keep away (null: not suspended).
    struct RetrySeries
    {
        QDateTime due;
        int retriesMade = 0;
        int retriesSinceScheduled = 0;
        QDateTime suspendedUntil;
        QDateTime suspendedFrom;  // only a request sent later may lift it

        // A success or a button press ends the series; the count since the
        // scheduled refresh and a suspension stay.
        void end() { due = QDateTime(), retriesMade = 0; }
        // A scheduled refresh ends the series and starts counting again.
        void scheduled() { end(), retriesSinceScheduled = 0; }
        bool suspendedAt(const QDateTime& now) const { return suspendedUntil.isValid() && now < suspendedUntil; }
    };
    // The one place each feed's refresh is judged successful: the observation
    // was sent (handleObservationReply), the quote reply held quotes
    // (handleStockReply). Each ends the feed's retry series.
    void weatherRefreshSucceeded();
    void stockRefreshSucceeded();
    // A refresh of the feed failed: plans a retry when the failure may heal,
    // the feed's window is open and the retry comes before the next
    // scheduled refresh; logs "Retrying Weather in %d s" / "Retrying Stocks in %d s".
    void weatherRefreshFailed(RefreshRetry::Failure failure, int httpStatus = 0,
                              std::optional<qint64> retryAfter = std::nullopt);
    void stockRefreshFailed(RefreshRetry::Failure failure, int httpStatus = 0,
                            std::optional<qint64> retryAfter = std::nullopt);
    void planRetry(RetrySeries& series, const char* feedName, bool windowOpen, int interval, qint64 counter,
                   RefreshRetry::Failure failure, int httpStatus, std::optional<qint64> retryAfter);
    RefreshRetry::Input retryInput(const RetrySeries& series, int interval, qint64 counter, int httpStatus,
                                   std::optional<qint64> retryAfter) const;
    // One suspension per host: a Retry-After past the feed's next scheduled
    // refresh on any reply of its host suspends every request to that host
    // but a button press ("%s Suspended Until %s"); true when it did.
    bool suspendIfAsked(RetrySeries& series, const char* feedName, const RefreshRetry::Input& input);
    // A failed reply of the weather host other than an observation.
    void weatherHostFailed(int httpStatus, std::optional<qint64> retryAfter);
    // A good reply of the host of `kind`, to a request sent during its suspension
    // (a button press), lifts the suspension ("%s Suspension Lifted").
    void hostAnswered(RequestKind kind);
    // On a tick: issues each feed's retry that has come due inside its window,
    // and drops one whose window has closed.
    void runDueRetries(const QDateTime& now, bool weatherWindowOpen, bool stockWindowOpen);

    QNetworkAccessManager* networkManager = nullptr;

    // The requests of each kind: the one outstanding (null: none), its URL
    // and when it was sent, the number of the newest one sent, and the timer
    // that gives it up should the scheduler's ticks not do so first.
    struct KindRequests
    {
        QPointer<QNetworkReply> outstanding;
        QUrl url;
        QDateTime sentAt;
        qint64 newest = 0;
        QTimer* limit = nullptr;
    };
    std::array<KindRequests, AllRequestKinds.size()> requests;
    KindRequests& requestsOf(RequestKind kind) { return requests[kindIndex(kind)]; }
    // Seconds a request may run ("requesttimeout"; read at start-up, never written).
    int requestTimeout = 30;
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
    // The weather item numbers the settings file held, written back while
    // their row shows no item (a number of a newer version).
    int storedWeatherItems[5] = {};
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

    // Retries after failed refreshes, and whether the "Not Requested" line of
    // each feed has been logged since its last request.
    RetrySeries weatherRetry;
    RetrySeries stockRetry;
    bool weatherNotRequestedLogged = false;
    bool stockNotRequestedLogged = false;

    // The alerts and the forecast are asked for all day, every day (a
    // warning keeps no office hours, nor does the weekend's forecast); both
    // counts start due, so the first tick after start-up asks. Each "Not
    // Requested" line is logged once until a request goes out again, the
    // forecast's "Not Available" once until a good reply or a new grid.
    AlertsSchedule alertsSchedule;
    static constexpr qint64 ForecastIntervalSeconds = 3600;
    qint64 forecastCounter = ForecastIntervalSeconds;
    bool alertsNotRequestedLogged = false;
    bool forecastNotRequestedLogged = false;
    bool forecastUnavailableLogged = false;
    // The last good alerts and forecast and the texts their rows were given.
    StandingTexts standingTexts;
    // Status bar: the feeds' last refreshes and the clocks' state
    // as the clock link reports it.
    void updateStatusBar();
    StatusBarText::State statusState;

    // The clocks' state, the Clocks window and the status file
    // (app/windowclocks.cpp).
    void setupClocks();
    void applyClockEvents(const ClockLinkEvents& events);
    // The address lists were edited: clocks join or leave the table.
    void refreshClockLists();
    StatusSnapshot statusSnapshot(const QDateTime& now, bool running) const;
    // On a tick: hands a snapshot to the writer when one is due.
    void writeStatusFileIfDue(const QDateTime& now);
    // Logs a failure of a feed's request or reply and keeps it for the
    // status file.
    void logFeedFailure(RequestKind kind, const QString& line);
    void noteFeedSuccess(FeedStatus::Feed feed);

    ClockStates clockStates;
    ClocksTableModel* clocksTable = nullptr;
    QPointer<ClocksWindow> clocksWindow;
    // "clockswindowpos" and "clockswindowsize" as read, kept until the
    // window is opened.
    QString clocksWindowPos;
    QString clocksWindowSize;
    StatusFileWriter* statusWriter = nullptr;
    FeedStatuses feedStatus;
    quint64 feedChanges = 0;
    QDateTime startedAt;
    QDateTime statusWrittenAt;
    quint64 statusWrittenChanges = 0;
    bool finalStatusWritten = false;

    // Each test executable defines this to reach the window's state.
    friend struct MainWindowProbe;
};
