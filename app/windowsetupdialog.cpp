// The Setup button: edits copies of the schedule, API key and ticker options
// in a fresh dialog, and takes them over only when the user presses OK.
#include "app/mainwindow.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimeEdit>

#include "ui/setupdialog.h"
#include "ui_setupdialog.h"

void MainWindow::on_setupPushButton_clicked()
{
    SetupDialog dialog(this);
    Ui::SetupDialog* form = dialog.ui;

    form->cbShortName->setChecked(cbName);
    form->cbTickerSymbol->setChecked(cbTicker);
    form->cbPrice->setChecked(cbPrice);
    form->cbTodaysChange->setChecked(cbChange);
    form->cbTodaysVolume->setChecked(cbVolume);
    form->apiKeyLineEdit->setText(stockApiKey);
    form->weatherStartTimeEdit->setTime(weatherStart);
    form->weatherStopTimeEdit->setTime(weatherStop);
    form->weatherSpinBox->setValue(weatherInterval);
    form->weatherWeekendCheckBox->setChecked(weatherWeekend);
    form->stockStartTimeEdit->setTime(stockStart);
    form->stockStopTimeEdit->setTime(stockStop);
    form->stockSpinBox->setValue(stockInterval);
    form->stockWeekendCheckBox->setChecked(stockWeekend);

    // Cancel, Escape and the close button leave every member as it was. The
    // new values reach the scheduler at its next tick and the settings file
    // at once.
    if (dialog.exec() != QDialog::Accepted)
        return;

    cbName = form->cbShortName->checkState() != Qt::Unchecked;
    cbTicker = form->cbTickerSymbol->checkState() != Qt::Unchecked;
    cbPrice = form->cbPrice->checkState() != Qt::Unchecked;
    cbChange = form->cbTodaysChange->checkState() != Qt::Unchecked;
    cbVolume = form->cbTodaysVolume->checkState() != Qt::Unchecked;
    stockApiKey = form->apiKeyLineEdit->text();
    weatherStart = form->weatherStartTimeEdit->time();
    weatherStop = form->weatherStopTimeEdit->time();
    weatherInterval = form->weatherSpinBox->value();
    weatherWeekend = form->weatherWeekendCheckBox->checkState() != Qt::Unchecked;
    stockStart = form->stockStartTimeEdit->time();
    stockStop = form->stockStopTimeEdit->time();
    stockInterval = form->stockSpinBox->value();
    stockWeekend = form->stockWeekendCheckBox->checkState() != Qt::Unchecked;
    saveSettingsIfChanged();
}
