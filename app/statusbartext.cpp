#include "app/statusbartext.h"

#include <QStringList>

#include "clocklink/clockaddresslist.h"

namespace StatusBarText {

namespace {

const QString Separator = QStringLiteral(" \u00b7 ");
constexpr int ListedAtMost = 3;

QString feedPart(const QString& name, const QTime& time)
{
    return name + QLatin1Char(' ') +
           (time.isValid() ? time.toString(QStringLiteral("hh:mm")) : QStringLiteral("not yet"));
}

// The clocks reported on that are in a list: how many, and those not answering.
QStringList silentClocks(const State& state, int& shown)
{
    QStringList silent;
    shown = 0;
    for (auto it = state.clocks.constBegin(); it != state.clocks.constEnd(); ++it) {
        if (!state.listed.contains(it.key()))
            continue;
        ++shown;
        if (!it.value())
            silent << it.key();
    }
    return silent;
}

}  // namespace

QString compose(const State& state)
{
    QStringList parts;
    parts << feedPart(QStringLiteral("Weather"), state.weather) << feedPart(QStringLiteral("Stocks"), state.stocks);
    int shown = 0;
    const QStringList silent = silentClocks(state, shown);
    if (shown == 0) {
        parts << QStringLiteral("Clocks not yet sent to");
        return parts.join(Separator);
    }
    parts << QStringLiteral("Clocks %1 of %2 answering").arg(shown - silent.size()).arg(shown);
    if (!silent.isEmpty()) {
        QString listed = silent.mid(0, ListedAtMost).join(QStringLiteral(", "));
        if (silent.size() > ListedAtMost)
            listed += QStringLiteral(" and %1 more").arg(silent.size() - ListedAtMost);
        parts << listed + QStringLiteral(" not answering");
    }
    return parts.join(Separator);
}

QString serviceLine(const State& state)
{
    int shown = 0;
    const int silent = int(silentClocks(state, shown).size());
    return QStringLiteral("%1 clock%2, %3 not answering; %4, %5")
        .arg(shown)
        .arg(shown == 1 ? "" : "s")
        .arg(silent)
        .arg(feedPart(QStringLiteral("weather"), state.weather), feedPart(QStringLiteral("stocks"), state.stocks));
}

QSet<QString> listedClocks(const QString& weatherList, const QString& stockList)
{
    QSet<QString> listed;
    for (const QString& address : ClockAddressList::split(weatherList) + ClockAddressList::split(stockList))
        listed.insert(address);
    return listed;
}

}  // namespace StatusBarText
