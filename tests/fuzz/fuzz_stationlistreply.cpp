// Arbitrary bytes as the weather service's station-list reply, read the way
// the reply handler reads a real one: body decoded, "name: id" entries cut out.
#include "fuzz/fuzzcheck.h"
#include "replies/replytext.h"
#include "weather/weatherreplyreader.h"

#include <QByteArray>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = ReplyText::decode(QByteArray(reinterpret_cast<const char*>(data), int(size)));
    const QStringList entries = WeatherReplyReader::readStationEntries(text);
    // Every entry is cut from the reply; a reply cannot hold more stations
    // than it has characters.
    fuzzRequire(entries.size() <= text.size() + 1);
    for (int i = 1; i < entries.size(); ++i)
        fuzzRequire(entries.at(i - 1) <= entries.at(i));
    return 0;
}
