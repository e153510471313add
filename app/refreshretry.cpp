#include "app/refreshretry.h"

#include <QStringList>
#include <limits>

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

namespace {

int monthNumber(const QString& name)
{
    static const char* const months[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                           "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int m = 0; m < 12; ++m)
        if (name.compare(QLatin1String(months[m]), Qt::CaseInsensitive) == 0)
            return m + 1;
    return 0;
}

bool allDigits(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

}  // namespace

QDateTime RefreshRetry::httpDate(const QByteArray& text, const QDateTime& now)
{
    const QStringList parts = QString::fromLatin1(text).simplified().split(QLatin1Char(' '));
    QString day, month, year, time;
    bool twoDigitYear = false;
    if (parts.size() == 6 && parts[0].endsWith(QLatin1Char(',')) && parts[5] == QLatin1String("GMT")) {
        // IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT"
        day = parts[1], month = parts[2], year = parts[3], time = parts[4];
    } else if (parts.size() == 4 && parts[0].endsWith(QLatin1Char(',')) && parts[3] == QLatin1String("GMT")) {
        // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"
        const QStringList date = parts[1].split(QLatin1Char('-'));
        if (date.size() != 3 || date[2].size() != 2)
            return {};
        day = date[0], month = date[1], year = date[2], time = parts[2];
        twoDigitYear = true;
    } else if (parts.size() == 5 && !parts[0].endsWith(QLatin1Char(','))) {
        // asctime: "Sun Nov  6 08:49:37 1994"
        month = parts[1], day = parts[2], time = parts[3], year = parts[4];
    } else {
        return {};
    }
    bool dayOk = false, yearOk = false;
    const int d = day.toInt(&dayOk);
    int y = year.toInt(&yearOk);
    const int m = monthNumber(month);
    const QTime t = QTime::fromString(time, QStringLiteral("hh:mm:ss"));
    if (!dayOk || !yearOk || m == 0 || !t.isValid() || (!twoDigitYear && year.size() != 4))
        return {};
    if (twoDigitYear) {
        const int nowYear = now.toUTC().date().year();
        y += nowYear - nowYear % 100;
        if (QDateTime(QDate(y, m, d), t, Qt::UTC) > now.toUTC().addYears(50))
            y -= 100;
    }
    // Built as UTC from its parts, never through local time: a GMT moment
    // that falls into a local daylight-saving gap is still a moment.
    const QDate date(y, m, d);
    if (!date.isValid())
        return {};
    return QDateTime(date, t, Qt::UTC);
}

std::optional<qint64> RefreshRetry::retryAfterSeconds(const QByteArray& header, const QDateTime& now)
{
    const QByteArray value = header.trimmed();
    if (value.isEmpty())
        return std::nullopt;
    if (allDigits(value) || (value.startsWith('-') && allDigits(value.mid(1)))) {
        bool ok = false;
        const qint64 seconds = value.toLongLong(&ok);
        if (!ok)  // beyond 64 bits
            return value.startsWith('-') ? std::nullopt : std::optional<qint64>(std::numeric_limits<qint64>::max());
        return seconds > 0 ? std::optional<qint64>(seconds) : std::nullopt;
    }
    const QDateTime when = httpDate(value, now);
    if (!when.isValid())
        return std::nullopt;
    const qint64 seconds = now.secsTo(when);
    return seconds > 0 ? std::optional<qint64>(seconds) : std::nullopt;
}

namespace {

bool mayWait(const RefreshRetry::Input& input)
{
    return input.httpStatus == 429 || input.httpStatus == 503;
}

}  // namespace

std::optional<qint64> RefreshRetry::delaySeconds(const Input& input)
{
    if (input.failure != Failure::Passing || input.retriesSinceScheduled >= MaxRetriesBetweenScheduled)
        return std::nullopt;

    // 30 s doubled for each retry already made, without overflowing; the
    // service's Retry-After only ever lengthens it.
    const int doublings = qBound(0, input.attempt - 1, 40);
    qint64 delay = FirstDelaySeconds << doublings;
    if (mayWait(input) && input.retryAfter)
        delay = qMax(delay, *input.retryAfter);

    // A retry close to the next scheduled refresh would only repeat it.
    if (delay > input.secondsToNextScheduled - FirstDelaySeconds)
        return std::nullopt;
    return delay;
}

std::optional<qint64> RefreshRetry::suspendSeconds(const Input& input)
{
    if (mayWait(input) && input.retryAfter && *input.retryAfter > input.secondsToNextScheduled)
        return input.retryAfter;
    return std::nullopt;
}

qint64 RefreshRetry::secondsToNextScheduled(qint64 counter, int intervalMinutes)
{
    return qMax<qint64>(0, qint64(intervalMinutes) * 60 + 1 - counter);
}
