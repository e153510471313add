#pragma once

// The feed tests' two substitute clocks, on 127.0.0.2 and 127.0.0.3.

#include <QHostAddress>
#include <QScopedPointer>

#include "clocksim/simulatedclock.h"

// Starts both clocks; whether both are bound to the clock port.
inline bool bindSubstituteClocks(QScopedPointer<SimulatedClock>& at2, QScopedPointer<SimulatedClock>& at3)
{
    at2.reset(new SimulatedClock(QHostAddress("127.0.0.2")));
    at3.reset(new SimulatedClock(QHostAddress("127.0.0.3")));
    at2->bind();
    at3->bind();
    return at2->isBound() && at3->isBound();
}
