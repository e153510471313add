// The real program run from a directory of its own: stops, second copies, systemd's notifications, umasks.
#include <QtTest>

#include <csignal>
#include <poll.h>

#include "support/clockportlock.h"
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
    // Stops a copy as systemd does (SIGTERM); true when it ended on its own with exit status 0.
    bool stop(QProcess& copy)
    {
        copy.terminate();
        return QTest::qWaitFor([&] { return copy.state() == QProcess::NotRunning; }, 30000) &&
               copy.exitStatus() == QProcess::NormalExit && copy.exitCode() == 0;
    }
    int mode(const QString& name) const { return int(QFile::permissions(dir.filePath(name)) & 0x7077); }

private slots:
    void init()
    {
        QVERIFY(QDir(dir.path()).removeRecursively() && QDir().mkpath(dir.path()) && QDir::setCurrent(dir.path()));
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
            ::kill(pid_t(copy.processId()), s);
        QVERIFY(copy.waitForFinished(30000));
        QCOMPARE(copy.exitStatus(), line.isEmpty() ? QProcess::CrashExit : QProcess::NormalExit);
        if (line.isEmpty())
            return;
        QCOMPARE(copy.exitCode(), 0);
        QCOMPARE(log().split('\n').mid(log().count('\n') - 2).replaceInStrings(QRegularExpression("^.{23}"), ""),
                 (QStringList{line, "Savings Settings, File=" + settings(), "*****Corvelta Shutdown******"}));
        QCOMPARE(QSettings(settings(), QSettings::IniFormat).value("stockedit1").toString(), QString("HELD"));
    }

    // Refused by the socket here, by the folder's lock in another network namespace, unanswered by a stopped copy.
    void oneCopyPerNetworkNamespace_data()
    {
        addColumns<QStringList, int, QString>({"prefix", "starts", "refusal"});
        dataRow("same namespace", QStringList{}, 1, "");
        dataRow("another network namespace", QStringList{"unshare", "--net", "--map-root-user"}, 1, "");
        dataRow("the first stopped, 20 starts in a row", QStringList{}, 20, " but does not answer");
    }
    void oneCopyPerNetworkNamespace()
    {
        QFETCH(QStringList, prefix);
        QFETCH(int, starts);
        QFETCH(QString, refusal);
        const bool firstStopped = !refusal.isEmpty();
        if (!prefix.isEmpty() && QProcess::execute(prefix[0], prefix.mid(1) << "true"))
            QSKIP("no network namespace can be made here");
        QProcess first;
        QVERIFY(start(first));
        const QStringList settingsBefore = fileLines(settings());
        if (firstStopped)
            ::kill(pid_t(first.processId()), SIGSTOP);
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
            ::kill(pid_t(first.processId()), SIGCONT);
        if (prefix.isEmpty())  // asked from this namespace, the first copy raised its window
            QTRY_VERIFY_WITH_TIMEOUT(
                log().contains("Another start of Corvelta was refused; this window is the one that runs"), 30000);
        QCOMPARE(log().count("Corvelta Startup"), 1);
        QCOMPARE(fileLines(settings()), settingsBefore);
        QVERIFY(stop(first));  // answering closed copies ended nothing
    }

    // Before main a stop may end the program with 143, having written nothing.
    void stopAtAnyMomentOfTheStart_data()
    {
        addColumns<int>({"afterMs"});  // -1: while its guard asks a running copy, before Qt starts
        dataRow("in main, before the application object", -1);
        dataRow("100 ms after exec", 100);
        dataRow("300 ms after exec", 300);
        dataRow("500 ms after exec", 500);
    }
    void stopAtAnyMomentOfTheStart()
    {
        QFETCH(int, afterMs);
        // A stand-in running copy that never answers holds the start in its guard; then it ends.
        pollfd asked{afterMs < 0 ? abstractSocket("corvelta-running-instance", true) : -1, POLLIN, 0};
        QProcess copy;
        QVERIFY(start(copy, {}, false));
        if (afterMs >= 0)
            QTimer::singleShot(afterMs, &copy, &QProcess::terminate);
        else if (::poll(&asked, 1, 30000) == 1)
            copy.terminate();
        ::close(asked.fd);
        QTRY_COMPARE_WITH_TIMEOUT(copy.state(), QProcess::NotRunning, 30000);
        QCOMPARE(QSettings(settings(), QSettings::IniFormat).value("stockedit1").toString(), QString("HELD"));
        if (afterMs < 0 || !log().isEmpty()) {  // the signal came once main ran
            QCOMPARE(copy.exitStatus() == QProcess::NormalExit ? copy.exitCode() : 143, 0);
            QCOMPARE(readStatusFile()["running"], QJsonValue(false));
        }
    }

    // As systemd runs it: its notifications, interrupted writes tidied up, file modes whatever the umask.
    void asAService_data()
    {
        addColumns<QString>({"umask"});
        dataRow("umask 0", "0");
        dataRow("umask 077", "077");
    }
    void asAService()
    {
        QFETCH(QString, umask);
        for (const char* name : {"crv_settings.ini.vUxOPW", "corvelta-status.json.qTbRmZ", "crv_settings.ini.backup"})
            QVERIFY(QFile(name).open(QIODevice::WriteOnly));
        QVERIFY(QFile::setPermissions(settings(), QFileDevice::Permissions(0x6644)));  // as an older version left it
        NotifySocket manager(dir.filePath("notify"));
        QProcess copy;
        QVERIFY(start(copy, {"env", "NOTIFY_SOCKET=" + dir.filePath("notify"), "WATCHDOG_USEC=1000000", "sh", "-c",
                             "umask " + umask + " && exec \"$@\"", "sh"}));
        QVERIFY(log().contains("Temporary files of interrupted writes deleted: 2"));
        QCOMPARE(QDir().entryList({"*.??????"}), QStringList{"crv_settings.ini.backup"});  // an operator's copy stays
        QCOMPARE(mode("crv_settings.ini"), 0x6000);                                        // made the owner's at load
        QTRY_VERIFY_WITH_TIMEOUT(manager.messages.contains("WATCHDOG=1"), 30000);
        QElapsedTimer sinceFirstPing;
        sinceFirstPing.start();
        QTRY_VERIFY_WITH_TIMEOUT(manager.messages.count("WATCHDOG=1") >= 7, 30000);
        const qint64 pace = sinceFirstPing.elapsed() / (manager.messages.count("WATCHDOG=1") - 1);
        QVERIFY2(pace > 250 && pace < 750, qPrintable(QString::number(pace)));  // half the 1 s asked for
        QVERIFY(QFile::remove(settings()));                                     // written again at the stop
        QVERIFY(stop(copy));
        manager.messages.removeAll("WATCHDOG=1");
        QCOMPARE(manager.messages, (QStringList{"STATUS=0 clocks, 0 not answering; weather not yet, stocks not yet",
                                                "READY=1", "STOPPING=1"}));
        const QString log = QDate::currentDate().toString("'Corvelta_'MM-dd-yy'.log'");
        QCOMPARE((QList<int>{mode("crv_settings.ini"), mode(StatusFile::FileName), mode(log)}),
                 (QList<int>{0x6000, 0x6040, 0x6040}));
    }

private:
    ClockPortLock portLock;
};

CORVELTA_TEST_GUILESS_MAIN(RunningCopyTest)
#include "tst_runningcopy.moc"
