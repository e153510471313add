#include "weather/weatherreplyreader.h"

#include <QPair>
#include <QtMath>
#include <algorithm>
#include <climits>

#include "replies/jsonextract.h"
#include "weather/weatherformat.h"
#include "weather/weatheritems.h"

namespace {

const QString ValueKey = QStringLiteral("\"value\"");

QString quoted(const char* key)
{
    return QLatin1Char('"') + QLatin1String(key) + QLatin1Char('"');
}

// A plain member of the observation (timestamp, description). When the key is
// missing the value is empty and the chain goes on from where it stood, so one
// missing member does not blank every value after it.
QString readMember(const QString& text, const char* key, int& from)
{
    const JsonText::Field field = JsonText::extractField(text, quoted(key), from);
    if (!field.keyFound)
        return QString();
    from = field.resumePosition;
    // A JSON null is no text: never the word "null".
    return field.isNull ? QString() : field.value;
}

// A member ("qualityControl", "unitCode") of a flat measurement object, given
// as its text from its "{" to its first "}": empty when the object has none
// or it is null. Cut from the object alone, a bare value never runs on into
// the next measurement.
QString ownMember(const QString& object, const QString& quotedKey)
{
    const int keyAt = object.indexOf(quotedKey);
    const int colon = keyAt < 0 ? -1 : object.indexOf(QLatin1Char(':'), keyAt);
    if (colon < 0)
        return QString();
    QString key, value;
    int resume = -1;
    JsonText::extractValue(object, key, value, colon, resume);
    return JsonText::isNullValue(object, colon, value) ? QString() : value.trimmed();
}

// Index of the "{" that opens the object given as the value of the key ending
// just before `afterKey`, or -1 when the value is not an object.
int objectOpening(const QString& text, int afterKey)
{
    int at = afterKey;
    auto skipBlanks = [&] {
        while (at < text.size() && text.at(at).isSpace())
            ++at;
    };
    skipBlanks();
    if (at >= text.size() || text.at(at) != QLatin1Char(':'))
        return -1;
    ++at;
    skipBlanks();
    return at < text.size() && text.at(at) == QLatin1Char('{') ? at : -1;
}

// A measurement object {"unitCode": ..., "value": ..., "qualityControl": ...}.
// Its "value" counts only when it lies inside the measurement's own (flat)
// object; otherwise the search would take the value of some later measurement.
WeatherReplyReader::Measurement readMeasurement(const QString& text, const char* key, int& from)
{
    WeatherReplyReader::Measurement measurement;
    const QString quotedKey = quoted(key);
    const int keyAt = text.indexOf(quotedKey, from);
    if (keyAt < 0)
        return measurement;
    const int afterKey = keyAt + quotedKey.size();
    const int opening = objectOpening(text, afterKey);
    const int valueAt = text.indexOf(ValueKey, keyAt);
    const QStringRef inside = text.midRef(opening + 1, valueAt - opening - 1);
    if (opening < 0 || valueAt < 0 || inside.contains(QLatin1Char('}')) || inside.contains(QLatin1Char('{'))) {
        from = afterKey;
        return measurement;
    }

    const JsonText::Field field = JsonText::extractField(text, quotedKey, from, ValueKey);
    from = field.resumePosition;
    measurement.raw = field.value;
    const int closing = text.indexOf(QLatin1Char('}'), opening);
    const QString object = text.mid(opening, closing < 0 ? -1 : closing - opening);
    measurement.qualityControl = ownMember(object, QStringLiteral("\"qualityControl\""));
    bool ok = false;
    const float number = field.value.toFloat(&ok);
    // A value the service's quality control rejected ("X") or judged bad
    // ("B") is no measurement either; older replies write the flags "qc:X".
    const QString& qc = measurement.qualityControl;
    const QString flag = qc.startsWith(QLatin1String("qc:")) ? qc.mid(3) : qc;
    const bool rejected = flag == QLatin1String("X") || flag == QLatin1String("B");

    // A value is only as good as its unit: one the items cannot convert would
    // put a plainly wrong number on a clock.
    const QStringList units = WeatherItems::understoodUnits(QLatin1String(key));
    const QString stated = WeatherFormat::unitWithoutPrefix(ownMember(object, QStringLiteral("\"unitCode\"")));
    measurement.unit = stated.isEmpty() ? units.value(0) : stated;
    measurement.unitUnderstood = units.contains(measurement.unit);
    measurement.known = ok && qIsFinite(number) && !rejected && measurement.unitUnderstood;
    return measurement;
}

}  // namespace

WeatherReplyReader::PointGrid WeatherReplyReader::readPoint(const QString& text)
{
    PointGrid grid;
    grid.gridId = JsonText::extractField(text, quoted("gridId"), 0).value;
    grid.gridX = JsonText::extractField(text, quoted("gridX"), 0).value;
    grid.gridY = JsonText::extractField(text, quoted("gridY"), 0).value;
    return grid;
}

QStringList WeatherReplyReader::readStationEntries(const QString& text)
{
    const QString idKey = quoted("stationIdentifier");
    const QString nameKey = quoted("name");
    QStringList entries;
    int i = text.indexOf(idKey, 0);
    while (i != -1) {
        // Every station gives exactly one id and one name.
        const JsonText::Field id = JsonText::extractField(text, idKey, i);
        const JsonText::Field name = JsonText::extractField(text, nameKey, id.resumePosition);
        entries.append(name.value + QStringLiteral(": ") + id.value);
        const int next = text.indexOf(idKey, name.resumePosition);
        // A search that went back to the start would list the same stations
        // for ever (a resume position of -1 counts from the end, but a text
        // can be laid out so that it lands before i).
        if (next != -1 && next <= i)
            break;
        i = next;
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

WeatherReplyReader::Observation WeatherReplyReader::readObservation(const QString& text)
{
    Observation observation;
    int from = 0;
    observation.timestamp = readMember(text, "timestamp", from);
    observation.description = readMember(text, "textDescription", from);

    // The items list their measurements in any order; they are searched in the
    // order the reply holds them, so the chain never runs past one of them.
    QVector<QPair<int, QByteArray>> keys;
    for (const QString& key : WeatherItems::observationMeasurements()) {
        const int at = text.indexOf(QLatin1Char('"') + key + QLatin1Char('"'), from);
        keys.append({at < 0 ? INT_MAX : at, key.toLatin1()});
    }
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& key : keys) {
        Measurement measurement = readMeasurement(text, key.second.constData(), from);
        measurement.key = QString::fromLatin1(key.second);
        observation.measurements.append(measurement);
    }
    // Kept in the items' order, whatever the reply's.
    const QStringList order = WeatherItems::observationMeasurements();
    std::stable_sort(
        observation.measurements.begin(), observation.measurements.end(),
        [&](const Measurement& a, const Measurement& b) { return order.indexOf(a.key) < order.indexOf(b.key); });
    return observation;
}

const WeatherReplyReader::Measurement& WeatherReplyReader::Observation::measurement(const QString& key) const
{
    static const Measurement unknown;
    for (const Measurement& m : measurements) {
        if (m.key == key)
            return m;
    }
    return unknown;
}

QStringList WeatherReplyReader::Observation::missing(const QVector<int>& shownItems) const
{
    const QStringList counted = WeatherItems::countedMeasurements(shownItems);
    QStringList names;
    for (const Measurement& m : measurements) {
        if (!m.known && counted.contains(m.key))
            names << (m.unitUnderstood ? m.key : QStringLiteral("%1 (unit %2)").arg(m.key, m.unit));
    }
    return names;
}

bool WeatherReplyReader::Observation::anyMeasurementKnown(const QVector<int>& shownItems) const
{
    const QStringList counted = WeatherItems::countedMeasurements(shownItems);
    return std::any_of(measurements.cbegin(), measurements.cend(),
                       [&](const Measurement& m) { return m.known && counted.contains(m.key); });
}
