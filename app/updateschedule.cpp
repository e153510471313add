#include "app/updateschedule.h"

bool UpdateSchedule::insideWindow(const QDateTime& now, const QTime& start, const QTime& stop, bool skipWeekends)
{
    const QTime t = now.time();
    // A null time orders before every valid one, which gives a null start no
    // lower bound and a null stop an empty window.
    const auto order = [](const QTime& time) { return time.isValid() ? time.msecsSinceStartOfDay() : -1; };
    if (order(t) < order(start) || order(t) > order(stop))
        return false;
    if (skipWeekends) {
        const int day = now.date().dayOfWeek();
        if (day == 6 || day == 7)
            return false;
    }
    return true;
}

bool UpdateSchedule::countTick(qint64& counter, int interval)
{
    ++counter;
    // In 64 bits, so a huge interval from a hand-edited file cannot wrap
    // round into an update on every tick.
    return counter > qint64(interval) * 60;
}
