// Feeds arbitrary bytes to the clock simulator's datagram reading, as any
// host on the network could send them to a simulated clock.
#include "clocksim/receiveddatagram.h"
#include "fuzz/fuzzcheck.h"

#include <QByteArray>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray datagram(reinterpret_cast<const char*>(data), int(size));
    const ClockDatagramReading reading = ClockDatagramReader::read(datagram);
    if (reading.valid) {
        // A datagram taken as valid is exactly lead byte, variable, the text
        // as UTF-8 and the terminator: what the simulator shows is what came.
        fuzzRequire(reading.variable >= 0 && reading.variable <= 255);
        fuzzRequire(reading.problem.isEmpty());
        QByteArray rebuilt;
        rebuilt.append(char(0xBE));
        rebuilt.append(char(reading.variable));
        rebuilt.append(reading.text.toUtf8());
        rebuilt.append('\0');
        fuzzRequire(rebuilt == datagram);
    } else {
        fuzzRequire(!reading.problem.isEmpty());
    }
    const QString preview = ClockDatagramReader::hexPreview(datagram);
    fuzzRequire(preview.size() <= 24 * 3 + 4);
    return 0;
}
