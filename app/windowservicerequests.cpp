#include "app/mainwindow.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include "app/timesource.h"

// Sends one GET of either feed. The request carries its own kind, so that its
// reply is read as what it is, and its number among the requests of its kind,
// so that only the newest one's reply counts. The line logged right after
// sending records the request's start, not its outcome.
void MainWindow::sendServiceRequest(QNetworkRequest request, RequestKind kind)
{
    KindRequests& state = requestsOf(kind);
    request.setAttribute(RequestKindAttribute, int(kind));
    request.setAttribute(RequestNumberAttribute, ++state.newest);
    QNetworkReply* reply = networkManager->get(request);
    state.outstanding = reply;
    state.url = request.url();
    state.sentAt = TimeSource::now();
    // The scheduler's ticks give a request up against the time seam; this
    // timer does so in real time, should the ticks stop or the clock jump.
    if (!state.limit) {
        state.limit = new QTimer(this);
        state.limit->setSingleShot(true);
        connect(state.limit, &QTimer::timeout, this, [this, kind] { giveUpRequest(kind); });
    }
    state.limit->start(requestTimeout * 1000);
    logLine(QString::asprintf("Error: %d ErrorString: %s", int(reply->error()),
                              reply->errorString().toLocal8Bit().constData()));
}

bool MainWindow::mayRequestWhen(bool ready, bool& notRequestedLogged, const char* notRequestedLine, RequestKind kind,
                                Trigger trigger)
{
    if (!ready) {
        if (!notRequestedLogged)
            logLine(notRequestedLine);
        notRequestedLogged = true;
        return false;
    }
    notRequestedLogged = false;
    return mayRequest(kind, trigger);
}

bool MainWindow::mayRequest(RequestKind kind, Trigger trigger)
{
    KindRequests& state = requestsOf(kind);
    QNetworkReply* running = state.outstanding;
    if (!running || running->isFinished())
        return true;
    const QByteArray url = state.url.toString().toUtf8();
    if (trigger == Trigger::Schedule) {
        // An interval of 0 must not abort and resend every second.
        logLine(QString::asprintf("Request Still Running: %s", url.constData()));
        return false;
    }
    logLine(QString::asprintf("Request Abandoned: %s", url.constData()));
    state.outstanding = nullptr;
    state.limit->stop();
    running->setProperty(GivenUpProperty, true);
    running->abort();
    return true;
}

void MainWindow::giveUpRequest(RequestKind kind)
{
    KindRequests& state = requestsOf(kind);
    QNetworkReply* running = state.outstanding;
    state.outstanding = nullptr;
    if (state.limit)
        state.limit->stop();
    if (!running || running->isFinished())
        return;
    logFeedFailure(kind, QString::asprintf("Request Timed Out: %s after %d s",
                                           state.url.toString().toUtf8().constData(), requestTimeout));
    running->setProperty(GivenUpProperty, true);
    running->abort();
    // A service that does not answer may answer later: a passing failure.
    routeFeedFailure(kind, RefreshRetry::Failure::Passing, 0, std::nullopt, QString());
}

void MainWindow::enforceRequestTimeLimits(const QDateTime& now)
{
    for (RequestKind kind : AllRequestKinds) {
        const KindRequests& state = requestsOf(kind);
        if (state.outstanding && state.sentAt.secsTo(now) >= requestTimeout)
            giveUpRequest(kind);
    }
}
