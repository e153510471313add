#include "replies/failurereason.h"

#include <QRegularExpression>

#include "replies/jsonscan.h"

QString FailureReason::fromBody(const QString& body)
{
    const int root = JsonScan::documentStart(body);
    if (!JsonScan::charAt(body, root, '{'))
        return QString();
    for (const char* key : {"detail", "title", "message"}) {
        JsonScan::Member member;
        if (!JsonScan::findMember(body, root, QString::fromLatin1(key), member))
            continue;
        QString reason = JsonScan::stringAt(body, member.valueStart, member.valueEnd);
        // A line break or an escape sequence in a reason must not break the log line.
        reason.remove(QRegularExpression(QStringLiteral("[\\x00-\\x1f\\x7f-\\x9f]")));
        reason = reason.trimmed().left(MaxLength);
        if (!reason.isEmpty())
            return reason;
    }
    return QString();
}

QString FailureReason::suffix(const QString& reason)
{
    return reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason);
}
