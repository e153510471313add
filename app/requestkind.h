#pragma once

#include <array>

// The kinds of request both feeds send. Each request carries its kind, so its
// reply is read as what it is; the numbers are the ones the log and the
// request attribute have always used.
// Alerts and Forecast are the weather service's active alerts for the point
// and the forecast for the grid.
enum class RequestKind { Point = 1, Stations = 2, Observation = 3, Quotes = 4, Alerts = 5, Forecast = 6 };

// Every kind, in order, for state kept per kind.
inline constexpr std::array<RequestKind, 6> AllRequestKinds = {RequestKind::Point,       RequestKind::Stations,
                                                               RequestKind::Observation, RequestKind::Quotes,
                                                               RequestKind::Alerts,      RequestKind::Forecast};

// The slot of a kind in per-kind tables.
constexpr int kindIndex(RequestKind kind)
{
    return int(kind) - 1;
}
