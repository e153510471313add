#pragma once

#include <QByteArray>
#include <QString>

// Reads one datagram as a clock does: 0xBE, the variable number, the text as
// UTF-8, 0x00. Anything else is malformed and is reported with the reason,
// so the simulator can show it and leave it unanswered.
struct ClockDatagramReading
{
    bool valid = false;
    int variable = -1;  // 0..255 when valid
    QString text;       // the decoded text when valid
    QString problem;    // why the datagram was refused, when not valid
};

namespace ClockDatagramReader {

ClockDatagramReading read(const QByteArray& datagram);

// The bytes as space-separated hex, cut after `maxBytes`, for reports.
QString hexPreview(const QByteArray& datagram, int maxBytes = 24);

}  // namespace ClockDatagramReader
