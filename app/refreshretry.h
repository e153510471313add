#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QNetworkReply>
#include <optional>

// When to try a failed weather or stock refresh again.
//
// A refresh that failed for a passing reason is retried after 30 s, then
// 60 s, 120 s, 240 s and so on, or after the service's Retry-After (429 or
// 503) when that is at most the feed's interval, and never at or after the
// next scheduled refresh, which is as good as a retry. A failure that will
// not heal by itself (a wrong key, an unknown station) is not retried.
namespace RefreshRetry {

enum class Failure {
    Passing,  // no connection, time-out, name lookup, TLS handshake, 5xx, 429, no data
    Lasting,  // 401, 403, 404 and every other 4xx, or anything not known to heal
};

// The kind of a failed reply: its network error and its HTTP status (0 when
// no HTTP answer came).
Failure classify(QNetworkReply::NetworkError error, int httpStatus);

// The first delay of a series.
constexpr qint64 FirstDelaySeconds = 30;

// Retry-After in seconds, given as a number of seconds or as an HTTP date
// (taken against `now`); nothing when absent or unreadable. A date in the
// past gives 0.
std::optional<qint64> retryAfterSeconds(const QByteArray& header, const QDateTime& now);

struct Input
{
    Failure failure = Failure::Passing;
    int httpStatus = 0;                       // 0: no HTTP answer
    std::optional<qint64> retryAfter;         // seconds, from retryAfterSeconds
    int attempt = 1;                          // 1 for the first retry of a series
    int intervalMinutes = 10;                 // the feed's interval
    qint64 secondsToNextScheduled = 0;        // until the next scheduled refresh
};

// The delay in seconds before the retry, or nothing when none is to be made.
std::optional<qint64> delaySeconds(const Input& input);

// Seconds (one tick each) until a feed's counter, now at `counter`, fires a
// scheduled refresh: when it exceeds interval x 60.
qint64 secondsToNextScheduled(qint64 counter, int intervalMinutes);

}  // namespace RefreshRetry
