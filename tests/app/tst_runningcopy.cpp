// The real program run from a directory of its own, stopped by signals and
// started twice, under a stand-in for systemd and under two umasks.
#include <QtTest>

#include <algorithm>
#include <csignal>

#include "support/clockportlock.h"
#include "support/guardstandin.h"
#include "support/notifysocket.h"
#include "support/settingsfiles.h"
#include "support/testmain.h"

class RunningCopyTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString settings() const { return dir.filePath("crv_settings.ini"); }
    QString log() const
    {
        return fileLines(dir.filePath(QDate::currentDate().toString("'Corvelta_'MM-dd-yy'.log'"))).join('\n');
    }

    // Starts a copy behind `prefix` (such as unshare); one that `runs` has read
    // its settings (the log retention line follows the settings load).
    bool start(QProcess& copy, QStringList prefix = {}, bool runs = true)
    {
        const int startups = log().count("Log files older than");
        copy.setWorkingDirectory(dir.path());
        copy.start((prefix << dir.filePath("corvelta") << "-platform"
                           << "offscreen")
                       .takeFirst(),
                   prefix);
        return copy.waitForStarted(30000) &&
               (!runs || QTest::qWaitFor([&] { return log().count("Log files older than") > startups; }, 30000));
    }
    static void deliver(QProcess& copy, int signalNumber)
    {
        if (copy.processId() > 0)  // 0 would signal this test's own process group
            ::kill(pid_t(copy.processId()), signalNumber);
    }
    // Stops a copy as systemd does; true when it ended on its own (no signal).
    bool stop(QProcess& copy)
    {
        deliver(copy, SIGTERM);
        return QTest::qWaitFor([&] { return copy.state() == QProcess::NotRunning; }, 30000) &&
               copy.exitStatus() == QProcess::NormalExit;
    }
    int mode(const QString& name) const { return int(QFile::permissions(dir.filePath(name)) & 0x7077); }

private slots:
    void init()
    {
        QVERIFY(QDir(dir.path()).removeRecursively() && QDir().mkpath(dir.path()));
        QVERIFY(QFile::copy(CORVELTA_BINARY_DIR "/corvelta", dir.filePath("corvelta")));
        QFile file(settings());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[General]\nstockedit1=HELD\nlogdays=30\nweatherhost="
                                                              "http://127.0.0.1:9\nstockhost=http://127.0.0.1:9\n"));
    }

    void stopSignalsCloseAsTheWindowDoes_data()
    {
        addColumns<QList<int>, QString>({"stops", "line"});
        QTest::newRow("SIGTERM") << QList<int>{SIGTERM} << "Stop requested by SIGTERM";
        QTest::newRow("SIGINT") << QList<int>{SIGINT} << "Stop requested by SIGINT";
        QTest::newRow("SIGHUP") << QList<int>{SIGHUP} << "Stop requested by SIGHUP";
        QTest::newRow("a second signal while closing") << QList<int>{SIGTERM, SIGINT} << QString();
    }
    void stopSignalsCloseAsTheWindowDoes()
    {
        QFETCH(QList<int>, stops);
        QFETCH(QString, line);
        QProcess copy;
        QVERIFY(start(copy));
        QVERIFY(QFile::remove(settings()));  // written again at the stop, with what the window holds
        // All signals pending at once: the first starts the close, a second ends it.
        for (int s : QList<int>{SIGSTOP} + stops + QList<int>{SIGCONT})
            deliver(copy, s);
        QVERIFY(copy.waitForFinished(30000));
        QCOMPARE(copy.exitStatus(), line.isEmpty() ? QProcess::CrashExit : QProcess::NormalExit);
        if (line.isEmpty())
            return;
        QCOMPARE(copy.exitCode(), 0);
        QCOMPARE(log().split('\n').mid(log().count('\n') - 2).replaceInStrings(QRegularExpression("^.{23}"), ""),
                 (QStringList{line, "Savings Settings, File=" + settings(), "*****Corvelta Shutdown******"}));
        QCOMPARE(QSettings(settings(), QSettings::IniFormat).value("stockedit1").toString(), QString("HELD"));
    }

    // Refused by the socket in this network namespace, by the folder's lock
    // in another; a first copy that does not answer holds up no start.
    void oneCopyPerNetworkNamespace_data()
    {
        addColumns<QStringList, bool, int, QString>({"prefix", "firstStopped", "starts", "refusal"});
        dataRow("same namespace", QStringList{}, false, 1, "");
        dataRow("another network namespace", QStringList{"unshare", "--net", "--map-root-user"}, false, 1, "");
        dataRow("the first stopped, 20 starts in a row", QStringList{}, true, 20, " but does not answer");
    }
    void oneCopyPerNetworkNamespace()
    {
        QFETCH(QStringList, prefix);
        QFETCH(bool, firstStopped);
        QFETCH(int, starts);
        QFETCH(QString, refusal);
        if (!prefix.isEmpty() && QProcess::execute(prefix[0], prefix.mid(1) << "true"))
            QSKIP("no network namespace can be made here");
        QProcess first;
        QVERIFY(start(first));
        const QStringList settingsBefore = fileLines(settings());
        if (firstStopped)
            deliver(first, SIGSTOP);
        for (int n = 0; n < starts; ++n) {
            QProcess second;
            QVERIFY(start(second, prefix, false));
            QVERIFY(second.waitForFinished(30000));
            QCOMPARE(second.exitCode(), 1);
            QCOMPARE(QString(second.readAllStandardError()).split('\n').filter("already running"),
                     QStringList{QString("Corvelta is already running (process %1)%2; this copy sends nothing to the "
                                         "clocks and closes.")
                                     .arg(first.processId())
                                     .arg(refusal)});
        }
        if (firstStopped)
            deliver(first, SIGCONT);
        // Asked from this namespace, the first copy raised its window and answered.
        if (prefix.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(
                log().contains("Another start of Corvelta was refused; this window is the one that runs"), 30000);
        QCOMPARE(log().count("Corvelta Startup"), 1);
        QCOMPARE(fileLines(settings()), settingsBefore);
        QVERIFY(stop(first));  // answering closed copies ended nothing
        QCOMPARE(first.exitCode(), 0);
    }

    // Before main a stop may end the program with 143, having written nothing.
    void stopAtAnyMomentOfTheStart_data()
    {
        addColumns<int>({"afterMs"});  // -1: while its guard asks a running copy, before Qt starts
        dataRow("in main, before the application object", -1);
        dataRow("100 ms after exec", 100);
        dataRow("200 ms after exec", 200);
        dataRow("300 ms after exec", 300);
        dataRow("500 ms after exec", 500);
    }
    void stopAtAnyMomentOfTheStart()
    {
        QFETCH(int, afterMs);
        GuardStandIn running;
        if (afterMs >= 0)
            running.close();
        QProcess copy;
        QVERIFY(start(copy, {}, false));
        if (afterMs < 0) {
            QVERIFY(running.asked(30000));
            deliver(copy, SIGTERM);
            running.close();
        } else {
            QTimer::singleShot(afterMs, &copy, [&copy] { deliver(copy, SIGTERM); });
        }
        QTRY_COMPARE_WITH_TIMEOUT(copy.state(), QProcess::NotRunning, 30000);
        QCOMPARE(QSettings(settings(), QSettings::IniFormat).value("stockedit1").toString(), QString("HELD"));
        if (afterMs < 0 || !log().isEmpty()) {  // the signal came once main ran
            QCOMPARE(copy.exitStatus(), QProcess::NormalExit);
            QCOMPARE(copy.exitCode(), 0);
            QFile status(dir.filePath(StatusFile::FileName));
            QVERIFY(status.open(QIODevice::ReadOnly));
            QCOMPARE(QJsonDocument::fromJson(status.readAll())["running"], QJsonValue(false));
        }
    }

    // READY, pings at half the watchdog time asked for, the state, STOPPING.
    void serviceManagerIsTold()
    {
        NotifySocket manager(dir.filePath("notify"));
        QVERIFY(manager.isBound());
        QProcess copy;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("NOTIFY_SOCKET", dir.filePath("notify"));
        environment.insert("WATCHDOG_USEC", "1000000");
        copy.setProcessEnvironment(environment);
        QVERIFY(start(copy));
        QTRY_VERIFY_WITH_TIMEOUT(manager.messages.count("WATCHDOG=1") >= 7, 30000);
        QVERIFY(stop(copy));
        QStringList others = manager.messages;
        others.removeAll("WATCHDOG=1");
        QCOMPARE(others, (QStringList{"STATUS=0 clocks, 0 not answering; weather not yet, stocks not yet", "READY=1",
                                      "STOPPING=1"}));
        QVector<qint64> gaps;
        for (int i = 1; i < manager.messages.size(); ++i)
            if (manager.messages[i] == "WATCHDOG=1" && manager.messages[i - 1] == "WATCHDOG=1")
                gaps << manager.arrivedMs[i] - manager.arrivedMs[i - 1];
        std::sort(gaps.begin(), gaps.end());
        const qint64 middle = gaps.value(gaps.size() / 2);
        QVERIFY2(middle > 250 && middle < 750, qPrintable(QString::number(middle)));
    }

    // The temporary files of interrupted writes go; the files written get
    // their modes whatever the umask.
    void startTidiesUpAndSetsModes_data()
    {
        addColumns<QString>({"umask"});
        dataRow("umask 0", "0");
        dataRow("umask 077", "077");
    }
    void startTidiesUpAndSetsModes()
    {
        QFETCH(QString, umask);
        const QStringList left{"crv_settings.ini.vUxOPW", "corvelta-status.json.qTbRmZ"},
            kept{"crv_settings.ini.backup"};
        for (const QString& name : left + kept)
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
        QVERIFY(QFile::setPermissions(settings(), QFileDevice::Permissions(0x6644)));  // as an older version left it
        QProcess copy;
        QVERIFY(start(copy, {"sh", "-c", "umask " + umask + " && exec \"$@\"", "sh"}));
        QVERIFY(log().contains("Temporary files of interrupted writes deleted: 2"));
        for (const QString& name : left + kept)
            QCOMPARE(QFile::exists(dir.filePath(name)), kept.contains(name));
        QCOMPARE(mode("crv_settings.ini"), 0x6000);  // made the owner's at load
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(StatusFile::FileName)), 30000);
        QVERIFY(QFile::remove(settings()));  // written again at the stop
        QVERIFY(stop(copy));
        QCOMPARE(mode("crv_settings.ini"), 0x6000);
        QCOMPARE(mode(StatusFile::FileName), 0x6040);
        QCOMPARE(mode(QDate::currentDate().toString("'Corvelta_'MM-dd-yy'.log'")), 0x6040);
    }

private:
    ClockPortLock portLock;
};

CORVELTA_TEST_GUILESS_MAIN(RunningCopyTest)
#include "tst_runningcopy.moc"
