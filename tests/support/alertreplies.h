#pragma once

// Active-alert replies shaped like the weather service's (a GeoJSON feature
// collection, each alert's values in its "properties"), with descriptions as
// long as wanted: a warning's text runs to tens of KB.

#include <QString>
#include <QStringList>

inline QString alertFeature(const QString& id, const QString& event, const QString& severity,
                            const QString& urgency = "Expected", const QString& expires = "2024-01-09T18:00:00-06:00",
                            const QString& sent = "2024-01-09T09:12:00-06:00", int descriptionChars = 300)
{
    QString description = "* WHAT...{\\\"see\\\": \\\"below\\\"} ";
    while (description.size() < descriptionChars)
        description += "Travel could be very difficult. Plan on slippery road conditions.\\n\\n";
    return QString(
               "{\"id\": \"https://api.weather.gov/alerts/%1\", \"type\": \"Feature\", \"geometry\": null, "
               "\"properties\": {\"@id\": \"https://api.weather.gov/alerts/%1\", \"id\": \"%1\", "
               "\"references\": [], \"sent\": \"%2\", \"expires\": \"%3\", \"ends\": null, \"status\": \"Actual\", "
               "\"messageType\": \"Alert\", \"severity\": \"%4\", \"urgency\": \"%5\", \"event\": \"%6\", "
               "\"description\": \"%7\", \"parameters\": {\"NWSheadline\": [\"%6 IN EFFECT\"]}}}")
        .arg(id, sent, expires, severity, urgency, event, description);
}

// The feature with its event codes in "parameters.VTEC".
inline QString withVtec(QString feature, const QStringList& codes)
{
    return feature.replace("\"parameters\": {", "\"parameters\": {\"VTEC\": [\"" + codes.join("\", \"") + "\"], ");
}

inline QString alertsReply(const QStringList& features)
{
    return "{\"type\": \"FeatureCollection\", \"features\": [\n" + features.join(",\n") +
           "\n], \"title\": \"Current watches, warnings, and advisories\"}";
}

// `count` alerts with descriptions of `descriptionChars`, severities Minor,
// Moderate, Severe in turn; alert `extreme` alone an Extreme "Tornado Warning".
inline QString manyAlertsReply(int count, int descriptionChars, int extreme)
{
    QStringList features;
    for (int i = 0; i < count; ++i)
        features << alertFeature("urn:oid:2.49.0.1.840.0." + QString::number(70000 + i),
                                 i == extreme ? "Tornado Warning" : "Winter Storm Warning",
                                 i == extreme ? "Extreme" : QStringList{"Minor", "Moderate", "Severe"}[i % 3],
                                 "Expected", "2024-01-09T18:00:00-06:00", "", descriptionChars);
    return alertsReply(features);
}
