#include <QtTest>

#include <QDir>
#include <QTemporaryDir>
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

const QDateTime testMoment(QDate(2026, 12, 5), QTime(13, 4, 5, 678));

// A window whose scheduler is held still, so only the test's own lines are logged.
std::unique_ptr<MainWindow> makeWindow()
{
    auto window = std::make_unique<MainWindow>();
    MainWindowProbe::updateTimer(*window)->stop();
    return window;
}

QString logName(const QDate& date)
{
    return "Corvelta_" + date.toString("MM-dd-yy") + ".log";
}

}  // namespace

class LogFileTest : public QObject
{
    Q_OBJECT

    // A window whose log file is open in the test's folder.
    std::unique_ptr<MainWindow> loggingWindow()
    {
        auto window = makeWindow();
        window->openLogFile(logDir.path() + "/");
        return window;
    }

private slots:
    void initTestCase()
    {
        static ClockPortLock lock;
        prepareSettingsFile();
    }

    void init()
    {
        QVERIFY(logDir.isValid());
        QDir(logDir.path()).removeRecursively();
        QDir().mkpath(logDir.path());
    }

    void lineFormatAndEscaping_data()
    {
        addColumns<QString, QString>({"message", "written"});

        dataRow("plain text", "Update Weather", "Update Weather");
        dataRow("tag escaped", "<b>", "&lt;b&gt;");
        dataRow("ampersand unchanged", "salt & pepper", "salt & pepper");
        dataRow("entity already escaped is left", "&lt;", "&lt;");
        dataRow("reversed brackets", "x>y<z", "x&gt;y&lt;z");
        dataRow("quotes and percent unchanged", "\"q\" 'a' 100%", "\"q\" 'a' 100%");
        dataRow("empty message", "", "");
    }
    void lineFormatAndEscaping()
    {
        QFETCH(QString, message);
        QFETCH(QString, written);

        FixedClock clock(testMoment);
        auto window = loggingWindow();

        DebugCapture capture;
        window->logLine(message);

        const QString expected = "12/05/26 13:04:05.678: " + written;
        QCOMPARE(fileLines(logDir.filePath(logName(testMoment.date()))), QStringList{expected});
        QCOMPARE(capture.debugLines(), QStringList{expected});
    }

    void newlineBreaksFileLineButNotDebugLine()
    {
        FixedClock clock(testMoment);
        auto window = loggingWindow();

        DebugCapture capture;
        window->logLine("first\nsecond");

        QCOMPARE(fileLines(logDir.filePath(logName(testMoment.date()))),
                 (QStringList{"12/05/26 13:04:05.678: first", "second"}));
        QCOMPARE(capture.debugLines(), QStringList{"12/05/26 13:04:05.678: firstsecond"});
    }

    void startupInWorkingDirectoryAndSecondStartAppends()
    {
        FixedClock clock(testMoment);
        const QString path = QDir::current().filePath(logName(testMoment.date()));
        QCOMPARE(QFileInfo(path).fileName(), QString("Corvelta_12-05-26.log"));
        QFile::remove(path);

        for (int start = 0; start < 2; ++start) {
            DebugCapture capture;
            auto window = makeWindow();
            QVERIFY(capture.debugLines().contains("Opening logfile: " + path));
            QCOMPARE(MainWindowProbe::logDir(*window), QDir::currentPath() + "/");
            window->close();
        }

        const QString stamp = "12/05/26 13:04:05.678: ";
        QCOMPARE(fileLines(path), (QStringList{
                                      stamp + "****************Corvelta Startup*******",
                                      stamp + "*****Corvelta Shutdown******",
                                      stamp + "****************Corvelta Startup*******",
                                      stamp + "*****Corvelta Shutdown******",
                                  }));
    }

    void rollover_data()
    {
        addColumns<QDateTime, QDateTime>({"before", "after"});

        dataRow("midnight", QDateTime(QDate(2026, 12, 5), QTime(23, 59, 59, 999)),
                QDateTime(QDate(2026, 12, 6), QTime(0, 0, 0, 0)));
        dataRow("new year", QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 999)),
                QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0, 1)));
        // Same day of the month a month later: a new file all the same.
        dataRow("a month without lines", QDateTime(QDate(2026, 3, 5), QTime(12, 0)),
                QDateTime(QDate(2026, 4, 5), QTime(9, 0)));
        dataRow("a year without lines", QDateTime(QDate(2026, 3, 5), QTime(12, 0)),
                QDateTime(QDate(2027, 3, 5), QTime(12, 0)));
    }
    void rollover()
    {
        QFETCH(QDateTime, before);
        QFETCH(QDateTime, after);

        FixedClock clock(before);
        auto window = loggingWindow();
        window->logLine("old day");

        clock.current = after;
        window->logLine("new day\nsame call");

        const QString oldPath = logDir.filePath(logName(before.date()));
        const QString newPath = logDir.filePath(logName(after.date()));
        QCOMPARE(fileLines(oldPath), QStringList{before.toString("MM/dd/yy hh:mm:ss.zzz: ") + "old day"});
        QCOMPARE(fileLines(newPath), (QStringList{after.toString("MM/dd/yy hh:mm:ss.zzz: ") + "new day", "same call"}));
        QCOMPARE(MainWindowProbe::logFile(*window).fileName(), newPath);
        QCOMPARE(MainWindowProbe::logDay(*window), after.date().day());
        QVERIFY(MainWindowProbe::logOpen(*window));
    }

    void cleanupDeletesExactlyTheFortnightOfOldFiles_data()
    {
        QTest::addColumn<QDate>("today");
        dataRow("mid month", QDate(2026, 12, 20));
        dataRow("across the new year", QDate(2026, 1, 2));
        dataRow("across a leap day", QDate(2028, 3, 10));
    }
    void cleanupDeletesExactlyTheFortnightOfOldFiles()
    {
        QFETCH(QDate, today);

        QStringList expectedAfter;
        QStringList present;
        const auto touch = [&](const QString& name) {
            QFile file(logDir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("x\n");
            present << name;
        };
        for (int k = -2; k <= 40; ++k) {
            const QString stamp = today.addDays(-k).toString("MM-dd-yy");
            touch("Corvelta_" + stamp + ".log");
            touch("DovrantLog_" + stamp + ".log");
            touch("DovrantLog_" + stamp + ".txt");
            touch("dovrantlog_" + stamp + ".log");
            touch("OtherLog_" + stamp + ".log");
            if (k < 3 || k > 16)
                expectedAfter << "DovrantLog_" + stamp + ".log";
        }
        for (const QString& name : present)
            if (!name.startsWith("DovrantLog_") || !name.endsWith(".log"))
                expectedAfter << name;

        FixedClock clock(QDateTime(today, QTime(10, 0)));
        auto window = loggingWindow();

        QStringList after = QDir(logDir.path()).entryList(QDir::Files);
        after.sort();
        expectedAfter.sort();
        QCOMPARE(after, expectedAfter);
        QCOMPARE(after.size(), present.size() - 14);
    }

    void unopenableDirectoryOnlyReachesDebugOutput()
    {
        FixedClock clock(testMoment);
        auto window = makeWindow();

        DebugCapture capture;
        window->openLogFile(logDir.path() + "/missing-directory/");
        QVERIFY(!MainWindowProbe::logOpen(*window));
        QVERIFY(capture.debugLines().contains("Error opening log file, check path!!!"));

        window->logLine("still reported");
        QCOMPARE(capture.debugLines().last(), QString("12/05/26 13:04:05.678: still reported"));

        // The next rollover tries again, in the same directory.
        QDir().mkpath(logDir.path() + "/missing-directory");
        clock.current = testMoment.addDays(1);
        window->logLine("next day");
        QVERIFY(MainWindowProbe::logOpen(*window));
        QCOMPARE(fileLines(logDir.filePath("missing-directory/" + logName(clock.current.date()))),
                 QStringList{"12/06/26 13:04:05.678: next day"});
    }

    void lineAfterCloseReachesOnlyDebugOutput()
    {
        FixedClock clock(testMoment);
        auto window = loggingWindow();
        window->close();
        QVERIFY(MainWindowProbe::logOpen(*window));

        DebugCapture capture;
        window->logLine("too late");
        QCOMPARE(capture.debugLines(), QStringList{"12/05/26 13:04:05.678: too late"});
        QVERIFY(capture.otherLines().isEmpty());
        QVERIFY(!fileLines(logDir.filePath(logName(testMoment.date()))).join('\n').contains("too late"));
    }

    // Today is 12/05/26. Placed last: each row leaves "logdays" in the settings file.
    void logdaysKeepsThatManyDays_data()
    {
        addColumns<QString, QString, bool>({"logdays", "name", "deleted"});
        dataRow("0 keeps every log", "0", "Corvelta_12-05-25.log", false);
        dataRow("1 keeps yesterday's", "1", "Corvelta_12-04-26.log", false);
        dataRow("1 deletes the day before", "1", "Corvelta_12-03-26.log", true);
        dataRow("30 deletes the 31st, last year", "30", "Corvelta_11-04-26.log", true);
        dataRow("not a number from 0 to 3650: keeps every log", "3651", "Corvelta_12-05-16.log", false);
        dataRow("today's, not 1926's", "1", "Corvelta_12-05-26.log", false);
        dataRow("a future date", "1", "Corvelta_01-10-27.log", false);
        dataRow("no such date", "1", "Corvelta_13-40-26.log", false);
        dataRow("lower case", "1", "corvelta_12-01-26.log", false);
        dataRow("more after the name", "1", "Corvelta_12-01-26.log.bak", false);
    }
    void logdaysKeepsThatManyDays()
    {
        QFETCH(QString, logdays);
        QFETCH(QString, name);
        QFETCH(bool, deleted);
        prepareSettingsFile({{"logdays", logdays}});
        QVERIFY(QFile(logDir.filePath(name)).open(QIODevice::WriteOnly));

        FixedClock clock(testMoment);
        DebugCapture capture;
        auto window = loggingWindow();
        QCOMPARE(QFile::exists(logDir.filePath(name)), !deleted);
        if (deleted)
            QTRY_VERIFY(
                capture.debugLines().join('\n').contains(": Log files older than " + logdays + " days deleted: 1"));
    }

private:
    QTemporaryDir logDir;
};

CORVELTA_TEST_MAIN(LogFileTest)
#include "tst_logfile.moc"
