#pragma once

// The time seam for tests: the program reads the time of day only through
// TimeSource::now().

#include <QDateTime>

#include "app/timesource.h"

// Makes TimeSource::now() return `current` for as long as it lives.
class FixedClock
{
public:
    explicit FixedClock(const QDateTime& start)
        : current(start)
    {
        TimeSource::setNowFunction([this] { return current; });
    }
    ~FixedClock() { TimeSource::setNowFunction({}); }
    FixedClock(const FixedClock&) = delete;
    FixedClock& operator=(const FixedClock&) = delete;

    QDateTime current;
};
