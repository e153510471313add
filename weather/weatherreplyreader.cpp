#include "weather/weatherreplyreader.h"

#include <QVarLengthArray>
#include <QtMath>
#include <algorithm>
#include <climits>
#include <iterator>
#include <numeric>

#include "replies/jsonextract.h"
#include "replies/jsonscan.h"
#include "weather/weatherformat.h"
#include "weather/weatheritems.h"

namespace {

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

// The measurements the items read, with the units the items understand for
// each, worked out once from the items' table, and a table that finds where
// each key first stands in one scan over the text.
struct MeasuredKey
{
    QString name;       // "temperature"
    QString quoted;     // "\"temperature\""
    QStringList units;  // the assumed one first
};

class MeasuredKeys
{
public:
    MeasuredKeys()
    {
        for (const QString& key : WeatherItems::observationMeasurements()) {
            keys.append({key, QLatin1Char('"') + key + QLatin1Char('"'), WeatherItems::understoodUnits(key)});
            window = qMin(window, keys.last().quoted.size());
        }
        // Set Horspool: the last character of each window of the text says
        // how far the window may move on without passing the start of any
        // key; a window whose last character ends the first `window`
        // characters of a key is checked against that key.
        std::fill(std::begin(shift), std::end(shift), window);
        for (const MeasuredKey& key : keys) {
            for (int j = 0; j < window; ++j) {
                const ushort c = key.quoted.at(j).unicode();
                Q_ASSERT(c < 128);  // the items' keys are plain ASCII
                shift[c & 127] = qMin(shift[c & 127], window - 1 - j);
            }
        }
    }

    // Where each key first stands at or after `from` (-1: nowhere), as
    // QString::indexOf would find it, in one scan over the text.
    void firstPositions(const QString& text, int from, int* at) const
    {
        std::fill(at, at + keys.size(), -1);
        const QChar* const data = text.constData();
        const int size = text.size();
        int left = from < 0 ? 0 : keys.size();
        for (int start = qMax(from, 0); left > 0 && start + window <= size;) {
            const ushort last = data[start + window - 1].unicode();
            const int move = last < 128 ? shift[last] : window;
            if (move > 0) {
                start += move;
                continue;
            }
            for (int k = 0; k < keys.size(); ++k) {
                const QString& quoted = keys[k].quoted;
                if (at[k] < 0 && quoted.at(window - 1).unicode() == last && start + quoted.size() <= size &&
                    QStringView(data + start, quoted.size()) == quoted) {
                    at[k] = start;
                    --left;
                }
            }
            ++start;
        }
    }

    QVector<MeasuredKey> keys;

private:
    int window = INT_MAX;  // the shortest key's length, quotation marks included
    int shift[128];        // the keys are plain ASCII
};

const MeasuredKeys& measuredKeys()
{
    static const MeasuredKeys keys;
    return keys;
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

// A flag or unit as the measurement states it: a string's text, nothing for
// null, anything else as it stands.
QString flagText(const QString& text, int start, int end)
{
    if (JsonScan::charAt(text, start, '"'))
        return JsonScan::stringAt(text, start, end).trimmed();
    const QStringView value = QStringView(text).mid(start, end - start);
    return value == QLatin1String("null") ? QString() : value.trimmed().toString();
}

// A measurement object {"unitCode": ..., "value": ..., "qualityControl": ...}
// whose key stands at `keyAt`, read in one walk of its own members: the first
// "value", "unitCode" and "qualityControl" among them count, so a measurement
// without a value never takes a later one's, and one that is not whole
// (broken, cut short) is unknown. The value is cut as the extraction always
// cut it, and the chain of searches goes on where that cut ended (or after
// the key, when the measurement has no value).
WeatherReplyReader::Measurement readMeasurement(const QString& text, const MeasuredKey& key, int keyAt, int& from)
{
    WeatherReplyReader::Measurement measurement;
    const int afterKey = keyAt + key.quoted.size();
    from = afterKey;
    const int opening = objectOpening(text, afterKey);
    if (opening < 0)
        return measurement;

    bool haveValue = false, haveUnit = false, haveFlag = false;
    QString stated;
    const int closing = JsonScan::walkMembers(text, opening, [&](QStringView member, int valueStart) {
        const int end = JsonScan::valueEnd(text, valueStart);
        if (member == QLatin1String("value") && !haveValue) {
            haveValue = true;
            const int colon = JsonScan::skipSpace(text, int(member.data() - text.constData()) + member.size() + 1);
            QString name;
            JsonText::extractValue(text, name, measurement.raw, colon, from);
        } else if (member == QLatin1String("unitCode") && !haveUnit && end >= 0) {
            haveUnit = true;
            stated = WeatherFormat::unitWithoutPrefix(flagText(text, valueStart, end));
        } else if (member == QLatin1String("qualityControl") && !haveFlag && end >= 0) {
            haveFlag = true;
            measurement.qualityControl = flagText(text, valueStart, end);
        }
        return end;
    });
    // An object the reply does not hold whole may have lost the flag that
    // rejects its value: it is no measurement.
    if (!haveValue || closing < 0)
        return WeatherReplyReader::Measurement();

    bool ok = false;
    const float number = measurement.raw.toFloat(&ok);
    // A value the service's quality control rejected ("X") or judged bad
    // ("B") is no measurement either; older replies write the flags "qc:X".
    const QString& qc = measurement.qualityControl;
    const QStringView flag = qc.startsWith(QLatin1String("qc:")) ? QStringView(qc).mid(3) : QStringView(qc);
    const bool rejected = flag == QLatin1String("X") || flag == QLatin1String("B");

    // A value is only as good as its unit: one the items cannot convert would
    // put a plainly wrong number on a clock.
    measurement.unit = stated.isEmpty() ? key.units.value(0) : stated;
    measurement.unitUnderstood = key.units.contains(measurement.unit);
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

    // The items list their measurements in any order; they are read in the
    // order the reply holds them, so the chain never runs past one of them.
    // Where each key first stands after the description is found in one scan
    // over the text for all of them.
    const QVector<MeasuredKey>& keys = measuredKeys().keys;
    const int count = keys.size();
    QVarLengthArray<int, 8> at(count);
    measuredKeys().firstPositions(text, from, at.data());
    QVarLengthArray<int, 8> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return unsigned(at[a]) < unsigned(at[b]);  // not found (-1) last
    });

    observation.measurements.resize(count);
    for (int k : order) {
        Measurement& measurement = observation.measurements[k];
        // A key that stands before where the chain now is (a value that ran
        // on) is searched again from there.
        const int keyAt = at[k] >= 0 && from >= 0 && from <= at[k] ? at[k] : text.indexOf(keys[k].quoted, from);
        if (keyAt >= 0)
            measurement = readMeasurement(text, keys[k], keyAt, from);
        measurement.key = keys[k].name;
    }
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
