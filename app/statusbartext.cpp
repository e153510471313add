#include "app/statusbartext.h"

#include <QStringList>

namespace StatusBarText {

namespace {

const QString Separator = QStringLiteral(" \u00b7 ");
constexpr int ListedAtMost = 3;

QString feedPart(const QString& name, const QTime& time)
{
    return name + QLatin1Char(' ')
           + (time.isValid() ? time.toString(QStringLiteral("hh:mm")) : QStringLiteral("not yet"));
}

}  // namespace

QString compose(const State& state)
{
    QStringList parts;
    parts << feedPart(QStringLiteral("Weather"), state.weather)
          << feedPart(QStringLiteral("Stocks"), state.stocks);
    if (state.clocks.isEmpty()) {
        parts << QStringLiteral("Clocks not yet sent to");
        return parts.join(Separator);
    }
    QStringList silent;
    for (auto it = state.clocks.constBegin(); it != state.clocks.constEnd(); ++it)
        if (!it.value())
            silent << it.key();
    parts << QStringLiteral("Clocks %1 of %2 answering")
                 .arg(state.clocks.size() - silent.size())
                 .arg(state.clocks.size());
    if (!silent.isEmpty()) {
        QString listed = silent.mid(0, ListedAtMost).join(QStringLiteral(", "));
        if (silent.size() > ListedAtMost)
            listed += QStringLiteral(" and %1 more").arg(silent.size() - ListedAtMost);
        parts << listed + QStringLiteral(" not answering");
    }
    return parts.join(Separator);
}

}  // namespace StatusBarText
