#include "app/windowplacement.h"

#include <QStringList>

namespace WindowPlacement {

namespace {

std::optional<std::pair<int, int>> parsePair(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2)
        return std::nullopt;
    bool firstOk = false;
    bool secondOk = false;
    const int first = parts[0].trimmed().toInt(&firstOk);
    const int second = parts[1].trimmed().toInt(&secondOk);
    if (!firstOk || !secondOk)
        return std::nullopt;
    return std::make_pair(first, second);
}

}  // namespace

std::optional<QPoint> parsePosition(const QString& text)
{
    const auto pair = parsePair(text);
    if (!pair)
        return std::nullopt;
    return QPoint(pair->first, pair->second);
}

std::optional<QSize> parseSize(const QString& text)
{
    const auto pair = parsePair(text);
    if (!pair || pair->first < 1 || pair->second < 1)
        return std::nullopt;
    return QSize(pair->first, pair->second);
}

QString positionText(const QPoint& position)
{
    return QStringLiteral("%1,%2").arg(position.x()).arg(position.y());
}

QString sizeText(const QSize& size)
{
    return QStringLiteral("%1,%2").arg(size.width()).arg(size.height());
}

QPoint onScreen(const QPoint& position, const QSize& size, const QList<QRect>& screens, const QRect& primary)
{
    // The strip along the top: enough of it on a screen to take hold of.
    const QRect grip(position, QSize(qMax(1, size.width()), 30));
    for (const QRect& screen : screens) {
        const QRect shared = screen.intersected(grip);
        if (shared.width() >= qMin(100, grip.width()) && shared.height() >= 10)
            return position;
    }
    const QSize fits = size.boundedTo(primary.size());
    return primary.topLeft() + QPoint((primary.width() - fits.width()) / 2, (primary.height() - fits.height()) / 2);
}

}  // namespace WindowPlacement
