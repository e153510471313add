#pragma once

#include <QDateTime>
#include <QString>
#include <array>

// How each feed last fared, for the status file: set where the window
// judges a refresh good or logs its failure.
struct FeedStatus
{
    enum Feed { Weather, Stocks, Alerts, Forecast, Count };

    QDateTime lastSuccess;
    QString lastFailureLine;
    QDateTime lastFailureAt;
    QDateTime suspendedUntil;  // null: not suspended

    static const char* name(Feed feed);
};

using FeedStatuses = std::array<FeedStatus, FeedStatus::Count>;
