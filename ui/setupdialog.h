#pragma once

#include <QDialog>

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

    Ui::SetupDialog* ui;
};
