// The web-request half of the clock link: a queue of requests to a clock's
// built-in web interface, sent strictly one at a time, each matched back to
// its reply, with progress signals for a progress display.
#include <QCryptographicHash>
#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include "clocklink/udpcommthread.h"

namespace {

// Carries the record's serial on its request, to tell a late reply of a
// record already given up from the reply of the record now in flight.
constexpr QNetworkRequest::Attribute SerialAttribute = QNetworkRequest::User;

const QString TwentyUpPrefix = QStringLiteral("twentyup_checked=");

// The clock's password check: "Basic " and the lowercase hex MD5 of the
// password in the local 8-bit encoding (no user name, no Base64).
QByteArray authorizationValue(const QString& password)
{
    const QByteArray digest = QCryptographicHash::hash(password.toLocal8Bit(), QCryptographicHash::Md5).toHex();
    return (QStringLiteral("Basic ") + QString::fromLatin1(digest)).toLocal8Bit();
}

}  // namespace

void UDPCommThread::QueueDeviceNameUpdate(QString ipAddress, QString payload, bool waitForIdle)
{
    queueHttpRequest(ipAddress, payload, waitForIdle, 1);
}

void UDPCommThread::QueueWebDataRequest(QString ipAddress, QString path, bool waitForIdle)
{
    queueHttpRequest(ipAddress, path, waitForIdle, 2);
}

void UDPCommThread::queueHttpRequest(const QString& ipAddress, const QString& payload, bool waitForIdle,
                                     int requestKind)
{
    auto* record = new httpQueueStruct;
    record->ipAddress = ipAddress;
    record->payload = payload;
    record->waitForIdle = waitForIdle;
    record->requestKind = requestKind;
    int total = 0;
    {
        std::lock_guard<std::mutex> lock(httpMutex);
        record->serial = ++nextSerial;
        httpQueue.append(record);
        httpQueueTotal = httpQueue.size();
        total = httpQueueTotal;
    }
    emit progSet(0, total);
    requestWake();
}

void UDPCommThread::SetDevicePassword(QString password)
{
    std::lock_guard<std::mutex> lock(httpMutex);
    devicePassword = password;
}

int UDPCommThread::GetHttpQueueTotal()
{
    std::lock_guard<std::mutex> lock(httpMutex);
    return httpQueueTotal;
}

int UDPCommThread::GetHttpQueueSize()
{
    std::lock_guard<std::mutex> lock(httpMutex);
    return httpQueue.size();
}

void UDPCommThread::SetHttpTimeLimit(int msecs)
{
    httpTimeLimit = qMax(0, msecs);
}

int UDPCommThread::GetHttpTimeLimit() const
{
    return httpTimeLimit;
}

void UDPCommThread::clearHttpQueue()
{
    std::lock_guard<std::mutex> lock(httpMutex);
    qDeleteAll(httpQueue);
    httpQueue.clear();
    httpQueueTotal = 0;
}

qint64 UDPCommThread::serviceHttpQueue(int& httpInFlight)
{
    qint64 nextLimitMs = -1;
    httpQueueStruct* dispatched = nullptr;
    int dispatchedKind = 0;
    QList<int> progress;
    QStringList expired;
    bool emptied = false;
    const int timeLimit = httpTimeLimit;
    {
        std::lock_guard<std::mutex> lock(httpMutex);
        // Only the first record is ever sent, so requests go out one at a
        // time in arrival order, each after the previous one is complete.
        if (!httpQueue.isEmpty()) {
            httpQueueStruct* first = httpQueue.first();
            if (!first->sent && (!first->waitForIdle || httpInFlight == 0)) {
                ++httpInFlight;
                first->sent = true;
                first->sendTimer.restart();
                dispatched = first;
                dispatchedKind = first->requestKind;
            }
        }
        for (int i = 0; i < httpQueue.size();) {
            httpQueueStruct* record = httpQueue.at(i);
            // A reply that never matches (a path with a query part, a clock
            // that never answers) must not hold up every later request.
            if (record->sent && !record->done && record->sendTimer.elapsed() >= timeLimit) {
                record->done = true;
                expired.append(record->ipAddress + QLatin1Char(' ') + record->payload);
            }
            if (record->sent && record->done) {
                httpQueue.removeAt(i);
                delete record;
                progress.append(httpQueueTotal - httpQueue.size());
                --httpInFlight;
                continue;
            }
            // The worker wakes up again when this one reaches its limit.
            if (record->sent && !record->done) {
                const qint64 left = qMax<qint64>(0, timeLimit - record->sendTimer.elapsed());
                if (nextLimitMs < 0 || left < nextLimitMs)
                    nextLimitMs = left;
            }
            ++i;
        }
        // The record now first may go out at once: wake up again for it.
        if (!httpQueue.isEmpty() && !httpQueue.first()->sent && (!httpQueue.first()->waitForIdle || httpInFlight == 0))
            nextLimitMs = 0;
        if (!progress.isEmpty() && httpQueue.isEmpty()) {
            httpQueueTotal = 0;
            emptied = true;
        }
    }

    // Signals go out with the queue unlocked, so a receiver may call back.
    if (dispatched) {
        if (dispatchedKind == 1)
            emit httpUpdateDeviceName(dispatched);
        else
            emit httpGetWebData(dispatched);
    }
    for (const QString& request : expired)
        qDebug("Web request %s got no matching reply within %d ms; given up.", qUtf8Printable(request), timeLimit);
    for (int value : progress)
        emit progVal(value);
    if (emptied)
        emit startTimer(3000);
    return nextLimitMs;
}

void UDPCommThread::UpdateDeviceName(httpQueueStruct* httpData)
{
    sendWebRequest(httpData, true);
}

void UDPCommThread::GetWebPageData(httpQueueStruct* httpData)
{
    sendWebRequest(httpData, false);
}

void UDPCommThread::sendWebRequest(httpQueueStruct* httpData, bool post)
{
    QString ipAddress;
    QString payload;
    QString password;
    quint64 serial = 0;
    {
        // The record travelled as a plain pointer through the event queue:
        // use it only if it is still queued and waiting for its reply.
        std::lock_guard<std::mutex> lock(httpMutex);
        if (!httpQueue.contains(httpData) || !httpData->sent || httpData->done)
            return;
        ipAddress = httpData->ipAddress;
        payload = httpData->payload;
        password = devicePassword;
        serial = httpData->serial;
    }
    if (!httpManager)
        return;

    const QString urlText =
        QStringLiteral("http://") + ipAddress + (post ? QStringLiteral("/etc/parameters") : payload);
    QNetworkRequest request(QUrl(urlText, QUrl::TolerantMode));
    request.setRawHeader("Authorization", authorizationValue(password));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/plain;charset=UTF-8"));
    request.setAttribute(SerialAttribute, serial);
    request.setTransferTimeout(httpTimeLimit);
    if (post)
        httpManager->post(request, payload.toLocal8Bit());
    else
        httpManager->get(request);
}

void UDPCommThread::onfinish(QNetworkReply* rep)
{
    if (!rep)
        return;
    int kind = 0;
    if (rep->operation() == QNetworkAccessManager::GetOperation)
        kind = 2;
    else if (rep->operation() == QNetworkAccessManager::PostOperation)
        kind = 1;

    // For a request built here this gives back the record's host text.
    QString address = rep->url().toString(QUrl::RemoveScheme | QUrl::RemovePath);
    address.remove(QLatin1Char('/'));
    const QString path = rep->url().path(QUrl::FullyDecoded);

    if (kind == 2) {
        // A reply cut off by its time limit is closed: it has no body to read
        // (reading it would only draw a warning from Qt).
        QByteArray body = rep->isOpen() ? rep->readAll() : QByteArray();
        const int end = body.indexOf('\0');
        if (end >= 0)
            body.truncate(end);
        emit GetResponse(address, path, QString::fromUtf8(body));
    }

    const QVariant serialValue = rep->request().attribute(SerialAttribute);
    bool matched = false;
    bool reportTwentyUp = false;
    QString twentyUpValue;
    {
        std::lock_guard<std::mutex> lock(httpMutex);
        for (httpQueueStruct* record : qAsConst(httpQueue)) {
            if (kind == 0)
                break;
            if (record->ipAddress != address || !record->sent || record->requestKind != kind)
                continue;
            if (kind == 2 && record->payload != path)
                continue;
            // A late reply of a record already given up completes nothing.
            if (serialValue.isValid() && serialValue.toULongLong() != record->serial)
                continue;
            record->done = true;
            matched = true;
            if (kind == 1 && record->payload.left(TwentyUpPrefix.size()) == TwentyUpPrefix) {
                reportTwentyUp = true;
                twentyUpValue = record->payload.right(1);
            }
            break;
        }
    }
    if (reportTwentyUp)
        emit GetResponse(address, TwentyUpPrefix, twentyUpValue);
    if (!matched)
        qDebug("DIDN'T FIND ORIGINAL UPDATE REQUEST TO TERMINATE!!!");
    else
        requestWake();  // the worker removes it and dispatches the next one
    rep->deleteLater();
}

void UDPCommThread::progressTimeout()
{
    emit progVal(0);
}

void UDPCommThread::startTimerFunc(int val)
{
    if (progressTimer)
        progressTimer->start(val);
}
