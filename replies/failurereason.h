#pragma once

#include <QString>

// Why a service refused a request, as its reply's body says: the weather
// service's problem document carries a "detail" (and a "title"), the quote
// service's refusals a "message", and its current answer form an error
// object with a "description" ({"quoteResponse": {"error": {...}}}).
namespace FailureReason {

// Longest reason put into a log line.
constexpr int MaxLength = 200;

// The first of "detail", "title" and "message" among the top-level members
// of the body's JSON object that is a non-empty string, else the
// "description" of its "quoteResponse.error" object (or that error itself,
// when it is a string); control characters
// removed, trimmed and cut to MaxLength; empty when the body has none.
QString fromBody(const QString& body);

// " (reason)" to end a log line with; nothing when the reason is empty.
QString suffix(const QString& reason);

}  // namespace FailureReason
