// The settings file crv_settings.ini beside the executable: read once at
// start-up straight into the form and the members; written when the Setup
// dialog is accepted, when Get Stations stores a grid and station, 5 s after
// the last other edit in the window, and at the stop, each time only when
// something changed.
#include "app/mainwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QTimer>

#include "app/deploymentconfig.h"
#include "app/filemodes.h"
#include "app/logretention.h"
#include "app/servicerequests.h"
#include "app/settingskeys.h"
#include "app/webserver.h"
#include "app/windowplacement.h"
#include "ui/clockswindow.h"
#include "ui_mainwindow.h"
#include "weather/observationage.h"
#include "weather/useragent.h"
#include "weather/weatheritems.h"

namespace {

// A text value as it stands in the file. A hand-written line such as
// "clockweatheriplist=10.0.0.5, 10.0.0.6" (commas, no quotes) reads back as
// a list, which as a plain text would come out empty and be lost at the next
// save; it is kept as the text the edit field shows.
QString settingText(const QSettings& settings, const QString& key, const QVariant& fallback)
{
    const QVariant value = settings.value(key, fallback);
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

QVariant readValue(const QSettings& settings, const SettingsKey& key)
{
    switch (key.type) {
    case SettingsKey::Type::Text:
        return settingText(settings, key.name, key.defaultValue);
    case SettingsKey::Type::Bool:
        return settings.value(key.name, key.defaultValue).toBool();
    case SettingsKey::Type::Int:
        return settings.value(key.name, key.defaultValue).toInt();
    case SettingsKey::Type::Time:
        return settings.value(key.name, key.defaultValue).toTime();
    }
    return QVariant();
}

// The values of every written key, as the window holds them now.
QVector<QVariant> writtenValues(const MainWindow& window)
{
    QVector<QVariant> values;
    for (const SettingsKey& key : MainWindow::settingsKeys()) {
        if (key.written())
            values << key.save(window);
    }
    return values;
}

// The file holds the quote service's key: owner read and write only,
// whatever the umask. Qt writes a new file and gives it the mode of the one
// it replaces, so the mode is set before writing (a missing file is made,
// empty, to carry it) and once more after.
void restrictToOwner(const QString& path)
{
    QFile file(path);
    if (file.exists() || file.open(QIODevice::WriteOnly))
        FileModes::apply(path, FileModes::Mode::OwnerOnly);
}

// An edit in the form waits this long for the next before the file is written.
constexpr int SettingsWriteDelayMs = 5000;

// A deployment key left empty means the built-in service.
QString hostOrDefault(const QVariant& value, const char* fallback)
{
    const QString host = value.toString().trimmed();
    return host.isEmpty() ? QString(fallback) : host;
}

}  // namespace

// The keys in the order they are read and written. Changing a key's name,
// type or default changes every settings file in the field: they stay as
// they are, and a new key is a new row.
const QVector<SettingsKey>& MainWindow::settingsKeys()
{
    using Type = SettingsKey::Type;
    // A text of the form: the line edit the key is read into and written from.
    auto textOf = [](QLineEdit* Ui::MainWindow::*edit) {
        return std::make_pair([edit](MainWindow& w, const QVariant& v) { (w.ui->*edit)->setText(v.toString()); },
                              [edit](const MainWindow& w) { return QVariant((w.ui->*edit)->text()); });
    };
    // A member of the window, of the key's type.
    auto member = [](auto MainWindow::*field) {
        using T = std::decay_t<decltype(std::declval<MainWindow>().*field)>;
        return std::make_pair([field](MainWindow& w, const QVariant& v) { w.*field = v.value<T>(); },
                              [field](const MainWindow& w) { return QVariant::fromValue(w.*field); });
    };
    auto row = [](const QString& name, Type type, const QVariant& fallback, auto loadAndSave) {
        return SettingsKey{name, type, fallback, loadAndSave.first, loadAndSave.second};
    };
    // A key the Setup dialog edits in the named widget.
    auto inDialog = [](SettingsKey key, const char* widget) {
        key.dialogWidget = QLatin1String(widget);
        return key;
    };
    auto deployment = [](const char* name, std::function<void(MainWindow&, const QVariant&)> load) {
        return SettingsKey{name, Type::Text, QVariant(), std::move(load), nullptr};
    };

    static const QVector<SettingsKey> keys = [&] {
        QVector<SettingsKey> k;
        k << row("latitudeEdit", Type::Text, "40.8106", textOf(&Ui::MainWindow::latitudeLineEdit))
          << row("longitudeEdit", Type::Text, "-96.6274", textOf(&Ui::MainWindow::longitudeLineEdit));
        // The check box shows the inverse; its toggled slot sets `units` to the same value again.
        k << SettingsKey{"units", Type::Bool, true,
                         [](MainWindow& w, const QVariant& v) {
                             w.units = v.toBool();
                             w.ui->metricCheckBox->setChecked(!w.units);
                         },
                         [](const MainWindow& w) { return QVariant(w.units); }};
        k << row("gridid", Type::Text, QVariant(), member(&MainWindow::gridId))
          << row("gridx", Type::Text, QVariant(), member(&MainWindow::gridX))
          << row("gridy", Type::Text, QVariant(), member(&MainWindow::gridY))
          << row("stationid", Type::Text, QVariant(), member(&MainWindow::stationId));
        // An item number outside the table (one of a newer version) shows no
        // item and is written back as it was read.
        for (int i = 0; i < 5; ++i)
            k << SettingsKey{QStringLiteral("weathercombo%1").arg(i + 1), Type::Int, QVariant(),
                             [i](MainWindow& w, const QVariant& v) {
                                 WeatherRow& row = w.weatherRows[size_t(i)];
                                 row.storedNumber = v.toInt();
                                 row.item->setCurrentIndex(WeatherItems::position(v.toInt()));
                             },
                             [i](const MainWindow& w) {
                                 const WeatherRow& row = w.weatherRows[size_t(i)];
                                 const int shown = WeatherItems::numberAt(row.item->currentIndex());
                                 return QVariant(WeatherItems::storedIndex(shown, row.storedNumber));
                             }};
        k << row("clockweatheriplist", Type::Text, QVariant(), textOf(&Ui::MainWindow::clockWeatherIPListEdit))
          << inDialog(row("stockapikey", Type::Text, QVariant(), member(&MainWindow::stockApiKey)), "apiKeyLineEdit");
        QLineEdit* Ui::MainWindow::*const tickers[5] = {
            &Ui::MainWindow::tickerLineEdit1, &Ui::MainWindow::tickerLineEdit2, &Ui::MainWindow::tickerLineEdit3,
            &Ui::MainWindow::tickerLineEdit4, &Ui::MainWindow::tickerLineEdit5};
        for (int i = 0; i < 5; ++i)
            k << row(QStringLiteral("stockedit%1").arg(i + 1), Type::Text, QVariant(), textOf(tickers[i]));
        k << row("clockstockiplist", Type::Text, QVariant(), textOf(&Ui::MainWindow::clockStockIPListEdit))
          << inDialog(row("cbname", Type::Bool, false, member(&MainWindow::cbName)), "cbShortName")
          << inDialog(row("cbticker", Type::Bool, true, member(&MainWindow::cbTicker)), "cbTickerSymbol")
          << inDialog(row("cbprice", Type::Bool, true, member(&MainWindow::cbPrice)), "cbPrice")
          << inDialog(row("cbchange", Type::Bool, false, member(&MainWindow::cbChange)), "cbTodaysChange")
          << inDialog(row("cbvolume", Type::Bool, false, member(&MainWindow::cbVolume)), "cbTodaysVolume")
          << inDialog(row("weatherstart", Type::Time, QTime(8, 0), member(&MainWindow::weatherStart)),
                      "weatherStartTimeEdit")
          << inDialog(row("weatherstop", Type::Time, QTime(17, 0), member(&MainWindow::weatherStop)),
                      "weatherStopTimeEdit")
          << inDialog(row("stockstart", Type::Time, QTime(8, 0), member(&MainWindow::stockStart)), "stockStartTimeEdit")
          << inDialog(row("stockstop", Type::Time, QTime(16, 0), member(&MainWindow::stockStop)), "stockStopTimeEdit")
          << inDialog(row("weatherinterval", Type::Int, 10, member(&MainWindow::weatherInterval)), "weatherSpinBox")
          << inDialog(row("stockinterval", Type::Int, 10, member(&MainWindow::stockInterval)), "stockSpinBox")
          << inDialog(row("weatherweekend", Type::Bool, false, member(&MainWindow::weatherWeekend)),
                      "weatherWeekendCheckBox")
          << inDialog(row("stockweekend", Type::Bool, false, member(&MainWindow::stockWeekend)),
                      "stockWeekendCheckBox");

        // Deployment keys: where the two services are reached, who to contact
        // about this installation (named in the weather service's
        // User-Agent) and how old an observation may be before it is not sent.
        k << deployment("weatherhost",
                        [](MainWindow& w, const QVariant& v) {
                            w.weatherBaseUrl = serviceEndpoint(hostOrDefault(v, DefaultWeatherHost)).baseUrl;
                        })
          << deployment("stockhost",
                        [](MainWindow& w, const QVariant& v) {
                            w.stockBaseUrl = serviceEndpoint(hostOrDefault(v, DefaultStockHost)).baseUrl;
                        })
          << deployment("contact",
                        [](MainWindow& w, const QVariant& v) { w.weatherUserAgent = UserAgent::weather(v.toString()); })
          << deployment("maxobservationage",
                        [](MainWindow& w, const QVariant& v) {
                            w.maxObservationAge = ObservationAge::maxMinutesFromSetting(v.toString());
                        })
          // How long a request of either feed may take before it is given up.
          << deployment("requesttimeout",
                        [](MainWindow& w, const QVariant& v) {
                            w.serviceRequests->setTimeLimit(requestTimeoutFromSetting(v.toString()));
                        })
          // How many days of day logs are kept before today.
          << deployment("logdays", [](MainWindow& w,
                                      const QVariant& v) { w.logDays = LogRetention::daysFromSetting(v.toString()); })
          // Where the web page, /status.json and /metrics are served (port 0: not at all).
          << deployment("webport", [](MainWindow& w, const QVariant& v) { w.webServer->setPort(v.toString()); })
          << deployment("webaddress", [](MainWindow& w, const QVariant& v) { w.webServer->setAddress(v.toString()); });
        // Where the Clocks window was and how large: kept as read until the
        // window is opened, then taken from it.
        k << SettingsKey{"clockswindowpos", Type::Text, QVariant(),
                         [](MainWindow& w, const QVariant& v) { w.clocksWindowPos = v.toString(); },
                         [](const MainWindow& w) {
                             return QVariant(w.clocksWindow ? WindowPlacement::positionText(w.clocksWindow->pos())
                                                            : w.clocksWindowPos);
                         }}
          << SettingsKey{"clockswindowsize", Type::Text, QVariant(),
                         [](MainWindow& w, const QVariant& v) { w.clocksWindowSize = v.toString(); },
                         [](const MainWindow& w) {
                             return QVariant(w.clocksWindow ? WindowPlacement::sizeText(w.clocksWindow->size())
                                                            : w.clocksWindowSize);
                         }};
        return k;
    }();
    return keys;
}

void MainWindow::loadSettings()
{
    // A file an older version left readable by every user is closed to them
    // now, not only at the next write.
    if (QFile::exists(settingsFile))
        restrictToOwner(settingsFile);
    QSettings settings(settingsFile, QSettings::IniFormat);
    for (const SettingsKey& key : settingsKeys())
        key.load(*this, readValue(settings, key));
}

void MainWindow::saveSettings()
{
    restrictToOwner(settingsFile);
    QSettings settings(settingsFile, QSettings::IniFormat);

    logLine(QString("Savings Settings, File=%1").arg(settingsFile));

    for (const SettingsKey& key : settingsKeys()) {
        if (key.written())
            settings.setValue(key.name, key.save(*this));
    }

    // A directory that cannot be written must not lose the operator's
    // settings without a word: say so in the log.
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        logLine(QString("Error writing settings file: %1").arg(settingsFile));
        return;
    }
    restrictToOwner(settingsFile);
    settingsOnFile = writtenValues(*this);
}

void MainWindow::saveSettingsIfChanged()
{
    if (writtenValues(*this) != settingsOnFile || !QFile::exists(settingsFile))
        saveSettings();
}

// Called once the settings are loaded: what the window holds now is what
// the file holds.
void MainWindow::watchSettingsEdits()
{
    settingsOnFile = writtenValues(*this);

    settingsWriteTimer = new QTimer(this);
    settingsWriteTimer->setSingleShot(true);
    settingsWriteTimer->setInterval(SettingsWriteDelayMs);
    // Not sooner: a coarse timer may come a twentieth of its interval early.
    settingsWriteTimer->setTimerType(Qt::PreciseTimer);
    connect(settingsWriteTimer, &QTimer::timeout, this, &MainWindow::saveSettingsIfChanged);
    // Every edit restarts the wait: one write for a burst of typing. An edit
    // of something that is not written finds nothing changed.
    const auto restart = [this] { settingsWriteTimer->start(); };
    for (QLineEdit* edit : ui->centralwidget->findChildren<QLineEdit*>())
        connect(edit, &QLineEdit::textChanged, this, restart);
    for (QComboBox* box : ui->centralwidget->findChildren<QComboBox*>())
        connect(box, qOverload<int>(&QComboBox::currentIndexChanged), this, restart);
    for (QCheckBox* box : ui->centralwidget->findChildren<QCheckBox*>())
        connect(box, &QCheckBox::toggled, this, restart);

    // Get Stations: the station chosen (the first of a new list, or the
    // operator's pick) and, once the station list has been handled, a new
    // grid are written at once. Both run after the window's own handlers.
    connect(ui->locationComboBox, &QComboBox::currentTextChanged, this, &MainWindow::saveSettingsIfChanged);
    connect(networkManager, &QNetworkAccessManager::finished, this, [this](QNetworkReply* reply) {
        if (reply->request().attribute(ServiceRequests::KindAttribute).toInt() == int(RequestKind::Stations))
            saveSettingsIfChanged();
    });
}
