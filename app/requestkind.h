#pragma once

#include <array>

// The kinds of request both feeds send. Each request carries its kind, so its
// reply is read as what it is; the numbers are the ones the log and the
// request attribute have always used.
enum class RequestKind { Point = 1, Stations = 2, Observation = 3, Quotes = 4 };

// Every kind, in order, for state kept per kind.
inline constexpr std::array<RequestKind, 4> AllRequestKinds = {RequestKind::Point, RequestKind::Stations,
                                                               RequestKind::Observation, RequestKind::Quotes};

// The slot of a kind in per-kind tables.
constexpr int kindIndex(RequestKind kind)
{
    return int(kind) - 1;
}
