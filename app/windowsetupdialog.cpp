// The Setup button: edits copies of the schedule, API key and ticker options
// in a fresh dialog, and takes them over only when the user presses OK.
#include "app/mainwindow.h"

#include "app/settingskeys.h"
#include "ui/setupdialog.h"

void MainWindow::on_setupPushButton_clicked()
{
    SetupDialog dialog(this);
    for (const SettingsKey& key : settingsKeys()) {
        if (!key.dialogWidget.isEmpty())
            dialog.setValue(key.dialogWidget, key.save(*this));
    }

    // Cancel, Escape and the close button leave every member as it was. The
    // new values reach the scheduler at its next tick and the settings file
    // at once.
    if (dialog.exec() != QDialog::Accepted)
        return;

    for (const SettingsKey& key : settingsKeys()) {
        if (!key.dialogWidget.isEmpty())
            key.load(*this, dialog.value(key.dialogWidget));
    }
    saveSettingsIfChanged();
}
