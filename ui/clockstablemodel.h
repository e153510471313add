#pragma once

#include <QAbstractTableModel>
#include <vector>

class ClockStates;

// The Clocks window's table: one row per clock of the address lists, over
// the window's ClockStates (which outlives it).
class ClocksTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        Address,
        Lists,
        State,
        LastAnswered,
        AnswerTime,
        Retransmitted,
        FirstVariable,
        ColumnCount = FirstVariable + 5
    };
    enum Role {
        SortRole = Qt::UserRole,  // what a column sorts by
        OnItsWayRole,             // a variable's text not acknowledged yet
        GivenUpRole,              // a variable's newest text, given up
    };

    explicit ClocksTableModel(const ClockStates& states, QObject* parent = nullptr);

    // After ClockStates::apply(): the rows it changed.
    void rowsChanged(const std::vector<int>& rows);
    // After ClockStates::setLists() changed the rows.
    void listsChanged();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const ClockStates& states;
};
