#pragma once

#include <QByteArray>

struct StatusSnapshot;

// The snapshot as Prometheus metrics, in the text format 0.0.4: the build,
// the start, the clocks by state, each clock's health, answer time and last
// answer, the clock link's datagrams, and each feed's last success,
// failures and suspension.
namespace StatusMetrics {

constexpr const char* ContentType = "text/plain; version=0.0.4; charset=utf-8";

QByteArray text(const StatusSnapshot& snapshot);

}  // namespace StatusMetrics
