//
// Bad input that is not a service reply: a settings file written by hand or
// damaged, and clock address lists that hold things other than addresses.
// The window starts and keeps working, and nothing the operator wrote is lost.
#include <QtTest>

#include <QComboBox>
#include <QLineEdit>
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
#include "support/testmain.h"
#include "weather/weatheritems.h"

namespace {

// Writes the settings file byte for byte, as a person or a damaged disk would.
void writeRawSettings(const QByteArray& lines)
{
    QFile file(settingsFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    // The services stay on a closed local port whatever else the file says.
    file.write("[General]\nweatherhost=http://127.0.0.1:9\nstockhost=http://127.0.0.1:9\n" + lines);
}

std::unique_ptr<MainWindow> makeWindow()
{
    auto window = std::make_unique<MainWindow>();
    MainWindowProbe::updateTimer(*window)->stop();
    return window;
}

QByteArray readSettingsFile()
{
    QFile file(settingsFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class BadInputTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { static ClockPortLock lock; }
    void cleanupTestCase() { QFile::remove(settingsFilePath()); }

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

        writeRawSettings(line + "\n");
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
        writeRawSettings(lines);

        {
            auto window = makeWindow();
            // The form holds what it can hold: combo indexes in range or none.
            for (int i = 1; i <= 5; ++i) {
                const int index =
                    window->findChild<QComboBox*>(QString("weatherItemComboBox%1").arg(i))->currentIndex();
                QVERIFY2(index >= -1 && index < WeatherItems::names().size(), qPrintable(QString::number(index)));
            }
            window->saveSettings();
        }
        const QByteArray firstSave = readSettingsFile();
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
        QCOMPARE(readSettingsFile(), firstSave);
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
};

CORVELTA_TEST_MAIN(BadInputTest)
#include "tst_badinput.moc"
