#pragma once

#include <QDateTime>
#include <QString>

// Times in the weather service's replies: ISO 8601, normally with an offset
// ("2024-01-09T03:12:00-06:00", "2024-01-09T09:12:00+00:00").
namespace ServiceTime {

// The moment a timestamp names. One without an offset is UTC (not the local
// time of this machine). Invalid when the text is no ISO 8601 timestamp.
QDateTime parse(const QString& timestamp);

}  // namespace ServiceTime
