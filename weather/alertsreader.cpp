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

// The strings of the "VTEC" list of an alert's "parameters" object (whose
// value starts at `start`); returns one past the object's end. Anything else
// is skipped whole.
int readParameters(const QString& text, int start, QStringList& codes)
{
    if (!JsonScan::charAt(text, start, '{'))
        return JsonScan::valueEnd(text, start);
    return JsonScan::walkMembers(text, start, [&](QStringView key, int at) {
        if (!isKey(key, "VTEC") || !JsonScan::charAt(text, at, '['))
            return JsonScan::valueEnd(text, at);
        return JsonScan::walkElements(text, at, [&](int code) {
            const int end = JsonScan::valueEnd(text, code);
            const QString vtec = JsonScan::stringAt(text, code, end);
            if (!vtec.isEmpty())
                codes << vtec;
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
        if (isKey(key, "parameters"))
            return readParameters(text, at, alert.vtec);
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

// One operational P-VTEC code, "/O.EXT.KOAX.WS.W.0003.240109T1800Z-240110T1800Z/":
// the event it belongs to ("KOAX.WS.W.0003") and what this version does to it.
struct EventCode
{
    QString event;
    QString action;
};

// The operational codes of an alert; codes of another product class (test,
// experimental) and anything that is no P-VTEC code are left out.
QVector<EventCode> operationalCodes(const Alert& alert)
{
    QVector<EventCode> codes;
    for (const QString& vtec : alert.vtec) {
        const QStringList parts = vtec.trimmed().remove(QLatin1Char('/')).split(QLatin1Char('.'));
        if (parts.size() < 6 || parts[0] != QLatin1String("O") || parts[1].size() != 3 || parts[2].size() != 4 ||
            parts[3].size() != 2 || parts[4].size() != 1 || parts[5].size() != 4)
            continue;
        codes.append({QStringList(parts.mid(2, 4)).join(QLatin1Char('.')), parts[1]});
    }
    return codes;
}

bool sentLater(const Alert& a, const Alert& b)
{
    return a.sent.isValid() && (!b.sent.isValid() || a.sent > b.sent);
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

    // Each event's newest version (latest sent; the first in the reply among
    // equals) and its code there.
    QVector<QVector<EventCode>> codes(alerts.size());
    QHash<QString, QPair<int, QString>> newest;
    for (int i = 0; i < alerts.size(); ++i) {
        if (alerts[i].status != QLatin1String("Actual"))
            continue;
        codes[i] = operationalCodes(alerts[i]);
        for (const EventCode& code : codes[i]) {
            auto it = newest.find(code.event);
            if (it == newest.end())
                newest.insert(code.event, {i, code.action});
            else if (sentLater(alerts[i], alerts[it->first]))
                *it = {i, code.action};
        }
    }
    // An alert with codes stands for the events it is the newest version of
    // that have not ended.
    auto standsForAnEvent = [&](int i) {
        if (codes[i].isEmpty())
            return true;
        for (const EventCode& code : codes[i]) {
            const QPair<int, QString> last = newest.value(code.event);
            if (last.first == i && last.second != QLatin1String("CAN") && last.second != QLatin1String("EXP") &&
                last.second != QLatin1String("UPG"))
                return true;
        }
        return false;
    };

    Summary summary;
    for (int i = 0; i < alerts.size(); ++i) {
        const Alert& alert = alerts[i];
        const QDateTime until = alert.inForceUntil();
        if (alert.status == QLatin1String("Actual") && alert.messageType != QLatin1String("Cancel") &&
            until.isValid() && until > now && !alert.event.isEmpty() && !replacedByAnother(i) && standsForAnEvent(i))
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
