#include "weather/alertsreader.h"

#include <QHash>
#include <algorithm>

#include "replies/jsonscan.h"
#include "weather/servicetime.h"

using AlertsReader::Alert;

namespace {

bool isKey(QStringView key, const char* name)
{
    return key == QLatin1String(name);
}

// The "identifier" and "@id" of each entry of an alert's "references" list
// (whose value starts at `start`); returns one past the list's end. Anything
// else in the list, and a value that is no list, is skipped whole.
int readReferences(const QString& text, int start, QStringList& references)
{
    if (!JsonScan::charAt(text, start, '['))
        return JsonScan::valueEnd(text, start);
    return JsonScan::walkElements(text, start, [&](int entry) {
        if (!JsonScan::charAt(text, entry, '{'))
            return JsonScan::valueEnd(text, entry);
        return JsonScan::walkMembers(text, entry, [&](QStringView key, int at) {
            const int end = JsonScan::valueEnd(text, at);
            if (isKey(key, "identifier") || isKey(key, "@id")) {
                const QString reference = JsonScan::stringAt(text, at, end);
                if (!reference.isEmpty())
                    references << reference;
            }
            return end;
        });
    });
}

// The alert's values among the top-level members of its "properties" object
// (the "{" at `open`); returns one past the object's end.
int readProperties(const QString& text, int open, Alert& alert)
{
    QString sent, expires, ends;
    const struct
    {
        const char* key;
        QString* field;
    } strings[] = {{"id", &alert.id},           {"@id", &alert.atId},
                   {"status", &alert.status},   {"messageType", &alert.messageType},
                   {"event", &alert.event},     {"severity", &alert.severity},
                   {"urgency", &alert.urgency}, {"sent", &sent},
                   {"expires", &expires},       {"ends", &ends}};
    const int end = JsonScan::walkMembers(text, open, [&](QStringView key, int at) {
        if (isKey(key, "references"))
            return readReferences(text, at, alert.references);
        const int valueEnd = JsonScan::valueEnd(text, at);
        for (const auto& wanted : strings) {
            if (isKey(key, wanted.key)) {
                *wanted.field = JsonScan::stringAt(text, at, valueEnd);
                break;
            }
        }
        return valueEnd;
    });
    alert.sent = ServiceTime::parse(sent);
    alert.expires = ServiceTime::parse(expires);
    alert.ends = ServiceTime::parse(ends);
    return end;
}

// Importance of a severity or urgency: its place in `order`; a value the list
// does not name ranks as the last entry ("Unknown").
int rank(const QString& value, std::initializer_list<const char*> order)
{
    int place = 0;
    for (const char* name : order) {
        if (value == QLatin1String(name))
            return place;
        ++place;
    }
    return place - 1;
}

int severityRank(const Alert& alert)
{
    return rank(alert.severity, {"Extreme", "Severe", "Moderate", "Minor", "Unknown"});
}

int urgencyRank(const Alert& alert)
{
    return rank(alert.urgency, {"Immediate", "Expected", "Future", "Past", "Unknown"});
}

}  // namespace

QDateTime AlertsReader::Alert::inForceUntil() const
{
    if (!ends.isValid())
        return expires;
    if (!expires.isValid())
        return ends;
    return qMax(expires, ends);
}

AlertsReader::Reading AlertsReader::read(const QString& text)
{
    Reading reading;
    const int root = JsonScan::documentStart(text);
    if (!JsonScan::charAt(text, root, '{')) {
        reading.problem = QStringLiteral("not a JSON object");
        return reading;
    }
    bool haveFeatures = false;
    const int end = JsonScan::walkMembers(text, root, [&](QStringView key, int at) {
        if (!isKey(key, "features") || !JsonScan::charAt(text, at, '['))
            return JsonScan::valueEnd(text, at);
        haveFeatures = true;
        return JsonScan::walkElements(text, at, [&](int feature) {
            if (!JsonScan::charAt(text, feature, '{'))
                return JsonScan::valueEnd(text, feature);
            return JsonScan::walkMembers(text, feature, [&](QStringView member, int value) {
                if (!isKey(member, "properties") || !JsonScan::charAt(text, value, '{'))
                    return JsonScan::valueEnd(text, value);
                Alert alert;
                const int propertiesEnd = readProperties(text, value, alert);
                reading.alerts << alert;
                return propertiesEnd;
            });
        });
    });
    // A reply cut short may have lost the one alert that matters: it is not
    // read at all.
    if (end < 0) {
        reading.alerts.clear();
        reading.problem = QStringLiteral("the reply is cut short or not well-formed JSON");
    } else if (!haveFeatures) {
        reading.problem = QStringLiteral("no \"features\" list");
    } else {
        reading.readable = true;
    }
    return reading;
}

AlertsReader::Summary AlertsReader::summarize(const Reading& reading, const QDateTime& now)
{
    const QVector<Alert>& alerts = reading.alerts;

    // Which alert lists each reference: -1 when several do.
    QHash<QString, int> referrer;
    for (int i = 0; i < alerts.size(); ++i) {
        if (alerts[i].status != QLatin1String("Actual"))
            continue;  // a test message replaces nothing
        for (const QString& reference : alerts[i].references) {
            auto it = referrer.find(reference);
            if (it == referrer.end())
                referrer.insert(reference, i);
            else if (*it != i)
                *it = -1;
        }
    }
    auto replacedByAnother = [&](int i) {
        for (const QString& name : {alerts[i].id, alerts[i].atId}) {
            const auto it = referrer.constFind(name);
            if (!name.isEmpty() && it != referrer.constEnd() && *it != i)
                return true;
        }
        return false;
    };

    Summary summary;
    for (int i = 0; i < alerts.size(); ++i) {
        const Alert& alert = alerts[i];
        const QDateTime until = alert.inForceUntil();
        if (alert.status == QLatin1String("Actual") && alert.messageType != QLatin1String("Cancel") &&
            until.isValid() && until > now && !alert.event.isEmpty() && !replacedByAnother(i))
            summary.counted << i;
    }
    std::stable_sort(summary.counted.begin(), summary.counted.end(), [&](int a, int b) {
        const Alert& x = alerts[a];
        const Alert& y = alerts[b];
        if (severityRank(x) != severityRank(y))
            return severityRank(x) < severityRank(y);
        if (urgencyRank(x) != urgencyRank(y))
            return urgencyRank(x) < urgencyRank(y);
        if (x.sent.isValid() != y.sent.isValid())
            return x.sent.isValid();
        return x.sent.isValid() && x.sent > y.sent;
    });

    for (int i : summary.counted) {
        summary.events << alerts[i].event;
        const QDateTime until = alerts[i].inForceUntil();
        if (!summary.validUntil.isValid() || until > summary.validUntil)
            summary.validUntil = until;
    }
    if (summary.counted.isEmpty())
        summary.text = QLatin1String(NoAlertsText);
    else if (summary.counted.size() == 1)
        summary.text = summary.events.first();
    else
        summary.text =
            QStringLiteral("%1 +%2").arg(summary.events.first(), QString::number(summary.counted.size() - 1));
    return summary;
}

QString AlertsReader::Summary::logLine() const
{
    return QStringLiteral("Weather Alerts: %1 active: %2")
        .arg(QString::number(counted.size()), events.join(QStringLiteral(", ")));
}

QString AlertsReader::textAt(const Reading& reading, const QDateTime& receivedAt, const QDateTime& now)
{
    if (summarize(reading, receivedAt).counted.isEmpty())
        return QLatin1String(now < receivedAt.addSecs(NoAlertsHoldsMinutes * 60) ? NoAlertsText : EndedText);
    const Summary current = summarize(reading, now);
    return current.counted.isEmpty() ? QLatin1String(EndedText) : current.text;
}
