#include "ui/clockswindow.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include "ui/clockstablemodel.h"

namespace {

// The text after the acknowledged one, and its colour.
std::pair<QString, QColor> trailingText(const QModelIndex& index)
{
    const QString givenUp = index.data(ClocksTableModel::GivenUpRole).toString();
    if (!givenUp.isEmpty())
        return {givenUp, QColor(Qt::red)};
    return {index.data(ClocksTableModel::OnItsWayRole).toString(), QColor(Qt::gray)};
}

}  // namespace

void ClockTextDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto [trailing, colour] = trailingText(index);
    if (trailing.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    const QString acknowledged = item.text;
    item.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget).adjusted(2, 0, -2, 0);
    painter->save();
    painter->setFont(item.font);
    if (!acknowledged.isEmpty()) {
        painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter, acknowledged);
        area.setLeft(area.left() + item.fontMetrics.horizontalAdvance(acknowledged + QLatin1Char(' ')));
    }
    painter->setPen(colour);
    painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                      item.fontMetrics.elidedText(trailing, Qt::ElideRight, area.width()));
    painter->restore();
}

QSize ClockTextDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QString trailing = trailingText(index).first;
    if (!trailing.isEmpty())
        size.rwidth() += option.fontMetrics.horizontalAdvance(QLatin1Char(' ') + trailing);
    return size;
}

ClocksWindow::ClocksWindow(QAbstractItemModel* clocks, QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("clocksWindow"));
    setWindowTitle(QStringLiteral("Corvelta Clocks"));

    sorted = new QSortFilterProxyModel(this);
    sorted->setSourceModel(clocks);
    sorted->setSortRole(ClocksTableModel::SortRole);
    sorted->setDynamicSortFilter(true);

    view = new QTableView(this);
    view->setObjectName(QStringLiteral("clocksTableView"));
    view->setModel(sorted);
    view->setSortingEnabled(true);
    view->sortByColumn(ClocksTableModel::State, Qt::AscendingOrder);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // Rows as tall as the font needs, at any resolution.
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 8);
    auto* delegate = new ClockTextDelegate(view);
    for (int column = ClocksTableModel::FirstVariable; column < ClocksTableModel::ColumnCount; ++column)
        view->setItemDelegateForColumn(column, delegate);
    // Columns as wide as their caption and a long value, at any font
    // size; the widths are the operator's after that.
    static const char* const samples[ClocksTableModel::ColumnCount] = {"255.255.255.255",
                                                                       "weather",
                                                                       "not yet sent to",
                                                                       "00:00:00",
                                                                       "9999 ms",
                                                                       "100%",
                                                                       "(AAPL) 187.25 +1.25",
                                                                       "(AAPL) 187.25 +1.25",
                                                                       "(AAPL) 187.25 +1.25",
                                                                       "(AAPL) 187.25 +1.25",
                                                                       "(AAPL) 187.25 +1.25"};
    int width = 0;
    for (int column = 0; column < ClocksTableModel::ColumnCount; ++column) {
        const int text = view->fontMetrics().horizontalAdvance(QString(samples[column])) + 16;
        view->setColumnWidth(column, qMax(view->horizontalHeader()->sectionSizeHint(column), text));
        width += view->columnWidth(column);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(view);
    resize(width + 32, view->fontMetrics().height() * 24);
}
