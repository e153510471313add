#include "app/deploymentconfig.h"

ServiceEndpoint serviceEndpoint(const QString& setting)
{
    QString value = setting.trimmed();
    while (value.endsWith(QLatin1Char('/')))
        value.chop(1);

    ServiceEndpoint endpoint;
    if (value.startsWith(QLatin1String("http://")) || value.startsWith(QLatin1String("https://"))) {
        endpoint.baseUrl = value;
        const int hostStart = value.indexOf(QLatin1String("://")) + 3;
        const int pathStart = value.indexOf(QLatin1Char('/'), hostStart);
        endpoint.host = pathStart < 0 ? value.mid(hostStart) : value.mid(hostStart, pathStart - hostStart);
    } else {
        endpoint.baseUrl = QStringLiteral("https://") + value;
        endpoint.host = value;
    }
    return endpoint;
}

int requestTimeoutFromSetting(const QString& setting)
{
    bool ok = false;
    const int seconds = setting.trimmed().toInt(&ok);
    return ok && seconds >= 5 && seconds <= 300 ? seconds : DefaultRequestTimeoutSeconds;
}
