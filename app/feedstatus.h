#pragma once

#include <QDateTime>
#include <QString>
#include <array>

#include "app/requestkind.h"

// How each feed last fared, for the status file: set where the window
// judges a refresh good or logs its failure.
struct FeedStatus
{
    enum Feed { Weather, Stocks, Alerts, Forecast, Count };

    QDateTime lastSuccess;
    QString lastFailureLine;
    QDateTime lastFailureAt;
    QDateTime suspendedUntil;  // null: not suspended

    // The feed a request kind belongs to (the point and station lookups
    // are the weather feed's).
    static Feed ofKind(RequestKind kind);
    static const char* name(Feed feed);
};

using FeedStatuses = std::array<FeedStatus, FeedStatus::Count>;
