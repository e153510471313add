#include "replies/failurereason.h"

#include <QRegularExpression>

#include "replies/jsonscan.h"

namespace {

// A reason as it goes into a log line: control characters removed (a line
// break or an escape sequence must not break the line), trimmed and cut to
// the longest reason.
QString cleaned(QString reason)
{
    reason.remove(QRegularExpression(QStringLiteral("[\\x00-\\x1f\\x7f-\\x9f]")));
    return reason.trimmed().left(FailureReason::MaxLength);
}

// The string value of member `key` of the object whose "{" is at `open`.
QString stringMember(const QString& body, int open, QStringView key)
{
    JsonScan::Member member;
    return JsonScan::findMember(body, open, key, member) ? JsonScan::stringAt(body, member.valueStart, member.valueEnd)
                                                         : QString();
}

}  // namespace

QString FailureReason::fromBody(const QString& body)
{
    const int root = JsonScan::documentStart(body);
    if (!JsonScan::charAt(body, root, '{'))
        return QString();
    for (const char16_t* key : {u"detail", u"title", u"message"}) {
        const QString reason = cleaned(stringMember(body, root, key));
        if (!reason.isEmpty())
            return reason;
    }
    // The quote service's current answer form: {"quoteResponse": {"result":
    // null, "error": {"code": "Not Found", "description": "..."}}}, or an
    // error stated as a text.
    JsonScan::Member response, error;
    if (!JsonScan::findMember(body, root, u"quoteResponse", response) ||
        !JsonScan::charAt(body, response.valueStart, '{') ||
        !JsonScan::findMember(body, response.valueStart, u"error", error))
        return QString();
    if (JsonScan::charAt(body, error.valueStart, '{'))
        return cleaned(stringMember(body, error.valueStart, u"description"));
    return cleaned(JsonScan::stringAt(body, error.valueStart, error.valueEnd));
}

QString FailureReason::suffix(const QString& reason)
{
    return reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason);
}
