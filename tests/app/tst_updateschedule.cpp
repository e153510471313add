#include <QtTest>

#include "app/updateschedule.h"
#include "support/testmain.h"

// 4 March 2026 is a Wednesday, 7 March a Saturday, 8 March a Sunday.
static const QDate wednesday(2026, 3, 4);
static const QDate saturday(2026, 3, 7);
static const QDate sunday(2026, 3, 8);

class UpdateScheduleTest : public QObject
{
    Q_OBJECT

private slots:
    void calendar()
    {
        QCOMPARE(wednesday.dayOfWeek(), 3);
        QCOMPARE(saturday.dayOfWeek(), 6);
        QCOMPARE(sunday.dayOfWeek(), 7);
    }

    void insideWindow_data()
    {
        addColumns<QDateTime, QTime, QTime, bool, bool>({"now", "start", "stop", "skipWeekends", "inside"});

        const QTime eight(8, 0), sixteen(16, 0);
        const auto at = [](const QDate& d, int h, int m, int s = 0, int ms = 0) {
            return QDateTime(d, QTime(h, m, s, ms));
        };
        dataRow("at the start", at(wednesday, 8, 0), eight, sixteen, false, true);
        dataRow("a millisecond before the start", at(wednesday, 7, 59, 59, 999), eight, sixteen, false, false);
        dataRow("at the stop", at(wednesday, 16, 0), eight, sixteen, false, true);
        dataRow("400 ms after the stop", at(wednesday, 16, 0, 0, 400), eight, sixteen, false, false);
        dataRow("a millisecond after the stop", at(wednesday, 16, 0, 0, 1), eight, sixteen, false, false);
        dataRow("midday", at(wednesday, 12, 0), eight, sixteen, false, true);
        dataRow("midnight", at(wednesday, 0, 0), eight, sixteen, false, false);
        dataRow("start later than stop, evening", at(wednesday, 20, 0), QTime(18, 0), eight, false, false);
        dataRow("start later than stop, morning", at(wednesday, 7, 0), QTime(18, 0), eight, false, false);
        dataRow("start equal to stop, that very moment", at(wednesday, 9, 0), QTime(9, 0), QTime(9, 0), false, true);
        dataRow("null start, just after midnight", at(wednesday, 0, 0, 0, 1), QTime(), sixteen, false, true);
        dataRow("null start, midnight", at(wednesday, 0, 0), QTime(), sixteen, false, true);
        dataRow("null start, after the stop", at(wednesday, 16, 0, 1), QTime(), sixteen, false, false);
        dataRow("null stop, midnight", at(wednesday, 0, 0), eight, QTime(), false, false);
        dataRow("null stop, midday", at(wednesday, 12, 0), eight, QTime(), false, false);
        dataRow("null start and stop", at(wednesday, 12, 0), QTime(), QTime(), false, false);
        dataRow("saturday, weekends kept", at(saturday, 12, 0), eight, sixteen, false, true);
        dataRow("saturday, weekends skipped", at(saturday, 12, 0), eight, sixteen, true, false);
        dataRow("sunday, weekends skipped", at(sunday, 12, 0), eight, sixteen, true, false);
        dataRow("wednesday, weekends skipped", at(wednesday, 12, 0), eight, sixteen, true, true);
        dataRow("sunday outside the window", at(sunday, 20, 0), eight, sixteen, false, false);
    }
    void insideWindow()
    {
        QFETCH(QDateTime, now);
        QFETCH(QTime, start);
        QFETCH(QTime, stop);
        QFETCH(bool, skipWeekends);
        QFETCH(bool, inside);
        QCOMPARE(UpdateSchedule::insideWindow(now, start, stop, skipWeekends), inside);
    }

    void countTick_data()
    {
        QTest::addColumn<qint64>("counter");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("due");

        dataRow("reaching interval x 60 is not yet due", qint64(599), 10, false);
        dataRow("exceeding it is", qint64(600), 10, true);
        dataRow("first tick after a start", qint64(0), 10, false);
        dataRow("interval 0 fires on every tick", qint64(0), 0, true);
        dataRow("negative interval fires on every tick", qint64(0), -5, true);
        dataRow("interval of one minute", qint64(60), 1, true);
        // 40 million minutes x 60 does not fit in 32 bits.
        dataRow("huge interval never wraps round", qint64(5), 40000000, false);
        // The counter a huge interval starts at (interval x 60)
        // fires on the first tick, as for any interval.
        dataRow("counter started at a huge interval x 60", qint64(2147483647) * 60, 2147483647, true);
        dataRow("just below it", qint64(2147483647) * 60 - 1, 2147483647, false);
    }
    void countTick()
    {
        QFETCH(qint64, counter);
        QFETCH(int, interval);
        QFETCH(bool, due);
        const qint64 before = counter;
        QCOMPARE(UpdateSchedule::countTick(counter, interval), due);
        QCOMPARE(counter, before + 1);
    }
};

CORVELTA_TEST_MAIN(UpdateScheduleTest)
#include "tst_updateschedule.moc"
