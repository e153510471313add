#pragma once

// Builds active-alert replies shaped like the weather service's (a GeoJSON
// feature collection, each alert's values in its "properties"), with
// descriptions as long as wanted: a warning's text runs to tens of KB.

#include <QString>
#include <QStringList>

struct AlertData
{
    QString id;
    QString event;
    QString severity = "Severe";
    QString urgency = "Expected";
    QString sent = "2024-01-09T09:12:00-06:00";
    QString expires = "2024-01-09T18:00:00-06:00";
    QString status = "Actual";
    QStringList references;  // ids of the alerts this one updates
    int descriptionChars = 300;
};

inline QString alertFeature(const AlertData& a)
{
    QString references, description = "* WHAT...{\\\"see\\\": \\\"below\\\"} ";
    for (const QString& r : a.references)
        references += QString(references.isEmpty() ? "" : ", ") + "{\"@id\": \"https://api.weather.gov/alerts/" + r
                      + "\", \"identifier\": \"" + r + "\", \"sent\": \"2024-01-09T03:12:00-06:00\"}";
    while (description.size() < a.descriptionChars)
        description += "Travel could be very difficult. Plan on slippery road conditions.\\n\\n";
    QString f = "{\"id\": \"https://api.weather.gov/alerts/%ID%\", \"type\": \"Feature\", \"geometry\": null, "
                "\"properties\": {\"@id\": \"https://api.weather.gov/alerts/%ID%\", \"id\": \"%ID%\", "
                "\"references\": [%REFS%], \"sent\": \"%SENT%\", \"expires\": \"%EXPIRES%\", \"ends\": null, "
                "\"status\": \"%STATUS%\", \"messageType\": \"Alert\", \"severity\": \"%SEVERITY%\", "
                "\"urgency\": \"%URGENCY%\", \"event\": \"%EVENT%\", \"description\": \"%DESCRIPTION%\", "
                "\"parameters\": {\"NWSheadline\": [\"%EVENT% IN EFFECT\"]}}}";
    f.replace("%REFS%", references).replace("%ID%", a.id).replace("%SENT%", a.sent).replace("%EXPIRES%", a.expires);
    f.replace("%STATUS%", a.status).replace("%SEVERITY%", a.severity).replace("%URGENCY%", a.urgency);
    return f.replace("%EVENT%", a.event).replace("%DESCRIPTION%", description);
}

inline QString alertsReply(const QList<AlertData>& alerts)
{
    QStringList features;
    for (const AlertData& a : alerts)
        features << alertFeature(a);
    return "{\"type\": \"FeatureCollection\", \"features\": [\n" + features.join(",\n")
           + "\n], \"title\": \"Current watches, warnings, and advisories\"}";
}

// `count` alerts in force on 2024-01-09 from noon to 18:00 CST, each with a
// description of `descriptionChars`; the severities cycle through Minor,
// Moderate and Severe, and alert `extreme` alone is an Extreme "Tornado Warning".
inline QString manyAlertsReply(int count, int descriptionChars, int extreme)
{
    const QStringList severities = {"Minor", "Moderate", "Severe"};
    QList<AlertData> alerts;
    for (int i = 0; i < count; ++i) {
        AlertData a{"urn:oid:2.49.0.1.840.0." + QString::number(70000 + i) + ".001.1",
                    i == extreme ? "Tornado Warning" : "Winter Storm Warning", severities[i % 3]};
        a.severity = i == extreme ? "Extreme" : a.severity;
        a.descriptionChars = descriptionChars;
        alerts << a;
    }
    return alertsReply(alerts);
}
