#include "weather/useragent.h"

QByteArray UserAgent::weather(const QString& contact)
{
    QByteArray agent = QByteArray("Corvelta/") + QByteArray::number(CORVELTA_VERSION_MAJOR) + '.' +
                       QByteArray::number(CORVELTA_VERSION_MINOR) + '.' + QByteArray::number(CORVELTA_VERSION_PATCH);
    QString clean;
    for (const QChar c : contact)
        if (!c.isNull() && c.category() != QChar::Other_Control)
            clean += c;
    clean = clean.trimmed();
    if (!clean.isEmpty())
        agent += " (" + clean.toUtf8() + ')';
    return agent;
}
