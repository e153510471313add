#pragma once

#include <QList>
#include <QMainWindow>

class QCheckBox;
class QPlainTextEdit;
class QSpinBox;
class QTableWidget;
class SimulatedClock;

// Shows every simulated clock's variables as they change, its counters, and
// a running report; the acknowledgement controls apply to all clocks at once.
class ClockSimWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit ClockSimWindow(const QList<SimulatedClock*>& clocks, QWidget* parent = nullptr);

    // Lines that concern no single clock (start-up, web interface).
    void appendReport(const QString& line);

private:
    void applyPolicy();
    void showVariable(int row, int variable, const QString& text, bool changed);
    void showCounters(int row);

    QList<SimulatedClock*> clocks;
    QTableWidget* table = nullptr;
    QPlainTextEdit* reportView = nullptr;
    QSpinBox* dropSpin = nullptr;
    QSpinBox* delaySpin = nullptr;
    QCheckBox* silentBox = nullptr;
};
