#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

// Reads the weather service's active alerts for a point (a GeoJSON feature
// collection, one feature per alert with its values in "properties") and
// decides which alerts are in force and what the clocks show of them.
//
// Alert replies carry descriptions of tens of KB per alert. Each alert's
// values are read only among the top-level members of its own "properties"
// object (so a "sent" inside a reference, or a key quoted inside a
// description, is never taken for the alert's own), in one pass over the
// reply: every value the reader does not want is skipped whole, once.
namespace AlertsReader {

// One alert as the reply gives it. A text is empty and a time invalid when
// the alert's own properties lack it, hold null, or hold something other than
// a string (or a time that cannot be read).
struct Alert
{
    QString id;    // "urn:oid:2.49.0.1.840.0...."
    QString atId;  // "@id": the same alert's address at the service
    QString status;
    QString messageType;
    QString event;
    QString severity;
    QString urgency;
    QDateTime sent;
    QDateTime expires;
    QDateTime ends;
    // The older alerts this one updates or cancels: each entry's
    // "identifier" and "@id", as the service gives them.
    QStringList references;
    // The event codes of "parameters.VTEC" ("/O.EXT.KOAX.WS.W.0003.…/"), as
    // the service gives them: one alert may carry several (a watch upgraded
    // to a warning: UPG for the watch, NEW for the warning).
    QStringList vtec;

    // Until when the alert is in force: the later of expires and ends
    // (invalid when neither can be read).
    QDateTime inForceUntil() const;
};

struct Reading
{
    bool readable = false;  // a complete JSON object with a "features" list
    QString problem;        // why not, for the log line
    QVector<Alert> alerts;  // in reply order
};

Reading read(const QString& text);

// The alerts in force at `now` and the slot's text, one per event.
//
// An alert counts when its status is "Actual", its messageType is not
// "Cancel", it is in force after `now`, it names an event, and no other alert
// of status "Actual" lists its id (or address) in its references: the service
// keeps the older versions of an updated alert active, and a cancelled or
// replaced alert is over even when its newer version has ended already.
//
// The service's own event key settles what references cannot (an update
// whose middle version is gone): the operational codes (product class "O")
// of "parameters.VTEC" name office, phenomenon, significance and event
// number, which every version of one event shares. An alert with such codes
// counts only as the newest version (latest sent) of one of its events, and
// an event whose newest code is CAN, EXP or UPG has ended, whatever the
// alert's messageType. Alerts without a code are grouped by their references
// alone.
struct Summary
{
    QVector<int> counted;  // indexes into Reading::alerts, one per event, most important first
    QStringList events;    // their events, in the same order
    // The most important event (by severity, then urgency, then the latest
    // sent), " +N" when N others count, or "No Alerts".
    QString text;
    // When the text stops being true: the latest end of the counted alerts
    // (invalid when none counts).
    QDateTime validUntil;

    // "Weather Alerts: %d active: %s", the events joined by ", ".
    QString logLine() const;
};

Summary summarize(const Reading& reading, const QDateTime& now);

// The slot's text at `now` for the last good reading, received at
// `receivedAt`: as summarize gives it, moving on as the alerts end, and
// "Alerts --" once every alert that counted when it arrived has ended (the
// texts never outlive what they state). A reply without alerts gives
// "No Alerts" for NoAlertsHoldsMinutes after it arrived, then "Alerts --":
// with the service silent that long, no one can say there is no warning.
QString textAt(const Reading& reading, const QDateTime& receivedAt, const QDateTime& now);

// Six of the 5-minute alerts requests.
constexpr int NoAlertsHoldsMinutes = 30;

inline const char* const NoAlertsText = "No Alerts";
inline const char* const EndedText = "Alerts --";

}  // namespace AlertsReader
