// The settings file crv_settings.ini beside the executable: read once at
// start-up straight into the form and the members, written once at close.
#include "app/mainwindow.h"

#include <QSettings>

#include "app/deploymentconfig.h"
#include "weather/observationage.h"
#include "weather/useragent.h"
#include "ui_mainwindow.h"

namespace {

// A text value as it stands in the file. A hand-written line such as
// "clockweatheriplist=10.0.0.5, 10.0.0.6" (commas, no quotes) reads back as
// a list, which as a plain text would come out empty and be lost at the next
// save; it is kept as the text the edit field shows.
QString settingText(const QSettings& settings, const QString& key, const QString& fallback = QString())
{
    const QVariant value = settings.value(key, fallback);
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

// A deployment key left empty means the built-in service.
QString deploymentValue(const QSettings& settings, const char* key, const char* fallback)
{
    const QString value = settingText(settings, key, fallback).trimmed();
    return value.isEmpty() ? QString(fallback) : value;
}

}  // namespace

void MainWindow::loadSettings()
{
    QSettings settings(settingsFile, QSettings::IniFormat);

    ui->latitudeLineEdit->setText(settingText(settings, "latitudeEdit", "40.8106"));
    ui->longitudeLineEdit->setText(settingText(settings, "longitudeEdit", "-96.6274"));
    units = settings.value("units", true).toBool();
    ui->metricCheckBox->setChecked(!units);
    gridId = settingText(settings, "gridid");
    gridX = settingText(settings, "gridx");
    gridY = settingText(settings, "gridy");
    stationId = settingText(settings, "stationid");
    ui->weatherItemComboBox1->setCurrentIndex(settings.value("weathercombo1").toInt());
    ui->weatherItemComboBox2->setCurrentIndex(settings.value("weathercombo2").toInt());
    ui->weatherItemComboBox3->setCurrentIndex(settings.value("weathercombo3").toInt());
    ui->weatherItemComboBox4->setCurrentIndex(settings.value("weathercombo4").toInt());
    ui->weatherItemComboBox5->setCurrentIndex(settings.value("weathercombo5").toInt());
    ui->clockWeatherIPListEdit->setText(settingText(settings, "clockweatheriplist"));
    stockApiKey = settingText(settings, "stockapikey");
    ui->tickerLineEdit1->setText(settingText(settings, "stockedit1"));
    ui->tickerLineEdit2->setText(settingText(settings, "stockedit2"));
    ui->tickerLineEdit3->setText(settingText(settings, "stockedit3"));
    ui->tickerLineEdit4->setText(settingText(settings, "stockedit4"));
    ui->tickerLineEdit5->setText(settingText(settings, "stockedit5"));
    ui->clockStockIPListEdit->setText(settingText(settings, "clockstockiplist"));
    cbName = settings.value("cbname", false).toBool();
    cbTicker = settings.value("cbticker", true).toBool();
    cbPrice = settings.value("cbprice", true).toBool();
    cbChange = settings.value("cbchange", false).toBool();
    cbVolume = settings.value("cbvolume", false).toBool();
    weatherStart = settings.value("weatherstart", QTime(8, 0, 0, 0)).toTime();
    weatherStop = settings.value("weatherstop", QTime(17, 0, 0, 0)).toTime();
    stockStart = settings.value("stockstart", QTime(8, 0, 0, 0)).toTime();
    stockStop = settings.value("stockstop", QTime(16, 0, 0, 0)).toTime();
    weatherInterval = settings.value("weatherinterval", 10).toInt();
    stockInterval = settings.value("stockinterval", 10).toInt();
    weatherWeekend = settings.value("weatherweekend", false).toBool();
    stockWeekend = settings.value("stockweekend", false).toBool();

    // Where the two services are reached. Set by whoever deploys the program
    // and never written back, so a hand-made value survives every close.
    weatherBaseUrl = serviceEndpoint(deploymentValue(settings, "weatherhost", DefaultWeatherHost)).baseUrl;
    stockBaseUrl = serviceEndpoint(deploymentValue(settings, "stockhost", DefaultStockHost)).baseUrl;
    // Who to contact about this installation, named in the weather service's
    // User-Agent, and how old an observation may be before it is not sent.
    weatherUserAgent = UserAgent::weather(settingText(settings, "contact"));
    maxObservationAge = ObservationAge::maxMinutesFromSetting(settingText(settings, "maxobservationage"));
    // How long a request of either feed may take before it is given up.
    requestTimeout = requestTimeoutFromSetting(settingText(settings, "requesttimeout"));
}

void MainWindow::saveSettings()
{
    QSettings settings(settingsFile, QSettings::IniFormat);

    logLine(QString("Savings Settings, File=%1").arg(settingsFile));

    settings.setValue("latitudeEdit", ui->latitudeLineEdit->text());
    settings.setValue("longitudeEdit", ui->longitudeLineEdit->text());
    settings.setValue("units", units);
    settings.setValue("gridid", gridId);
    settings.setValue("gridx", gridX);
    settings.setValue("gridy", gridY);
    settings.setValue("stationid", stationId);
    settings.setValue("weathercombo1", ui->weatherItemComboBox1->currentIndex());
    settings.setValue("weathercombo2", ui->weatherItemComboBox2->currentIndex());
    settings.setValue("weathercombo3", ui->weatherItemComboBox3->currentIndex());
    settings.setValue("weathercombo4", ui->weatherItemComboBox4->currentIndex());
    settings.setValue("weathercombo5", ui->weatherItemComboBox5->currentIndex());
    settings.setValue("clockweatheriplist", ui->clockWeatherIPListEdit->text());
    settings.setValue("stockapikey", stockApiKey);
    settings.setValue("stockedit1", ui->tickerLineEdit1->text());
    settings.setValue("stockedit2", ui->tickerLineEdit2->text());
    settings.setValue("stockedit3", ui->tickerLineEdit3->text());
    settings.setValue("stockedit4", ui->tickerLineEdit4->text());
    settings.setValue("stockedit5", ui->tickerLineEdit5->text());
    settings.setValue("clockstockiplist", ui->clockStockIPListEdit->text());
    settings.setValue("cbname", cbName);
    settings.setValue("cbticker", cbTicker);
    settings.setValue("cbprice", cbPrice);
    settings.setValue("cbchange", cbChange);
    settings.setValue("cbvolume", cbVolume);
    settings.setValue("weatherstart", weatherStart);
    settings.setValue("weatherstop", weatherStop);
    settings.setValue("stockstart", stockStart);
    settings.setValue("stockstop", stockStop);
    settings.setValue("weatherinterval", weatherInterval);
    settings.setValue("stockinterval", stockInterval);
    settings.setValue("weatherweekend", weatherWeekend);
    settings.setValue("stockweekend", stockWeekend);

    // A directory that cannot be written must not lose the operator's
    // settings without a word: say so in the log.
    settings.sync();
    if (settings.status() != QSettings::NoError)
        logLine(QString("Error writing settings file: %1").arg(settingsFile));
}
