// Arbitrary bytes as the weather service's point reply, read the way the
// reply handler reads a real one: body decoded, grid cut out.
#include "fuzz/fuzzcheck.h"
#include "replies/replytext.h"
#include "weather/weatherreplyreader.h"

#include <QByteArray>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = ReplyText::decode(QByteArray(reinterpret_cast<const char*>(data), int(size)));
    const WeatherReplyReader::PointGrid grid = WeatherReplyReader::readPoint(text);
    fuzzRequire(grid.gridId.size() <= text.size());
    fuzzRequire(grid.gridX.size() <= text.size());
    fuzzRequire(grid.gridY.size() <= text.size());
    return 0;
}
