// Feeds arbitrary text and positions to the JSON value extraction, the way the
// reply handlers use it: a direct extraction at any position (negative and far
// past the end included), then key searches chained from each resume position.
#include "fuzz/fuzzcheck.h"
#include "replies/jsonextract.h"

#include <QString>
#include <climits>
#include <cstdint>

namespace {

int positionFrom(quint16 raw)
{
    // The two extremes stand for the ends of int, where arithmetic on a
    // position could overflow.
    if (raw == 0x7fff)
        return INT_MAX;
    if (raw == 0x8000)
        return INT_MIN;
    return qint16(raw);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int position = positionFrom(quint16(data[0] | (data[1] << 8)));
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 2), int(size - 2));

    QString key;
    QString value;
    int resume = 0;
    JsonText::extractValue(text, key, value, position, resume);
    // What is cut out comes from the text, and a resume position is inside
    // it or -1.
    fuzzRequire(key.size() <= text.size() && value.size() <= text.size());
    fuzzRequire(resume >= -1 && resume <= text.size());

    // Chained key searches as the reply handlers do them, with keys and inner
    // keys the replies carry.
    static const char* const keys[][2] = {
        {"\"properties\"", "\"forecastOffice\""},
        {"\"gridX\"", nullptr},
        {"\"stationIdentifier\"", nullptr},
        {"\"temperature\"", "\"value\""},
        {"\"windDirection\"", "\"value\""},
        {"\"textDescription\"", nullptr},
        {"\"symbol\"", nullptr},
        {"\"regularMarketPrice\"", nullptr},
    };
    for (const auto& pair : keys) {
        const QString quotedKey = QString::fromLatin1(pair[0]);
        const QString inner = pair[1] ? QString::fromLatin1(pair[1]) : QString();
        int from = position;
        for (int step = 0; step < 8; ++step) {
            const JsonText::Field field = JsonText::extractField(text, quotedKey, from, inner);
            fuzzRequire(field.value.size() <= text.size());
            fuzzRequire(field.resumePosition >= -1 && field.resumePosition <= text.size());
            const int colon = JsonText::findKeyColon(text, quotedKey, from, inner);
            fuzzRequire(colon >= -1 && colon < text.size());
            if (!field.keyFound || field.resumePosition < 0)
                break;
            from = field.resumePosition;
        }
    }
    return 0;
}
