#include "ui/clockstablemodel.h"

#include <QBrush>
#include <QColor>

#include "clocklink/clockstates.h"

namespace {

const QString TimeFormat = QStringLiteral("MM/dd/yy hh:mm:ss");

// Not answering first, then not yet sent to, then answering.
int healthOrder(ClockState::Health health)
{
    switch (health) {
    case ClockState::Health::NotAnswering:
        return 0;
    case ClockState::Health::NotYetSentTo:
        return 1;
    case ClockState::Health::Answering:
        break;
    }
    return 2;
}

QString listsText(const ClockState& clock)
{
    if (clock.weatherList && clock.stockList)
        return QStringLiteral("both");
    return clock.weatherList ? QStringLiteral("weather") : QStringLiteral("stocks");
}

QVariant variableData(const ClockVariableState& v, int role)
{
    switch (role) {
    case Qt::DisplayRole:
    case ClocksTableModel::SortRole:
        return v.acknowledged;
    case ClocksTableModel::OnItsWayRole:
        return v.onItsWay;
    case ClocksTableModel::GivenUpRole:
        return v.givenUp;
    case Qt::ToolTipRole: {
        QStringList lines;
        if (v.acknowledgedAt.isValid())
            lines << QStringLiteral("Acknowledged %1").arg(v.acknowledgedAt.toString(TimeFormat));
        if (!v.onItsWay.isEmpty())
            lines << QStringLiteral("On its way: %1").arg(v.onItsWay);
        if (!v.givenUp.isEmpty())
            lines << QStringLiteral("Given up: %1").arg(v.givenUp);
        return lines.isEmpty() ? QVariant() : QVariant(lines.join(QLatin1Char('\n')));
    }
    default:
        return QVariant();
    }
}

}  // namespace

ClocksTableModel::ClocksTableModel(const ClockStates& states, QObject* parent)
    : QAbstractTableModel(parent)
    , states(states)
{}

void ClocksTableModel::rowsChanged(const std::vector<int>& rows)
{
    if (rows.empty())
        return;
    // One signal for the span: cheaper for the view than one per row.
    emit dataChanged(index(rows.front(), 0), index(rows.back(), ColumnCount - 1));
}

void ClocksTableModel::listsChanged()
{
    beginResetModel();
    endResetModel();
}

int ClocksTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(states.clocks().size());
}

int ClocksTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ClocksTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const ClockState& clock = states.clocks()[size_t(index.row())];
    const int column = index.column();
    if (column >= FirstVariable)
        return variableData(clock.variables[size_t(column - FirstVariable)], role);
    const bool sorting = role == SortRole;
    if (role != Qt::DisplayRole && !sorting) {
        if (role == Qt::ForegroundRole && column == State && clock.health == ClockState::Health::NotAnswering)
            return QBrush(Qt::red);
        if (role == Qt::ToolTipRole && column == LastAnswered && clock.lastAnswered.isValid())
            return clock.lastAnswered.toString(TimeFormat);
        return QVariant();
    }
    switch (column) {
    case Address:
        return sorting ? QVariant(clock.key) : QVariant(clock.address);
    case Lists:
        return listsText(clock);
    case State:
        return sorting ? QVariant(healthOrder(clock.health)) : QVariant(healthText(clock.health));
    case LastAnswered:
        if (sorting)
            return clock.lastAnswered.isValid() ? clock.lastAnswered.toMSecsSinceEpoch() : qint64(-1);
        return clock.lastAnswered.isValid() ? clock.lastAnswered.toString(QStringLiteral("hh:mm:ss")) : QString();
    case AnswerTime:
        if (sorting)
            return clock.answerMs;
        // Tenths where they matter: clocks on a LAN answer in a few ms.
        return clock.answerMs < 0 ? QString()
                                  : QStringLiteral("%1 ms").arg(clock.answerMs, 0, 'f', clock.answerMs < 10 ? 1 : 0);
    case Retransmitted: {
        const double share = clock.retransmittedShare();
        if (sorting)
            return share;
        return share < 0 ? QString() : QStringLiteral("%1%").arg(share * 100, 0, 'f', 0);
    }
    default:
        return QVariant();
    }
}

QVariant ClocksTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const titles[FirstVariable] = {"Address",       "List",        "State",
                                                      "Last answered", "Answer time", "Retransmitted"};
    if (section >= 0 && section < FirstVariable)
        return QString(titles[section]);
    if (section < ColumnCount)
        return QStringLiteral("Variable %1").arg(section - FirstVariable + 1);
    return QVariant();
}
