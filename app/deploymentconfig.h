#pragma once

#include <QString>

// Where a web service is reached, from a deployment key of the settings file.
struct ServiceEndpoint
{
    QString baseUrl;  // scheme, host and optional port; request paths follow it
    QString host;     // host and optional port, without scheme
};

// The weather service the program talks to unless "weatherhost" says otherwise.
inline const char* const DefaultWeatherHost = "api.weather.gov";
// The RapidAPI host that serves the quote path; "stockhost" overrides it.
inline const char* const DefaultStockHost = "mboum-finance.p.rapidapi.com";

// A host name with an optional port is reached as "https://" + host; a value
// that starts with "http://" or "https://" (a substitute service on a test or
// demo machine) is used as it stands.
ServiceEndpoint serviceEndpoint(const QString& setting);

// Seconds a request of either feed may take before it is given up, from the
// deployment key "requesttimeout": a whole number from 5 to 300; anything else
// (absent, empty, no number, out of range) means the default.
constexpr int DefaultRequestTimeoutSeconds = 30;
int requestTimeoutFromSetting(const QString& setting);
