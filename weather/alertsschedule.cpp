#include "weather/alertsschedule.h"

bool AlertsSchedule::due(const QString& point) const
{
    return sinceRequest >= wait || (!refusedPoint.isEmpty() && point != refusedPoint);
}

void AlertsSchedule::succeeded()
{
    wait = IntervalSeconds;
    failures = 0;
    refusedPoint.clear();
}

void AlertsSchedule::failed()
{
    failures = qMin(failures + 1, 8);
    wait = qMin(IntervalSeconds << (failures - 1), LongestWaitSeconds);
}

bool AlertsSchedule::refused()
{
    wait = LongestWaitSeconds;
    const bool news = askedPoint != refusedPoint;
    refusedPoint = askedPoint;
    return news;
}
