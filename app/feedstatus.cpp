#include "app/feedstatus.h"

FeedStatus::Feed FeedStatus::ofKind(RequestKind kind)
{
    switch (kind) {
    case RequestKind::Quotes:
        return Stocks;
    case RequestKind::Alerts:
        return Alerts;
    case RequestKind::Forecast:
        return Forecast;
    case RequestKind::Point:
    case RequestKind::Stations:
    case RequestKind::Observation:
        break;
    }
    return Weather;
}

const char* FeedStatus::name(Feed feed)
{
    static const char* const names[Count] = {"weather", "stocks", "alerts", "forecast"};
    return names[feed];
}
