#include <QtTest>

#include <QTimer>
#include <memory>

#include "app/mainwindow.h"
#include "support/clockportlock.h"
#include "support/debugcapture.h"
#include "support/fixedclock.h"
#include "support/mainwindowprobe.h"
#include "support/settingsfiles.h"
#include "support/testmain.h"

namespace {

// 4 March 2026 is a Wednesday; 6 to 9 March run Friday to Monday.
const QDate wednesday(2026, 3, 4);
const QDate friday(2026, 3, 6);

// The scheduled updates seen while ticking, by the moment of the tick.
struct Updates
{
    QList<QDateTime> weather;
    QList<QDateTime> stock;
    QStringList order;  // "W" and "S" in the order they were logged
};

class Ticker
{
public:
    // A window with the default schedule, its real timer held still; the
    // test drives the ticks itself.
    Ticker()
        : clock(QDateTime(wednesday, QTime(0, 0)))
    {
        prepareSettingsFile();
        window = std::make_unique<MainWindow>();
        MainWindowProbe::updateTimer(*window)->stop();
        QObject::connect(window.get(), &MainWindow::OnSendToLogfile, [this](const QString& line) {
            const QString stamp = clock.current.toString("MM/dd/yy hh:mm:ss");
            if (line == "Update Weather: " + stamp) {
                updates.weather << clock.current;
                updates.order << "W";
            } else if (line == "Update Stock: " + stamp) {
                updates.stock << clock.current;
                updates.order << "S";
            } else {
                QVERIFY2(!line.startsWith("Update Weather: ") && !line.startsWith("Update Stock: "),
                         qPrintable("update logged with another time: " + line));
            }
        });
    }

    // `count` ticks, the first at `first`, one every `stepMs`.
    void run(const QDateTime& first, qint64 count, int stepMs = 1000)
    {
        for (qint64 i = 0; i < count; ++i) {
            clock.current = first.addMSecs(i * stepMs);
            MainWindowProbe::tick(*window);
        }
    }

    FixedClock clock;
    std::unique_ptr<MainWindow> window;
    Updates updates;
};

QDateTime at(const QDate& date, int h, int m, int s = 0, int ms = 0)
{
    return QDateTime(date, QTime(h, m, s, ms));
}

QList<QDateTime> onDate(const QList<QDateTime>& moments, const QDate& date)
{
    QList<QDateTime> result;
    for (const QDateTime& moment : moments)
        if (moment.date() == date)
            result << moment;
    return result;
}

}  // namespace

class SchedulerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        static ClockPortLock lock;
        // Whole days of log lines are echoed to the debug output; keep them
        // out of the test's output (warnings still pass).
        static DebugCapture quiet(DebugCapture::Options{false});
        QCOMPARE(wednesday.dayOfWeek(), 3);
        QCOMPARE(friday.dayOfWeek(), 5);
        QCOMPARE(friday.addDays(1).dayOfWeek(), 6);
        QCOMPARE(friday.addDays(2).dayOfWeek(), 7);
        QCOMPARE(friday.addDays(3).dayOfWeek(), 1);
    }

    void defaultsStartedAtNine()
    {
        Ticker t;
        // Started at 09:00:00, so the timer's first tick comes at 09:00:01.
        t.run(at(wednesday, 9, 0, 1), 1300);
        QCOMPARE(t.updates.weather,
                 (QList<QDateTime>{at(wednesday, 9, 0, 1), at(wednesday, 9, 10, 2), at(wednesday, 9, 20, 3)}));
        QCOMPARE(t.updates.stock,
                 (QList<QDateTime>{at(wednesday, 9, 0, 11), at(wednesday, 9, 10, 12), at(wednesday, 9, 20, 13)}));
    }

    void defaultsStartedBeforeTheWindow()
    {
        Ticker t;
        t.run(at(wednesday, 7, 59, 55), 5);
        QVERIFY(t.updates.order.isEmpty());
        QCOMPARE(MainWindowProbe::weatherCounter(*t.window), qint64(600));
        QCOMPARE(MainWindowProbe::stockCounter(*t.window), qint64(590));

        t.run(at(wednesday, 8, 0, 0), 20);
        QCOMPARE(t.updates.weather, QList<QDateTime>{at(wednesday, 8, 0, 0)});
        QCOMPARE(t.updates.stock, QList<QDateTime>{at(wednesday, 8, 0, 10)});
    }

    void wholeDaysCarryTheCountOver()
    {
        Ticker t;
        t.run(at(wednesday, 0, 0), 2 * 86400);

        const QList<QDateTime> weather = onDate(t.updates.weather, wednesday);
        const QList<QDateTime> stock = onDate(t.updates.stock, wednesday);
        QCOMPARE(weather.size(), 54);
        QCOMPARE(stock.size(), 48);
        QCOMPARE(weather.first(), at(wednesday, 8, 0, 0));
        QCOMPARE(weather.last(), at(wednesday, 16, 50, 53));
        QCOMPARE(stock.first(), at(wednesday, 8, 0, 10));
        QCOMPARE(stock.last(), at(wednesday, 15, 50, 57));
        for (int i = 1; i < weather.size(); ++i)
            QCOMPARE(weather[i - 1].secsTo(weather[i]), 601);
        for (int i = 0; i < stock.size(); ++i)
            QCOMPARE(weather[i].secsTo(stock[i]), 10);

        // The next morning's first updates come when the counts left over
        // from the day before (547 and 543) pass 600, not at 08:00.
        const QDate thursday = wednesday.addDays(1);
        QCOMPARE(onDate(t.updates.weather, thursday).first(), at(thursday, 8, 0, 53));
        QCOMPARE(onDate(t.updates.stock, thursday).first(), at(thursday, 8, 0, 57));
    }

    void weekendSkippedKeepsTheCount()
    {
        Ticker t;
        MainWindowProbe::weatherWeekend(*t.window) = true;
        t.run(at(friday, 0, 0), 86400);
        QCOMPARE(onDate(t.updates.weather, friday).size(), 54);
        const qint64 fridayCount = MainWindowProbe::weatherCounter(*t.window);
        QCOMPARE(fridayCount, qint64(547));

        const QDate saturday = friday.addDays(1), sunday = friday.addDays(2), monday = friday.addDays(3);
        t.run(at(saturday, 0, 0), 2 * 86400);
        QVERIFY(onDate(t.updates.weather, saturday).isEmpty());
        QVERIFY(onDate(t.updates.weather, sunday).isEmpty());
        QCOMPARE(MainWindowProbe::weatherCounter(*t.window), fridayCount);
        // Stocks do not skip weekends here.
        QCOMPARE(onDate(t.updates.stock, saturday).size(), 48);

        t.run(at(monday, 0, 0), 86400);
        QCOMPARE(onDate(t.updates.weather, monday).first(), at(monday, 8, 0, 53));
    }

    void stopTimeIsInclusiveToTheMillisecond_data()
    {
        QTest::addColumn<QTime>("tick");
        QTest::addColumn<bool>("counted");
        dataRow("16:00:00.000", QTime(16, 0, 0, 0), true);
        dataRow("16:00:00.400", QTime(16, 0, 0, 400), false);
        dataRow("08:00:00.000", QTime(8, 0, 0, 0), true);
        dataRow("07:59:59.600", QTime(7, 59, 59, 600), false);
    }
    void stopTimeIsInclusiveToTheMillisecond()
    {
        QFETCH(QTime, tick);
        QFETCH(bool, counted);
        Ticker t;
        MainWindowProbe::stockCounter(*t.window) = 600;  // due on the next counted tick
        t.run(QDateTime(wednesday, tick), 1);
        QCOMPARE(t.updates.stock.size(), counted ? 1 : 0);
        QCOMPARE(MainWindowProbe::stockCounter(*t.window), qint64(counted ? 0 : 600));
    }

    void intervalZeroOrLessFiresEveryTickWeatherFirst_data()
    {
        QTest::addColumn<int>("interval");
        dataRow("0", 0);
        dataRow("-5", -5);
    }
    void intervalZeroOrLessFiresEveryTickWeatherFirst()
    {
        QFETCH(int, interval);
        Ticker t;
        MainWindowProbe::weatherInterval(*t.window) = interval;
        MainWindowProbe::stockInterval(*t.window) = interval;
        t.run(at(wednesday, 7, 59, 58), 5);
        QCOMPARE(t.updates.order, (QStringList{"W", "S", "W", "S", "W", "S"}));
        QCOMPARE(t.updates.weather.first(), at(wednesday, 8, 0, 0));

        t.run(at(wednesday, 15, 59, 59), 3);  // stocks stop at 16:00, weather runs on
        QCOMPARE(t.updates.order.mid(6), (QStringList{"W", "S", "W", "S", "W"}));
    }

    void windowsThatNeverOpen_data()
    {
        QTest::addColumn<QTime>("start");
        QTest::addColumn<QTime>("stop");
        dataRow("start later than stop", QTime(18, 0), QTime(8, 0));
        dataRow("null stop", QTime(8, 0), QTime());
        dataRow("null start and stop", QTime(), QTime());
    }
    void windowsThatNeverOpen()
    {
        QFETCH(QTime, start);
        QFETCH(QTime, stop);
        Ticker t;
        MainWindowProbe::weatherStart(*t.window) = start;
        MainWindowProbe::weatherStop(*t.window) = stop;
        t.run(at(wednesday, 0, 0), 86400);
        QVERIFY(t.updates.weather.isEmpty());
        QCOMPARE(MainWindowProbe::weatherCounter(*t.window), qint64(600));
        QVERIFY(!t.updates.stock.isEmpty());
    }

    void nullStartHasNoLowerBound()
    {
        Ticker t;
        MainWindowProbe::weatherStart(*t.window) = QTime();
        t.run(at(wednesday, 0, 0), 3);
        QCOMPARE(t.updates.weather, QList<QDateTime>{at(wednesday, 0, 0)});
    }

    void buttonsDoNotDelayTheSchedule()
    {
        Ticker t;
        t.run(at(wednesday, 9, 0, 1), 300);
        const qint64 weatherBefore = MainWindowProbe::weatherCounter(*t.window);
        const qint64 stockBefore = MainWindowProbe::stockCounter(*t.window);
        QVERIFY(QMetaObject::invokeMethod(t.window.get(), "on_updateWeatherPushButton_clicked"));
        QVERIFY(QMetaObject::invokeMethod(t.window.get(), "on_updateStocksPushButton_clicked"));
        QCOMPARE(MainWindowProbe::weatherCounter(*t.window), weatherBefore);
        QCOMPARE(MainWindowProbe::stockCounter(*t.window), stockBefore);

        t.run(at(wednesday, 9, 5, 1), 900);
        QCOMPARE(t.updates.weather, (QList<QDateTime>{at(wednesday, 9, 0, 1), at(wednesday, 9, 10, 2)}));
        QCOMPARE(t.updates.stock, (QList<QDateTime>{at(wednesday, 9, 0, 11), at(wednesday, 9, 10, 12)}));
    }

    void loweringTheIntervalFiresAtTheNextTick()
    {
        Ticker t;
        t.run(at(wednesday, 9, 0, 1), 200);  // weather fired at 09:00:01, count now 199
        MainWindowProbe::weatherInterval(*t.window) = 2;
        t.run(at(wednesday, 9, 3, 21), 1);
        QCOMPARE(t.updates.weather.last(), at(wednesday, 9, 3, 21));
    }
};

CORVELTA_TEST_MAIN(SchedulerTest)
#include "tst_scheduler.moc"
