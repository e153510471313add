#include "app/feedstatus.h"

bool FeedStatus::healthy() const
{
    return !failedLast && !suspendedUntil.isValid();
}

const char* FeedStatus::name(Feed feed)
{
    static const char* const names[Count] = {"weather", "stocks", "alerts", "forecast"};
    return names[feed];
}
