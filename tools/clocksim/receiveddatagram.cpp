#include "clocksim/receiveddatagram.h"

#include <QTextCodec>

namespace {

constexpr char LeadByte = char(0xBE);

ClockDatagramReading refused(const QString& problem)
{
    ClockDatagramReading reading;
    reading.problem = problem;
    return reading;
}

}  // namespace

ClockDatagramReading ClockDatagramReader::read(const QByteArray& datagram)
{
    // Lead byte, variable and terminator are the least a datagram carries.
    if (datagram.size() < 3)
        return refused(QStringLiteral("too short (%1 bytes)").arg(datagram.size()));
    if (datagram.at(0) != LeadByte)
        return refused(QStringLiteral("wrong first byte 0x%1").arg(quint8(datagram.at(0)), 2, 16, QLatin1Char('0')));
    if (datagram.at(datagram.size() - 1) != '\0')
        return refused(QStringLiteral("no terminator"));

    const QByteArray utf8 = datagram.mid(2, datagram.size() - 3);
    // The terminator ends the text; a zero byte inside it would cut the text
    // short on a clock that reads up to the first zero.
    const int innerZero = utf8.indexOf('\0');
    if (innerZero >= 0)
        return refused(QStringLiteral("zero byte inside the text at offset %1").arg(innerZero + 2));

    QTextCodec* codec = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString text = codec->toUnicode(utf8.constData(), utf8.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0)
        return refused(QStringLiteral("invalid UTF-8 in the text"));

    ClockDatagramReading reading;
    reading.valid = true;
    reading.variable = quint8(datagram.at(1));
    reading.text = text;
    return reading;
}

QString ClockDatagramReader::hexPreview(const QByteArray& datagram, int maxBytes)
{
    QString hex = QString::fromLatin1(datagram.left(maxBytes).toHex(' '));
    if (datagram.size() > maxBytes)
        hex += QStringLiteral(" ...");
    return hex;
}
