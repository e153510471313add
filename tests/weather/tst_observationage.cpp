// How old an observation is and when it is too old to send, without a
// window or network.
#include <QtTest>

#include <ctime>

#include "support/testmain.h"
#include "weather/observationage.h"

class ObservationAgeTest : public QObject
{
    Q_OBJECT

private slots:
    // Times are read in a zone with daylight saving, not the machine's.
    void initTestCase()
    {
        qputenv("TZ", "America/New_York");
        tzset();
    }

    void observationAge_data()
    {
        QTest::addColumn<QString>("timestamp");
        QTest::addColumn<qint64>("age");  // seconds; -1 unreadable
        QTest::addColumn<bool>("stale");
        dataRow("six minutes", "2024-06-12T18:54:00+00:00", qint64(360), false);
        dataRow("exactly 120 minutes", "2024-06-12T17:00:00+00:00", qint64(7200), false);
        dataRow("120 minutes and a second", "2024-06-12T16:59:59+00:00", qint64(7201), true);
        dataRow("five hours, other offset", "2024-06-12T09:00:00-05:00", qint64(5 * 3600), true);
        dataRow("in the future", "2024-06-12T20:00:00+00:00", qint64(-3600), false);
        dataRow("no offset is UTC", "2024-06-12T18:54:00", qint64(360), false);
        dataRow("no offset, in the local clocks' gap hour", "2024-03-10T02:30:00",
                qint64(94 * 86400 + 16 * 3600 + 1800), true);
        dataRow("unreadable", "yesterday", qint64(-1), false);
        dataRow("empty (null)", "", qint64(-1), false);
    }
    void observationAge()
    {
        QFETCH(QString, timestamp);
        QFETCH(qint64, age);
        QFETCH(bool, stale);
        const QDateTime now = QDateTime(QDate(2024, 6, 12), QTime(19, 0), Qt::UTC).toLocalTime();
        const std::optional<qint64> got = ObservationAge::ageSeconds(timestamp, now);
        if (age == -1)
            QVERIFY(!got);
        else
            QCOMPARE(got ? *got : qint64(-999999), age);
        QCOMPARE(ObservationAge::isStale(timestamp, now, 120), stale);
    }

    void observationAgeLimit()
    {
        QCOMPARE(ObservationAge::maxMinutesFromSetting(""), 120);
        QCOMPARE(ObservationAge::maxMinutesFromSetting("30"), 30);
        QCOMPARE(ObservationAge::maxMinutesFromSetting(" 600 "), 600);
        QCOMPARE(ObservationAge::maxMinutesFromSetting("0"), 120);
        QCOMPARE(ObservationAge::maxMinutesFromSetting("-5"), 120);
        QCOMPARE(ObservationAge::maxMinutesFromSetting("an hour"), 120);
        QCOMPARE(ObservationAge::maxMinutesFromSetting("2147483647"), 2147483647);
        const QDateTime now = QDateTime(QDate(2024, 6, 12), QTime(19, 0), Qt::UTC);
        QVERIFY(!ObservationAge::isStale("1924-06-12T19:00:00+00:00", now, 2147483647));
        QCOMPARE(ObservationAge::staleLogLine("KLNK", 5 * 3600 + 59),
                 QString("Weather Observation Stale: KLNK is 300 minutes old"));
    }
};

CORVELTA_TEST_GUILESS_MAIN(ObservationAgeTest)
#include "tst_observationage.moc"
