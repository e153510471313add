#include "weather/weatherrequest.h"

#include <QSslConfiguration>
#include <QUrl>

QNetworkRequest WeatherRequest::build(const QString& url, const QByteArray& userAgent, const QByteArray& accept)
{
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setRawHeader("Accept", accept);
    request.setRawHeader("User-Agent", userAgent);
    request.setSslConfiguration(QSslConfiguration::defaultConfiguration());
    return request;
}
