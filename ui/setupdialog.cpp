#include "ui/setupdialog.h"

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
