#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>

namespace WeatherRequest {

// A GET of the weather service: the URL read in tolerant mode, replies asked
// for as `accept`, the User-Agent the service asks every caller for, and the
// platform's TLS configuration.
QNetworkRequest build(const QString& url, const QByteArray& userAgent, const QByteArray& accept = "application/json");

}  // namespace WeatherRequest
