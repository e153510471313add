#include "app/feedstatus.h"

const char* FeedStatus::name(Feed feed)
{
    static const char* const names[Count] = {"weather", "stocks", "alerts", "forecast"};
    return names[feed];
}
