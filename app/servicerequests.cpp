#include "app/servicerequests.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include "app/timesource.h"
#include "replies/failurereason.h"
#include "replies/replytext.h"

namespace {

// Marks a reply this program gave up (abandoned for a newer request, or
// timed out): that was dealt with when it was given up, and its cancelled end
// changes nothing.
constexpr const char* GivenUpProperty = "corveltaGivenUp";

QByteArray urlText(const QUrl& url)
{
    return url.toString().toUtf8();
}

}  // namespace

ServiceRequests::ServiceRequests(QNetworkAccessManager* manager, QObject* parent)
    : QObject(parent)
    , manager(manager)
{}

void ServiceRequests::setRoute(RequestKind kind, Route route)
{
    routes.insert(int(kind), std::move(route));
}

void ServiceRequests::send(QNetworkRequest request, RequestKind kind)
{
    KindState& state = kinds[int(kind)];
    request.setAttribute(KindAttribute, int(kind));
    request.setAttribute(NumberAttribute, ++state.newest);
    QNetworkReply* reply = manager->get(request);
    state.outstanding = reply;
    state.url = request.url();
    state.sentAt = TimeSource::now();
    // The scheduler's ticks give a request up against the time seam; this
    // timer does so in real time, should the ticks stop or the clock jump.
    if (!state.limit) {
        state.limit = new QTimer(this);
        state.limit->setSingleShot(true);
        connect(state.limit, &QTimer::timeout, this, [this, kind] { giveUp(kind); });
    }
    state.limit->start(limitSeconds * 1000);
    emit logLine(QString::asprintf("Error: %d ErrorString: %s", int(reply->error()),
                                   reply->errorString().toLocal8Bit().constData()));
}

bool ServiceRequests::mayRequest(RequestKind kind, RequestTrigger trigger)
{
    KindState& state = kinds[int(kind)];
    QNetworkReply* running = state.outstanding;
    if (!running || running->isFinished())
        return true;
    if (trigger == RequestTrigger::Schedule) {
        // An interval of 0 must not abort and resend every second.
        emit logLine(QString::asprintf("Request Still Running: %s", urlText(state.url).constData()));
        return false;
    }
    emit logLine(QString::asprintf("Request Abandoned: %s", urlText(state.url).constData()));
    state.outstanding = nullptr;
    state.limit->stop();
    running->setProperty(GivenUpProperty, true);
    running->abort();
    return true;
}

void ServiceRequests::giveUp(RequestKind kind)
{
    KindState& state = kinds[int(kind)];
    QNetworkReply* running = state.outstanding;
    state.outstanding = nullptr;
    if (state.limit)
        state.limit->stop();
    if (!running || running->isFinished())
        return;
    const Route route = routes.value(int(kind));
    const QString line =
        QString::asprintf("Request Timed Out: %s after %d s", urlText(state.url).constData(), limitSeconds);
    emit logLine(line);
    emit feedFailure(route.feed, line);
    running->setProperty(GivenUpProperty, true);
    running->abort();
    // A service that does not answer may answer later: a passing failure.
    if (route.failed)
        route.failed(RequestFailure());
}

void ServiceRequests::enforceTimeLimits(const QDateTime& now)
{
    for (auto it = kinds.begin(); it != kinds.end(); ++it) {
        if (it->outstanding && it->sentAt.secsTo(now) >= limitSeconds)
            giveUp(RequestKind(it.key()));
    }
}

bool ServiceRequests::running(RequestKind kind) const
{
    return kinds.contains(int(kind)) && kinds[int(kind)].outstanding;
}

bool ServiceRequests::anyRunning() const
{
    for (const KindState& state : kinds)
        if (state.outstanding)
            return true;
    return false;
}

// A reply is read as the kind of its own request, carried on the request,
// never as whatever was asked last: a weather refresh and a stock refresh may
// be in flight at once.
void ServiceRequests::handle(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply->property(GivenUpProperty).toBool())
        return;
    const int kind = reply->request().attribute(KindAttribute).toInt();
    const qint64 number = reply->request().attribute(NumberAttribute).toLongLong();
    const bool known = routes.contains(kind);
    const Route route = routes.value(kind);
    KindState& state = kinds[kind];
    // Only the newest request of a kind decides; an older one's reply is
    // logged and changes nothing else.
    const bool newest = known && number == state.newest;
    if (newest && state.outstanding == reply) {
        state.outstanding = nullptr;
        state.limit->stop();
    }
    if (known && route.arrived)
        route.arrived(reply);

    // A transfer, TLS or HTTP failure carries no data: say so, with the
    // service's reason, and change nothing else.
    if (reply->error() != QNetworkReply::NoError) {
        const QString reason = FailureReason::fromBody(ReplyText::decode(reply->readAll()));
        const QString line =
            QString::asprintf("Request Failed: %s Error: %d ErrorString: %s", urlText(reply->url()).constData(),
                              int(reply->error()), reply->errorString().toUtf8().constData()) +
            FailureReason::suffix(reason);
        emit logLine(line);
        if (!newest)
            return;
        emit feedFailure(route.feed, line);
        RequestFailure failure;
        failure.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        failure.retryAfter = RefreshRetry::retryAfterSeconds(reply->rawHeader("Retry-After"), TimeSource::now());
        failure.failure = RefreshRetry::classify(reply->error(), failure.httpStatus);
        failure.reason = reason.isEmpty() ? reply->errorString() : reason;
        if (route.failed)
            route.failed(failure);
        return;
    }
    if (newest && route.answered)
        route.answered(state.sentAt);
    if (known && !newest) {
        emit logLine(QString::asprintf("Reply Superseded: %s", urlText(reply->url()).constData()));
        return;
    }

    const QString text = ReplyText::decode(reply->readAll());
    if (known && route.replied) {
        route.replied(text);
        return;
    }
    const QString line = QString::asprintf("No Match http Response: %s", text.toUtf8().constData());
    qDebug("%s", line.toUtf8().constData());
    emit logLine(line);
}
