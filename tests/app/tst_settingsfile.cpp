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
#include "clocklink/clockaddresslist.h"
#include "clocklink/udpcommthread.h"
#include "clocksim/simulatedclock.h"
#include "support/clockportlock.h"
#include "support/debugcapture.h"
#include "support/fixedclock.h"
#include "support/mainwindowprobe.h"
#include "support/settingsfiles.h"
#include "support/substitutewebserver.h"
#include "support/testmain.h"
#include "weather/weatheritems.h"

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

// An item number that no row has, nor will the next item: one past every
// number given out, retired ones too.
int unknownItemNumber()
{
    int number = 0;
    for (const WeatherItems::Item& row : WeatherItems::table())
        number = qMax(number, row.number + 1);
    for (const int retired : WeatherItems::retiredNumbers())
        number = qMax(number, retired + 1);
    return number;
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

        // Loading is silent and a missing file is no error: only the startup
        // line, and the page on its default address and port (served, or not
        // where something else on this machine holds that port).
        const QStringList lines = fileLines(logPath);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.first().endsWith(": ****************Corvelta Startup*******"));
        QVERIFY2(
            QRegularExpression(": Web page (at http://127\\.0\\.0\\.1:7380/|not served: 127\\.0\\.0\\.1:7380: .+)$")
                .match(lines.last())
                .hasMatch(),
            qPrintable(lines.last()));
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
        prepareSettingsFile({{"weathercombo4", unknownItemNumber()}});
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
        writeRawSettingsFile(
            "[General]\nfuturekey=keep me\nweatherhost=http://127.0.0.1:9\n"
            "stockhost=127.0.0.1:9\n\n[Other]\nx=1\n",
            false);
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
        const int unknown = unknownItemNumber();
        dataRow("unknown combo index", "weathercombo1", QString::number(unknown), QVariant(unknown));
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
        QElapsedTimer sinceLastEdit;
        sinceLastEdit.start();
        QTRY_COMPARE_WITH_TIMEOUT(logged, QStringList{"Savings Settings, File=" + settingsFilePath()}, 30000);
        QVERIFY2(sinceLastEdit.elapsed() >= 4990, "written sooner than 5 s after the last edit");
        QCOMPARE(QSettings(settingsFilePath(), QSettings::IniFormat).value("stockedit1").toString(), QString("ABC"));
        QCOMPARE(int(QFile::permissions(settingsFilePath()) & 0x7077), 0x6000);  // owner read and write only
    }

    // Bad input that is not a service reply: a settings file written by hand
    // or damaged, and clock address lists that hold things other than
    // addresses. The window starts and keeps working, and nothing the
    // operator wrote is lost.

    // Text keys written by hand with commas and no quotes read back as lists
    // in INI files; the text must come through, not an empty field.
    void handWrittenListsKeepTheirText_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("shown");

        dataRow("weather clocks", QByteArray("clockweatheriplist=10.0.0.5, 10.0.0.6"), "clockWeatherIPListEdit",
                "10.0.0.5, 10.0.0.6");
        dataRow("stock clocks without spaces", QByteArray("clockstockiplist=10.0.0.7,10.0.0.8,10.0.0.9"),
                "clockStockIPListEdit", "10.0.0.7, 10.0.0.8, 10.0.0.9");
        dataRow("quoted list stays as written", QByteArray("clockweatheriplist=\"10.0.0.5,10.0.0.6\""),
                "clockWeatherIPListEdit", "10.0.0.5,10.0.0.6");
        dataRow("ticker field with a comma", QByteArray("stockedit2=MSFT,IBM"), "tickerLineEdit2", "MSFT, IBM");
    }
    void handWrittenListsKeepTheirText()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, field);
        QFETCH(QString, shown);

        writeRawSettingsFile(line + "\n");
        {
            auto window = makeWindow();
            QCOMPARE(window->findChild<QLineEdit*>(field)->text(), shown);
            window->close();
        }
        // And it survives the save at close and the next start.
        auto again = makeWindow();
        QCOMPARE(again->findChild<QLineEdit*>(field)->text(), shown);
    }

    void garbageInEveryKey()
    {
        // Qt itself says so when it meets a stored value of an unknown type.
        TestMessages::expectWarning(QRegularExpression("^QVariant::load: unknown user type"));
        TestMessages::expectWarning(QRegularExpression("^Trying to construct an instance of an invalid type"));
        // Every kind of damage an INI value can carry, dealt out over the keys.
        const QList<QByteArray> garbage = {
            "\x01\x02\x7f\xff\xfe binary",
            "@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x10garbage)",  // unknown stored type
            "@Variant(\\0\\0\\0\\n\\xff\\xff\\xff\\xf0)",     // a string claiming 4 GB
            "@ByteArray(\\xff\\xfe)",
            "@Time(99:99)",
            "@DateTime(garbage)",
            "@Invalid()",
            "a, b, , c",
            "\"unterminated",
            "-99999999999999999999",
            "nan",
            QByteArray(100000, 'x'),
            "[not a section]",
            "=",
        };
        QByteArray lines;
        for (int i = 0; i < settingsKeys().size(); ++i)
            lines += settingsKeys()[i].toLatin1() + "=" + garbage[i % garbage.size()] + "\n";
        lines += "customkey=kept as it is\n";
        // The deployment keys "contact" and "maxobservationage" too: any garbage is a contact text
        // (control characters dropped) or the default observation age.
        lines += "contact=" + garbage[0] + "\n";
        lines += "maxobservationage=" + garbage[9] + "\n";
        writeRawSettingsFile(lines);

        {
            auto window = makeWindow();
            // The form holds what it can hold: combo indexes in range or none.
            for (int i = 1; i <= 5; ++i) {
                const int index = weatherCombo(*window, i)->currentIndex();
                QVERIFY2(index >= -1 && index < WeatherItems::names().size(), qPrintable(QString::number(index)));
            }
            window->saveSettings();
        }
        const QStringList firstSave = fileLines(settingsFilePath());
        QSettings saved(settingsFilePath(), QSettings::IniFormat);
        for (const QString& key : settingsKeys())
            QVERIFY2(saved.contains(key), qPrintable(key));
        QCOMPARE(saved.value("customkey").toString(), QString("kept as it is"));
        QVERIFY(saved.contains("contact"));
        QVERIFY(saved.contains("maxobservationage"));

        // What was written reads back as itself: a second start and close
        // leaves the file as it was.
        {
            auto window = makeWindow();
            window->close();
        }
        QCOMPARE(fileLines(settingsFilePath()), firstSave);
    }

    // Each entry of a clock address list goes out only if it is an address in
    // text form: no name is looked up, nothing leaves the machine, and every
    // record leaves the queue one way or the other while the real clock is
    // served.
    void clockAddressLists_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("toRealClock");  // datagrams expected at 127.0.0.2

        dataRow("words", "clock-in-hall, lobby", 0);
        dataRow("host name", "localhost", 0);
        dataRow("octet out of range", "127.0.0.256, 999.1.1.1", 0);
        dataRow("address with a port", "127.0.0.2:7372", 0);
        dataRow("IPv6 loopback", "::1", 0);
        dataRow("IPv6 in brackets", "[::1]", 0);
        dataRow("empty entries around a clock", ",, 127.0.0.2 ,,  ,", 1);
        dataRow("spaces inside an address", "127. 0. 0. 2", 1);
        dataRow("every kind with the clock twice", "lobby, ::1, 127.0.0.2, localhost, 127.0.0.2", 1);
        dataRow("a very long entry", QString(10000, '9') + ", 127.0.0.2", 1);
    }
    void clockAddressLists()
    {
        QFETCH(QString, list);
        QFETCH(int, toRealClock);

        prepareSettingsFile();
        SimulatedClock clock(QHostAddress("127.0.0.2"));
        QVERIFY(clock.bind());
        QVERIFY(clock.isBound());
        auto window = makeWindow();
        const RetransmitQueue::Counters before = commThread.GetUdpCounters();
        const QStringList addresses = ClockAddressList::split(list);
        for (const QString& address : addresses)
            window->SendClockVar(address, 1, "12 C");

        QTRY_COMPARE_WITH_TIMEOUT(commThread.GetUdpQueueSize(), 0, 20000);
        const RetransmitQueue::Counters after = commThread.GetUdpCounters();
        // Only IPv4 addresses are queued; the others reach no
        // clock and are logged once. The clock's second entry carries the
        // same variable, so it replaces the first before that goes out.
        int usable = 0;
        for (const QString& address : addresses)
            usable += isClockAddressText(address) ? 1 : 0;
        QCOMPARE(after.queued - before.queued, qint64(usable));
        QCOMPARE(after.acknowledged - before.acknowledged, qint64(toRealClock));
        QCOMPARE(after.superseded - before.superseded, qint64(usable - toRealClock));
        QCOMPARE(after.givenUp - before.givenUp, qint64(0));
        QCOMPARE(clock.arrivals.size(), toRealClock);
        for (const auto& arrival : clock.arrivals)
            QCOMPARE(arrival.data, QByteArray("\xBE\x01"
                                              "12 C\x00",
                                              7));

        // The window keeps working: the next text reaches the clock.
        window->SendClockVar("127.0.0.2", 2, "N-11 kmh");
        QTRY_COMPARE_WITH_TIMEOUT(clock.arrivals.size(), toRealClock + 1, 10000);
    }

private:
    const ClockPortLock portLock;  // held while the test object lives
    const QString workDir = QDir::currentPath();
};

CORVELTA_TEST_MAIN(SettingsFileTest)
#include "tst_settingsfile.moc"
