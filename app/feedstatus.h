#pragma once

#include <QDateTime>
#include <QString>
#include <array>

// How each feed last fared, for the status document: set where the window
// judges a refresh good or logs its failure.
struct FeedStatus
{
    enum Feed { Weather, Stocks, Alerts, Forecast, Count };

    QDateTime lastSuccess;
    QString lastFailureLine;
    QDateTime lastFailureAt;
    qint64 failures = 0;       // failure lines since the start
    bool failedLast = false;   // a failure came after the last success
    QDateTime suspendedUntil;  // null: not suspended
    // When the feed is next asked for by its schedule (null: not while its
    // window is closed, or while nothing shows it), and how often.
    QDateTime nextDue;
    qint64 intervalSeconds = 0;

    // No failure since the last success, and not suspended.
    bool healthy() const;

    static const char* name(Feed feed);
};

using FeedStatuses = std::array<FeedStatus, FeedStatus::Count>;

// When a feed's schedule next asks, and its interval: what the feed's own
// object knows of it at `now`.
struct FeedTiming
{
    QDateTime nextDue;
    qint64 intervalSeconds = 0;
};
