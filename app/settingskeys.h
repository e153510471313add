#pragma once

#include <QString>
#include <QVariant>
#include <QVector>
#include <functional>

class MainWindow;

// One key of the settings file crv_settings.ini: its name, its type, its
// default and what it is read into and written from. The window's table of
// them (MainWindow::settingsKeys()) is the one list of keys; loading, saving
// and the tests are built from it.
struct SettingsKey
{
    enum class Type {
        Text,  // a hand-written comma list reads as its text
        Bool,
        Int,
        Time,  // stored as @Variant(...) time values
    };

    QString name;
    Type type;
    // The value of an absent key; an invalid one gives the type's empty value.
    QVariant defaultValue;
    // Puts the value read (already of `type`) into the window.
    std::function<void(MainWindow&, const QVariant&)> load;
    // The value written back at close, of `type`. Not set for a deployment
    // key: one read at start-up and never written, so a hand-made value
    // survives every close.
    std::function<QVariant(const MainWindow&)> save;
    // The Setup dialog's widget that edits the key (its object name in
    // setupdialog.ui); empty for a key the dialog does not show.
    QString dialogWidget = QString();

    bool written() const { return bool(save); }
};
