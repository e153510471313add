#include "ui/setupdialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimeEdit>

#include "ui_setupdialog.h"

SetupDialog::SetupDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::SetupDialog)
{
    ui->setupUi(this);
}

SetupDialog::~SetupDialog()
{
    delete ui;
}

// Each kind of widget the form uses, by the value it edits; a partly checked
// box counts as checked.
void SetupDialog::setValue(const QString& widget, const QVariant& value)
{
    QWidget* field = findChild<QWidget*>(widget);
    if (auto* box = qobject_cast<QCheckBox*>(field))
        box->setChecked(value.toBool());
    else if (auto* edit = qobject_cast<QLineEdit*>(field))
        edit->setText(value.toString());
    else if (auto* time = qobject_cast<QTimeEdit*>(field))
        time->setTime(value.toTime());
    else if (auto* spin = qobject_cast<QSpinBox*>(field))
        spin->setValue(value.toInt());
    else
        qWarning("Setup dialog has no editable widget %s", qPrintable(widget));
}

QVariant SetupDialog::value(const QString& widget) const
{
    QWidget* field = findChild<QWidget*>(widget);
    if (auto* box = qobject_cast<QCheckBox*>(field))
        return box->checkState() != Qt::Unchecked;
    if (auto* edit = qobject_cast<QLineEdit*>(field))
        return edit->text();
    if (auto* time = qobject_cast<QTimeEdit*>(field))
        return time->time();
    if (auto* spin = qobject_cast<QSpinBox*>(field))
        return spin->value();
    return QVariant();
}
