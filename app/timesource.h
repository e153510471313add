#pragma once

#include <QDateTime>
#include <functional>

// The one place the program reads the time of day from (log rollover,
// scheduler), so tests can run whole days in milliseconds.
namespace TimeSource {

// Current local date and time, or what a test has set.
QDateTime now();

// Replaces the clock; an empty function restores the real one.
void setNowFunction(std::function<QDateTime()> function);

}  // namespace TimeSource
