#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QNetworkReply>
#include <optional>

// When to try a failed weather or stock refresh again.
//
// A refresh that failed for a passing reason is retried after 30 s, then
// 60 s, 120 s, 240 s, never sooner: the service's Retry-After (429 or 503)
// may only lengthen a wait. A retry that would go out less than 30 s before
// the next scheduled refresh is left to that refresh, and at most four go out
// between two scheduled refreshes, so no answer of a service can make a feed
// hammer it. A Retry-After that ends after the next scheduled refresh
// suspends the feed until then. A failure that will not heal by itself (a
// wrong key, an unknown station) is not retried.
namespace RefreshRetry {

enum class Failure {
    Passing,  // no connection, time-out, name lookup, TLS handshake, 5xx, 429, no data
    Lasting,  // 401, 403, 404 and every other 4xx, or anything not known to heal
};

// The kind of a failed reply: its network error and its HTTP status (0 when
// no HTTP answer came).
Failure classify(QNetworkReply::NetworkError error, int httpStatus);

// The first delay of a series; also the least time between a retry and the
// next scheduled refresh.
constexpr qint64 FirstDelaySeconds = 30;

// Retries between two scheduled refreshes, whatever the service answers.
constexpr int MaxRetriesBetweenScheduled = 4;

// Retry-After in seconds, given as a number of seconds or as an HTTP date in
// any of its three forms (IMF-fixdate, RFC 850, asctime; always GMT), taken
// against `now`. Nothing when absent, unreadable, 0 or less, or a date not
// after `now`: such a value does not shorten the wait. A number too large for
// 64 bits gives the largest qint64.
std::optional<qint64> retryAfterSeconds(const QByteArray& header, const QDateTime& now);

// The moment an HTTP date names, read as GMT; invalid when it is none of the
// three forms. A two-digit year (RFC 850) more than 50 years after `now`
// means the most recent past year with those digits.
QDateTime httpDate(const QByteArray& text, const QDateTime& now);

struct Input
{
    Failure failure = Failure::Passing;
    int httpStatus = 0;                 // 0: no HTTP answer
    std::optional<qint64> retryAfter;   // seconds, from retryAfterSeconds
    int attempt = 1;                    // 1 for the first retry of a series
    int retriesSinceScheduled = 0;      // retries sent since the last scheduled refresh
    int intervalMinutes = 10;           // the feed's interval
    qint64 secondsToNextScheduled = 0;  // until the next scheduled refresh
};

// The delay in seconds before the retry, or nothing when none is to be made.
std::optional<qint64> delaySeconds(const Input& input);

// How long the feed's scheduled refreshes and retries are suspended: the
// Retry-After of a 429 or 503 when it ends after the next scheduled refresh;
// nothing otherwise.
std::optional<qint64> suspendSeconds(const Input& input);

// Seconds (one tick each) until a feed's counter, now at `counter`, fires a
// scheduled refresh: when it exceeds interval x 60.
qint64 secondsToNextScheduled(qint64 counter, int intervalMinutes);

}  // namespace RefreshRetry
