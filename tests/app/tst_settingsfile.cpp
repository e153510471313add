#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

#include "app/mainwindow.h"
#include "support/clockportlock.h"
#include "support/debugcapture.h"
#include "support/fixedclock.h"
#include "support/mainwindowprobe.h"
#include "support/settingsfiles.h"
#include "support/substitutewebserver.h"
#include "support/testmain.h"

QComboBox* weatherCombo(MainWindow& w, int i)
{
    return w.findChild<QComboBox*>(QString("weatherItemComboBox%1").arg(i));
}

// The value behind each written settings key, as the window holds it now.
QVariantMap windowValues(MainWindow& w)
{
    QVariantMap v;
    for (const SettingsKey& key : MainWindow::settingsKeys()) {
        if (key.written())
            v[key.name] = key.save(w);
    }
    return v;
}

// Puts the values into the window as loading them from the file would.
void applyWindowValues(MainWindow& w, const QVariantMap& v)
{
    for (const SettingsKey& key : MainWindow::settingsKeys()) {
        if (key.written())
            key.load(w, v[key.name]);
    }
}

namespace {

std::unique_ptr<MainWindow> makeWindow()
{
    auto window = std::make_unique<MainWindow>();
    MainWindowProbe::updateTimer(*window)->stop();
    return window;
}

// The defaults of a first start: these, and every other key empty of its type.
QVariantMap firstStartValues()
{
    QVariantMap v{{"latitudeEdit", "40.8106"},
                  {"longitudeEdit", "-96.6274"},
                  {"units", true},
                  {"cbticker", true},
                  {"cbprice", true},
                  {"weatherstart", QTime(8, 0)},
                  {"weatherstop", QTime(17, 0)},
                  {"stockstart", QTime(8, 0)},
                  {"stockstop", QTime(16, 0)},
                  {"weatherinterval", 10},
                  {"stockinterval", 10}};
    for (const SettingsKey& key : MainWindow::settingsKeys()) {
        if (key.written() && !v.contains(key.name))
            v[key.name] = key.type == SettingsKey::Type::Text   ? QVariant(QString())
                          : key.type == SettingsKey::Type::Bool ? QVariant(false)
                                                                : QVariant(0);
    }
    return v;
}

}  // namespace

class SettingsFileTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QDir::setCurrent(workDir); }

    void firstStartShowsEveryDefault()
    {
        prepareSettingsFile({}, false);
        const QString logPath =
            QDir::current().filePath("Corvelta_" + TimeSource::now().date().toString("MM-dd-yy") + ".log");
        QFile::remove(logPath);

        auto window = makeWindow();
        compareValues(windowValues(*window), firstStartValues());
        QVERIFY(!window->findChild<QCheckBox*>("metricCheckBox")->isChecked());
        for (int i = 1; i <= 5; ++i)
            QCOMPARE(weatherCombo(*window, i)->currentText(), QString("None"));
        QCOMPARE(window->findChild<QLabel*>("locationStatusLabel")->text(), QString("ID:  Grid: , Station: "));
        QCOMPARE(MainWindowProbe::weatherBaseUrl(*window), QString("https://api.weather.gov"));
        QCOMPARE(MainWindowProbe::stockBaseUrl(*window), QString("https://mboum-finance.p.rapidapi.com"));
        QCOMPARE(MainWindowProbe::stockHost(*window), QString("mboum-finance.p.rapidapi.com"));

        // Loading is silent and a missing file is no error: only the startup line.
        const QStringList lines = fileLines(logPath);
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.first().endsWith(": ****************Corvelta Startup*******"));
    }

    void closeAndRestartReproducesEveryKey_data()
    {
        QTest::addColumn<QVariantMap>("values");

        QVariantMap a;
        a["latitudeEdit"] = "123.4567";
        a["longitudeEdit"] = "-5.25";
        a["units"] = false;
        a["gridid"] = "OAX";
        a["gridx"] = "65";
        a["gridy"] = "27";
        a["stationid"] = "KLNK";
        for (int i = 1; i <= 5; ++i) {
            a[QString("weathercombo%1").arg(i)] = i;
            a[QString("stockedit%1").arg(i)] = QString("TK%1").arg(i);
        }
        a["clockweatheriplist"] = "10.0.0.5, 10.0.0.6";
        a["stockapikey"] = "  key with blanks, commas; and = signs  ";
        a["clockstockiplist"] = "192.168.1.20";
        a["cbname"] = true;
        a["cbticker"] = false;
        a["cbprice"] = false;
        a["cbchange"] = true;
        a["cbvolume"] = true;
        a["weatherstart"] = QTime(6, 30, 15, 250);
        a["weatherstop"] = QTime(23, 59, 59, 999);
        a["stockstart"] = QTime(9, 30);
        a["stockstop"] = QTime(16, 1);
        a["weatherinterval"] = 1;
        a["stockinterval"] = 120;
        a["weatherweekend"] = true;
        a["stockweekend"] = true;
        a["clockswindowpos"] = "-40,60";
        a["clockswindowsize"] = "900,400";
        dataRow("every key changed", a);

        QVariantMap b = firstStartValues();
        b["latitudeEdit"] = "1.00";
        b["longitudeEdit"] = "-179.9999";
        b["weathercombo3"] = 5;
        b["weatherstart"] = QTime(0, 0);
        b["stockstop"] = QTime();
        b["weatherinterval"] = 0;
        b["stockinterval"] = -3;
        b["stockweekend"] = true;
        dataRow("edges: shortest texts, midnight, null stop, zero and negative", b);
    }
    void closeAndRestartReproducesEveryKey()
    {
        QFETCH(QVariantMap, values);
        prepareSettingsFile();

        {
            auto window = makeWindow();
            applyWindowValues(*window, values);
            compareValues(windowValues(*window), values);
            window->close();
        }
        auto window = makeWindow();
        compareValues(windowValues(*window), values);
        QCOMPARE(window->findChild<QCheckBox*>("metricCheckBox")->isChecked(), !values["units"].toBool());
    }

    void fileHoldsEveryKeyInGeneralWithTimeValues()
    {
        prepareSettingsFile({}, false);
        makeWindow()->close();

        QFile file(settingsFilePath());
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.startsWith("[General]\n"));
        QCOMPARE(text.count("\n["), 0);  // no other section
        QVERIFY(text.contains("\nweatherstart=@Variant("));

        QSettings settings(settingsFilePath(), QSettings::IniFormat);
        QStringList keys = settings.allKeys();
        QStringList expected = settingsKeys();
        keys.sort();
        expected.sort();
        // The deployment keys are read, never written.
        QCOMPARE(keys, expected);
        for (const char* key : {"weatherstart", "weatherstop", "stockstart", "stockstop"})
            QCOMPARE(int(settings.value(key).type()), int(QVariant::Time));
        QVERIFY(text.contains("\nunits=true\n"));
        QVERIFY(text.contains("\nweatherinterval=10\n"));
        QCOMPARE(int(QFile::permissions(settingsFilePath()) & 0x7077), 0x6000);  // owner read and write only
    }

    // A file written by an earlier version comes back as it was.
    void recordedFileIsWrittenBackAsItWas()
    {
        const QString recorded = testDataPath("settings/crv_settings.ini");
        QFile::remove(settingsFilePath());
        QVERIFY(QFile::copy(recorded, settingsFilePath()));
        QVERIFY(QFile::setPermissions(settingsFilePath(), QFile::ReadOwner | QFile::WriteOwner));
        makeWindow()->saveSettings();
        QFile written(settingsFilePath()), original(recorded);
        QVERIFY(written.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
        const QByteArray before = original.readAll();
        // Keys added since the file was recorded are written too; the rest comes back to the letter.
        QByteArrayList after = written.readAll().split('\n');
        after.erase(std::remove_if(after.begin(), after.end(),
                                   [&](const QByteArray& line) {
                                       return line.contains('=') &&
                                              !before.contains('\n' + line.left(line.indexOf('=') + 1));
                                   }),
                    after.end());
        QCOMPARE(after.join('\n'), before);
    }

    // An item number of a newer version shows no item until one is chosen.
    void unknownWeatherItemShowsNone()
    {
        int newer = 0;
        for (const WeatherItems::Item& row : WeatherItems::table())
            newer = qMax(newer, row.number + 1);
        prepareSettingsFile({{"weathercombo4", newer}});
        auto window = makeWindow();
        QCOMPARE(weatherCombo(*window, 4)->currentIndex(), -1);
        weatherCombo(*window, 4)->setCurrentIndex(2);
        QCOMPARE(windowValues(*window)["weathercombo4"], QVariant(2));
    }

    void settingsLiveBesideTheExecutable()
    {
        prepareSettingsFile({{"stockapikey", "beside the executable"}});
        QTemporaryDir elsewhere;
        QVERIFY(elsewhere.isValid());
        {
            QSettings decoy(elsewhere.filePath("crv_settings.ini"), QSettings::IniFormat);
            decoy.setValue("stockapikey", "in the working directory");
        }
        QVERIFY(QDir::setCurrent(elsewhere.path()));

        auto window = makeWindow();
        QCOMPARE(windowValues(*window)["stockapikey"].toString(), QString("beside the executable"));
        QCOMPARE(MainWindowProbe::settingsFile(*window), settingsFilePath());
        window->findChild<QLineEdit*>("tickerLineEdit1")->setText("MOVED");
        window->close();

        QCOMPARE(QSettings(settingsFilePath(), QSettings::IniFormat).value("stockedit1").toString(), QString("MOVED"));
        QCOMPARE(QSettings(elsewhere.filePath("crv_settings.ini"), QSettings::IniFormat).allKeys(),
                 QStringList{"stockapikey"});
        // The log, unlike the settings, goes to the working directory.
        QCOMPARE(QDir(elsewhere.path()).entryList({"Corvelta_*.log"}).size(), 1);
    }

    void unknownKeysAndDeploymentKeysSurviveAClose()
    {
        QFile::remove(settingsFilePath());
        {
            QFile file(settingsFilePath());
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Text));
            file.write(
                "[General]\nfuturekey=keep me\nweatherhost=http://127.0.0.1:9\n"
                "stockhost=127.0.0.1:9\n\n[Other]\nx=1\n");
        }
        makeWindow()->saveSettings();

        QSettings settings(settingsFilePath(), QSettings::IniFormat);
        QCOMPARE(settings.value("futurekey").toString(), QString("keep me"));
        QCOMPARE(settings.value("Other/x").toString(), QString("1"));
        QCOMPARE(settings.value("weatherhost").toString(), QString("http://127.0.0.1:9"));
        QCOMPARE(settings.value("stockhost").toString(), QString("127.0.0.1:9"));
        QCOMPARE(settings.allKeys().size(), settingsKeys().size() + 4);
    }

    void deploymentKeys_data()
    {
        addColumns<QVariant, QVariant, QString, QString, QString>(
            {"weatherSetting", "stockSetting", "weatherBaseUrl", "stockBaseUrl", "stockHost"});

        dataRow("absent: the real services", QVariant(), QVariant(), "https://api.weather.gov",
                "https://mboum-finance.p.rapidapi.com", "mboum-finance.p.rapidapi.com");
        dataRow("host names", QVariant("weather.example.test"), QVariant("quotes.example.test"),
                "https://weather.example.test", "https://quotes.example.test", "quotes.example.test");
        dataRow("hosts with ports", QVariant("127.0.0.1:8443"), QVariant("127.0.0.1:9443"), "https://127.0.0.1:8443",
                "https://127.0.0.1:9443", "127.0.0.1:9443");
        dataRow("substitute services by URL", QVariant("http://127.0.0.1:8080"), QVariant("https://127.0.0.1:8443/"),
                "http://127.0.0.1:8080", "https://127.0.0.1:8443", "127.0.0.1:8443");
        dataRow("empty values: the real services", QVariant(""), QVariant("  "), "https://api.weather.gov",
                "https://mboum-finance.p.rapidapi.com", "mboum-finance.p.rapidapi.com");
    }
    void deploymentKeys()
    {
        QFETCH(QVariant, weatherSetting);
        QFETCH(QVariant, stockSetting);
        QFETCH(QString, weatherBaseUrl);
        QFETCH(QString, stockBaseUrl);
        QFETCH(QString, stockHost);

        QMap<QString, QVariant> values;
        if (weatherSetting.isValid())
            values["weatherhost"] = weatherSetting;
        if (stockSetting.isValid())
            values["stockhost"] = stockSetting;
        prepareSettingsFile(values, false);

        auto window = makeWindow();
        QCOMPARE(MainWindowProbe::weatherBaseUrl(*window), weatherBaseUrl);
        QCOMPARE(MainWindowProbe::stockBaseUrl(*window), stockBaseUrl);
        QCOMPARE(MainWindowProbe::stockHost(*window), stockHost);
    }

    void garbageValuesLoadAsConverted_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QVariant>("loaded");

        dataRow("non-numeric interval", "weatherinterval", "ten", QVariant(0));
        dataRow("interval with trailing text", "stockinterval", "12 min", QVariant(0));
        dataRow("interval of zero", "weatherinterval", "0", QVariant(0));
        dataRow("unreadable start time", "weatherstart", "8 o'clock", QVariant(QTime()));
        dataRow("unreadable stop time", "stockstop", "25:99", QVariant(QTime()));
        dataRow("time as plain text", "stockstart", "09:30:00", QVariant(QTime(9, 30)));
        // An item number this version does not know is written back as it was.
        dataRow("combo index 9", "weathercombo1", "9", QVariant(9));
        dataRow("negative combo index", "weathercombo2", "-4", QVariant(-4));
        dataRow("non-numeric combo index", "weathercombo3", "Wind", QVariant(0));
        dataRow("units word", "units", "false", QVariant(false));
        dataRow("units zero", "units", "0", QVariant(false));
        dataRow("weekend anything else", "weatherweekend", "sometimes", QVariant(true));
        dataRow("latitude beyond the mask", "latitudeEdit", "40.81065555", QVariant("40.8106"));
    }
    void garbageValuesLoadAsConverted()
    {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(QVariant, loaded);

        prepareSettingsFile({{key, stored}});
        auto window = makeWindow();
        QVariantMap expected = firstStartValues();
        expected[key] = loaded;
        compareValues(windowValues(*window), expected);
        window->close();  // and written back without trouble
        QVERIFY(QFile::exists(settingsFilePath()));
    }

    void unwritableSettingsAreReported_data()
    {
        QTest::addColumn<bool>("writable");
        dataRow("writable", true);
        dataRow("directory cannot be made", false);
    }
    void unwritableSettingsAreReported()
    {
        QFETCH(bool, writable);
        prepareSettingsFile();
        QTemporaryDir place;
        QVERIFY(place.isValid());
        QString path = place.filePath("crv_settings.ini");
        if (!writable) {
            // A plain file where the directory should be: no one, not even
            // root, can write below it.
            QFile blocker(place.filePath("notadirectory"));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            path = place.filePath("notadirectory/crv_settings.ini");
        }

        auto window = makeWindow();
        MainWindowProbe::settingsFile(*window) = path;
        QStringList logged;
        connect(window.get(), &MainWindow::OnSendToLogfile, this, [&](const QString& line) { logged << line; });
        window->saveSettings();

        QStringList expected{"Savings Settings, File=" + path};
        if (!writable)
            expected << "Error writing settings file: " + path;
        QCOMPARE(logged, expected);
        QCOMPARE(QFile::exists(path), writable);
    }

    void aBurstOfEditsIsWrittenOnceOwnerOnlyOverAnOlderFileReadableByAll()
    {
        prepareSettingsFile();
        auto window = makeWindow();
        QVERIFY(QFile::setPermissions(settingsFilePath(), QFile::Permissions(0x6644)));
        QStringList logged;
        connect(window.get(), &MainWindow::OnSendToLogfile, this, [&](const QString& line) { logged << line; });
        for (const char* text : {"A", "AB", "ABC"})
            window->findChild<QLineEdit*>("tickerLineEdit1")->setText(text);
        QTRY_COMPARE_WITH_TIMEOUT(logged, QStringList{"Savings Settings, File=" + settingsFilePath()}, 30000);
        QCOMPARE(QSettings(settingsFilePath(), QSettings::IniFormat).value("stockedit1").toString(), QString("ABC"));
        QCOMPARE(int(QFile::permissions(settingsFilePath()) & 0x7077), 0x6000);  // owner read and write only
    }

private:
    const ClockPortLock portLock;  // held while the test object lives
    const QString workDir = QDir::currentPath();
};

CORVELTA_TEST_MAIN(SettingsFileTest)
#include "tst_settingsfile.moc"
