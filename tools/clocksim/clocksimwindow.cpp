#include "clocksim/clocksimwindow.h"

#include <QCheckBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "clocksim/simulatedclock.h"

namespace {

// The program's feeds use variables 0 to 4; others go to one extra column.
constexpr int ShownVariables = 5;
constexpr int FirstVariableColumn = 1;
constexpr int OtherColumn = FirstVariableColumn + ShownVariables;
constexpr int DatagramsColumn = OtherColumn + 1;
constexpr int AckColumn = DatagramsColumn + 1;
constexpr int WithheldColumn = AckColumn + 1;
constexpr int MalformedColumn = WithheldColumn + 1;
constexpr int ColumnCount = MalformedColumn + 1;

// How long a freshly changed variable stays highlighted.
constexpr int HighlightMs = 1500;

}  // namespace

ClockSimWindow::ClockSimWindow(const QList<SimulatedClock*>& clocks, QWidget* parent)
    : QMainWindow(parent)
    , clocks(clocks)
{
    setWindowTitle(tr("Corvelta Clock Simulator"));

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(tr("Drop acknowledgements:"), central));
    dropSpin = new QSpinBox(central);
    dropSpin->setRange(0, 100);
    dropSpin->setSuffix(QStringLiteral(" %"));
    controls->addWidget(dropSpin);
    controls->addSpacing(16);
    controls->addWidget(new QLabel(tr("Delay acknowledgements:"), central));
    delaySpin = new QSpinBox(central);
    delaySpin->setRange(0, 10000);
    delaySpin->setSingleStep(50);
    delaySpin->setSuffix(QStringLiteral(" ms"));
    controls->addWidget(delaySpin);
    controls->addSpacing(16);
    silentBox = new QCheckBox(tr("Silent"), central);
    controls->addWidget(silentBox);
    controls->addStretch();
    layout->addLayout(controls);

    if (!clocks.isEmpty()) {
        const AcknowledgementPolicy policy = clocks.first()->policy();
        dropSpin->setValue(qRound(policy.dropShare * 100));
        delaySpin->setValue(policy.delayMs);
        silentBox->setChecked(policy.silent);
    }
    connect(dropSpin, QOverload<int>::of(&QSpinBox::valueChanged), this, &ClockSimWindow::applyPolicy);
    connect(delaySpin, QOverload<int>::of(&QSpinBox::valueChanged), this, &ClockSimWindow::applyPolicy);
    connect(silentBox, &QCheckBox::toggled, this, &ClockSimWindow::applyPolicy);

    table = new QTableWidget(clocks.size(), ColumnCount, central);
    QStringList headers{tr("Clock")};
    for (int v = 0; v < ShownVariables; ++v)
        headers << tr("Var %1").arg(v);
    headers << tr("Other") << tr("Datagrams") << tr("Acks") << tr("Withheld") << tr("Malformed");
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The variables share the width; a text too long to fit shows in full
    // as the cell's tool tip.
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (int column = FirstVariableColumn; column <= OtherColumn; ++column)
        table->horizontalHeader()->setSectionResizeMode(column, QHeaderView::Stretch);
    for (int row = 0; row < clocks.size(); ++row) {
        for (int column = 0; column < ColumnCount; ++column)
            table->setItem(row, column, new QTableWidgetItem);
        table->item(row, 0)->setText(clocks.at(row)->address().toString());
        showCounters(row);
        SimulatedClock* clock = clocks.at(row);
        connect(clock, &SimulatedClock::variableReceived, this,
                [this, row](int variable, const QString& text, bool changed) {
                    showVariable(row, variable, text, changed);
                });
        connect(clock, &SimulatedClock::countersChanged, this, [this, row] { showCounters(row); });
        connect(clock, &SimulatedClock::report, this, &ClockSimWindow::appendReport);
    }
    layout->addWidget(table, 1);

    reportView = new QPlainTextEdit(central);
    reportView->setReadOnly(true);
    reportView->setMaximumBlockCount(5000);
    reportView->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(reportView, 2);

    setCentralWidget(central);
    resize(900, 420);
}

void ClockSimWindow::appendReport(const QString& line)
{
    reportView->appendPlainText(QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz ")) + line);
}

void ClockSimWindow::applyPolicy()
{
    AcknowledgementPolicy policy;
    policy.dropShare = dropSpin->value() / 100.0;
    policy.delayMs = delaySpin->value();
    policy.silent = silentBox->isChecked();
    for (SimulatedClock* clock : clocks)
        clock->setPolicy(policy);
    appendReport(tr("Acknowledgements: drop %1 %, delay %2 ms%3")
                     .arg(dropSpin->value())
                     .arg(delaySpin->value())
                     .arg(policy.silent ? tr(", silent") : QString()));
}

void ClockSimWindow::showVariable(int row, int variable, const QString& text, bool changed)
{
    QTableWidgetItem* item = nullptr;
    if (variable < ShownVariables) {
        item = table->item(row, FirstVariableColumn + variable);
        item->setText(text);
    } else {
        item = table->item(row, OtherColumn);
        QStringList others;
        const QMap<int, QString>& vars = clocks.at(row)->variables();
        for (auto it = vars.cbegin(); it != vars.cend(); ++it)
            if (it.key() >= ShownVariables)
                others << QStringLiteral("%1=%2").arg(it.key()).arg(it.value());
        item->setText(others.join(QStringLiteral("; ")));
    }
    item->setToolTip(text);
    if (!changed)
        return;
    item->setBackground(QColor(255, 236, 140));
    // The item may be gone if the table is cleared; look it up again later.
    QTimer::singleShot(HighlightMs, this, [this, row, column = item->column()] {
        if (QTableWidgetItem* later = table->item(row, column))
            later->setBackground(QBrush());
    });
}

void ClockSimWindow::showCounters(int row)
{
    const SimulatedClock::Counters& c = clocks.at(row)->counters();
    table->item(row, DatagramsColumn)->setText(QString::number(c.datagrams));
    table->item(row, AckColumn)->setText(QString::number(c.acknowledged));
    table->item(row, WithheldColumn)->setText(QString::number(c.withheld));
    table->item(row, MalformedColumn)->setText(QString::number(c.malformed));
}
