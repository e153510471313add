#include "app/refreshretry.h"

#include <QLocale>

RefreshRetry::Failure RefreshRetry::classify(QNetworkReply::NetworkError error, int httpStatus)
{
    if (httpStatus > 0) {
        if (httpStatus == 429 || (httpStatus >= 500 && httpStatus <= 599))
            return Failure::Passing;
        return Failure::Lasting;
    }
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:  // the transfer time-out ends a request this way
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return Failure::Passing;
    default:
        return Failure::Lasting;
    }
}

std::optional<qint64> RefreshRetry::retryAfterSeconds(const QByteArray& header, const QDateTime& now)
{
    const QByteArray value = header.trimmed();
    if (value.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 seconds = value.toLongLong(&ok);
    if (ok)
        return seconds >= 0 ? std::optional<qint64>(seconds) : std::nullopt;

    // An HTTP date: "Wed, 21 Oct 2015 07:28:00 GMT".
    QDateTime when = QLocale::c().toDateTime(QString::fromLatin1(value), "ddd, dd MMM yyyy hh:mm:ss 'GMT'");
    if (!when.isValid())
        return std::nullopt;
    when.setTimeSpec(Qt::UTC);
    return qMax<qint64>(0, now.secsTo(when));
}

std::optional<qint64> RefreshRetry::delaySeconds(const Input& input)
{
    if (input.failure != Failure::Passing)
        return std::nullopt;

    qint64 delay = 0;
    const qint64 intervalSeconds = qint64(input.intervalMinutes) * 60;
    const bool mayWait = input.httpStatus == 429 || input.httpStatus == 503;
    if (mayWait && input.retryAfter) {
        // The service says when: wait that long if it fits the interval; a
        // longer wait is the scheduled refresh's business.
        if (*input.retryAfter > intervalSeconds)
            return std::nullopt;
        delay = qMax<qint64>(1, *input.retryAfter);
    } else {
        // 30 s doubled for each retry already made, without overflowing.
        const int doublings = qBound(0, input.attempt - 1, 40);
        delay = FirstDelaySeconds << doublings;
    }

    // A retry due at or after the next scheduled refresh would only repeat it.
    if (delay >= input.secondsToNextScheduled)
        return std::nullopt;
    return delay;
}

qint64 RefreshRetry::secondsToNextScheduled(qint64 counter, int intervalMinutes)
{
    return qMax<qint64>(0, qint64(intervalMinutes) * 60 + 1 - counter);
}
