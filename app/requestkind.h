#pragma once

// The kinds of request both feeds send. Each request carries its kind, so its
// reply is read as what it is; the numbers are the ones the log and the
// request attribute have always used.
// Alerts and Forecast are the weather service's active alerts for the point
// and the forecast for the grid.
enum class RequestKind { Point = 1, Stations = 2, Observation = 3, Quotes = 4, Alerts = 5, Forecast = 6 };

// Who asks for a request: the operator (a button, or the lookup that a button
// started) replaces a request of its kind still running; the scheduler (a
// scheduled refresh, a retry or a feed's own schedule) leaves it running and
// skips.
enum class RequestTrigger { Operator, Schedule };
