#pragma once

#include <QString>
#include <QStringList>

namespace ClockAddressList {

// A feed's clock address line: split at every ",", empty parts dropped, every
// space removed from each part, order kept. A part of spaces only stays as an
// empty address.
QStringList split(const QString& text);

}  // namespace ClockAddressList
