#pragma once

#include <QDateTime>
#include <QHash>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

#include "app/feedstatus.h"
#include "app/refreshretry.h"
#include "app/requestkind.h"

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// How the newest request of a kind failed: the kind of failure, the HTTP
// status (0 when no HTTP answer came), the service's Retry-After and its
// reason (the reply's own words, else the transfer's error text; empty for a
// request given up).
struct RequestFailure
{
    RefreshRetry::Failure failure = RefreshRetry::Failure::Passing;
    int httpStatus = 0;
    std::optional<qint64> retryAfter;
    QString reason;
};

// The requests of both feeds to their services, sent through the window's
// network access manager (used, not owned). Each request carries its kind and
// its number among the requests of its kind, so that a reply is read as what
// it answers and only the newest request of a kind decides. At most one
// request of a kind is outstanding; one that runs for the time limit is given
// up. A finished reply goes to the route of its kind: the feed that reads it.
class ServiceRequests : public QObject
{
    Q_OBJECT

public:
    // What becomes of the replies of one kind.
    struct Route
    {
        // The feed its failures are filed under in the status file.
        FeedStatus::Feed feed = FeedStatus::Weather;
        // The reply text of the newest request, when the transfer succeeded.
        std::function<void(const QString& text)> replied;
        // The newest request failed (transfer, TLS, HTTP status) or was given up.
        std::function<void(const RequestFailure& failure)> failed;
        // Before `replied`: the newest request, sent at `sentAt`, was answered.
        std::function<void(const QDateTime& sentAt)> answered;
        // Every finished reply of the kind, before anything else is done with it.
        std::function<void(QNetworkReply* reply)> arrived;
    };

    static constexpr QNetworkRequest::Attribute KindAttribute = QNetworkRequest::User;
    static constexpr QNetworkRequest::Attribute NumberAttribute = QNetworkRequest::Attribute(QNetworkRequest::User + 1);

    explicit ServiceRequests(QNetworkAccessManager* manager, QObject* parent = nullptr);

    void setRoute(RequestKind kind, Route route);
    // Seconds a request may run ("requesttimeout").
    void setTimeLimit(int seconds) { limitSeconds = seconds; }
    int timeLimit() const { return limitSeconds; }

    // Whether a request of `kind` may go out now: when one is still running,
    // the operator's request abandons it ("Request Abandoned: %s") and the
    // scheduler's is skipped ("Request Still Running: %s").
    bool mayRequest(RequestKind kind, RequestTrigger trigger);
    // Sends the GET and logs its start ("Error: %d ErrorString: %s", the new
    // reply's state, which records the start, not the outcome).
    void send(QNetworkRequest request, RequestKind kind);
    // On a tick: gives up every request that has run for the time limit.
    void enforceTimeLimits(const QDateTime& now);
    // A finished reply of the manager: released later, and read by the route
    // of its kind when it answers the newest request of that kind.
    void handle(QNetworkReply* reply);

    bool running(RequestKind kind) const;
    bool anyRunning() const;

signals:
    void logLine(QString line);
    // A failure of a request or its reply, for the log and the status file.
    void feedFailure(FeedStatus::Feed feed, QString line);

private:
    // The requests of one kind: the one outstanding (null: none), its URL and
    // when it was sent, the number of the newest one sent, and the timer that
    // gives it up should the scheduler's ticks not do so first.
    struct KindState
    {
        QPointer<QNetworkReply> outstanding;
        QUrl url;
        QDateTime sentAt;
        qint64 newest = 0;
        QTimer* limit = nullptr;
    };

    // Gives up the outstanding request of `kind` ("Request Timed Out: %s
    // after %d s"), a passing failure.
    void giveUp(RequestKind kind);
    void failed(RequestKind kind, const Route& route, QNetworkReply* reply);

    QNetworkAccessManager* manager;
    int limitSeconds = 30;
    QHash<int, Route> routes;
    QHash<int, KindState> kinds;
};
