// Arbitrary bytes as the weather service's latest-observation reply, read and
// formatted the way the reply handler does it for both unit systems: no text
// that goes to a clock may show a value the station did not report.
#include "fuzz/fuzzcheck.h"
#include "replies/replytext.h"
#include "weather/weatheritems.h"
#include "weather/weatherreplyreader.h"
#include "weather/weatherreport.h"

#include <QByteArray>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = ReplyText::decode(QByteArray(reinterpret_cast<const char*>(data), int(size)));
    const WeatherReplyReader::Observation observation = WeatherReplyReader::readObservation(text);
    const QStringList missing = observation.missing();
    fuzzRequire(missing.size() <= WeatherItems::observationMeasurements().size());

    for (bool usUnits : {false, true}) {
        const WeatherReport::Texts texts = WeatherReport::compose(observation, usUnits);
        fuzzRequire(texts.item(0) == nullptr);  // "None" is never sent
        for (int index = 0; index < WeatherItems::table().size(); ++index) {
            const WeatherItems::Item& row = WeatherItems::table()[index];
            const WeatherReport::ItemText* item = texts.item(index);
            if (item && row.summaryName)
                fuzzRequire(showsNoInvalidNumber(item->text));
            // Each item whose measurement the station did not report stays unknown.
            for (const WeatherItems::Value& value : row.reads)
                fuzzRequire(!value.required || observation.measurement(value.key).known || !item);
        }
        // The numbers of the summary, after its free-text description.
        const QString summary = texts.summary();
        fuzzRequire(showsNoInvalidNumber(summary.mid(summary.lastIndexOf(QLatin1String(", Temp: ")))));
    }
    return 0;
}
