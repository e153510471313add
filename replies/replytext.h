#pragma once

#include <QByteArray>
#include <QString>

namespace ReplyText {

// A reply body as the readers search it: cut at its first zero byte, decoded
// as UTF-8.
inline QString decode(const QByteArray& body)
{
    const int zero = body.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? body : body.left(zero));
}

}  // namespace ReplyText
