#pragma once

#include <QDate>
#include <QString>

// How long Corvelta keeps its own day logs (Corvelta_MM-dd-yy.log), from the
// deployment key "logdays".
namespace LogRetention {

// Days of logs kept before today: a whole number from 0 to 3650; anything
// else (absent, empty, no number, out of range) means 0, which keeps every log.
int daysFromSetting(const QString& setting);

// Deletes the day logs in `dir` dated more than `days` days before `today`
// and returns how many were deleted. Only a name that is wholly
// "Corvelta_MM-dd-yy.log" with a valid date counts; "yy" is read as 20yy
// (Qt would read "26" as 1926 and take today's log for a century old). A
// date after today is never deleted; `days` 0 deletes nothing.
int deleteExpired(const QString& dir, const QDate& today, int days);

}  // namespace LogRetention
