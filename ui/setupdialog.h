#pragma once

#include <QDialog>
#include <QVariant>

namespace Ui {
class SetupDialog;
}

// Edits the two update schedules, the quote service's API key and the parts
// of a ticker text. It holds nothing but its widgets: the main window fills
// them before showing it and reads them back when the user presses OK.
class SetupDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SetupDialog(QWidget* parent);
    ~SetupDialog() override;

    // The value the widget of that object name shows, and showing one: a
    // check box's state, a line edit's text, a time edit's time, a spin box's
    // value. An unknown name reads as an invalid value.
    void setValue(const QString& widget, const QVariant& value);
    QVariant value(const QString& widget) const;

    Ui::SetupDialog* ui;
};
