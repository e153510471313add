#pragma once

#include <QDateTime>
#include <QTime>

// The daily schedule of one feed, counted in one-second ticks.
namespace UpdateSchedule {

// Whether a tick at `now` counts for a feed whose window runs from `start` to
// `stop`. Both bounds are inclusive to the millisecond; a null start puts no
// lower bound on the window, a null stop closes it altogether, and a start
// later than the stop never matches (the window does not wrap past midnight).
// With `skipWeekends`, Saturdays and Sundays never count.
bool insideWindow(const QDateTime& now, const QTime& start, const QTime& stop, bool skipWeekends);

// Counts one tick inside the window: true when the feed's update is due, that
// is when `counter` exceeds `interval` minutes of ticks. The caller restarts
// the counter after issuing the update.
bool countTick(qint64& counter, int interval);

}  // namespace UpdateSchedule
