#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

// A window's position and size as the settings file keeps them ("x,y",
// "w,h"), and the rule that brings a window back onto a screen.
namespace WindowPlacement {

std::optional<QPoint> parsePosition(const QString& text);
// Sizes of at least one pixel each way only.
std::optional<QSize> parseSize(const QString& text);
QString positionText(const QPoint& position);
QString sizeText(const QSize& size);

// Where a window of `size` stored at `position` opens: there, when its top
// edge (where it is grabbed) lies on one of `screens`; else centred on the
// primary screen, as a window whose screen has gone would otherwise be
// out of reach.
QPoint onScreen(const QPoint& position, const QSize& size, const QList<QRect>& screens, const QRect& primary);

}  // namespace WindowPlacement
