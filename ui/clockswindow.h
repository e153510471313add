#pragma once

#include <QStyledItemDelegate>
#include <QWidget>

class QAbstractItemModel;
class QSortFilterProxyModel;
class QTableView;

// Draws a clock variable: the text last acknowledged, then a text on its
// way in grey or a given-up text in red.
class ClockTextDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// "Corvelta Clocks": a window of its own (not modal) with the table of the
// clocks, sortable by any column, the clocks not answering first.
class ClocksWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ClocksWindow(QAbstractItemModel* clocks, QWidget* parent = nullptr);
    QTableView* table() const { return view; }

private:
    QSortFilterProxyModel* sorted = nullptr;
    QTableView* view = nullptr;
};
