#pragma once

#include <QByteArray>
#include <QString>

namespace ReplyText {

// A reply body as the readers search it: cut at its first zero byte, decoded
// as UTF-8 (with its length given, so the bytes are not counted again).
inline QString decode(const QByteArray& body)
{
    const int zero = body.indexOf('\0');
    return QString::fromUtf8(body.constData(), zero < 0 ? body.size() : zero);
}

}  // namespace ReplyText
