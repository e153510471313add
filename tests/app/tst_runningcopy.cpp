// The real program run from a directory of its own, stopped by signals and started twice.
#include <QtTest>

#include <csignal>

#include "support/clockportlock.h"
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

    void oneCopyPerNetworkNamespace_data()
    {
        addColumns<QStringList, bool>({"prefix", "refused"});
        dataRow("same namespace", QStringList{}, true);
        dataRow("another network namespace", QStringList{"unshare", "--net", "--map-root-user"}, false);
    }
    void oneCopyPerNetworkNamespace()
    {
        QFETCH(QStringList, prefix);
        QFETCH(bool, refused);
        if (!prefix.isEmpty() && QProcess::execute(prefix[0], prefix.mid(1) << "true"))
            QSKIP("no network namespace can be made here");
        QProcess first, second;
        QVERIFY(start(first));
        const QStringList settingsBefore = fileLines(settings());
        QVERIFY(start(second, prefix, !refused));
        if (refused) {
            QVERIFY(second.waitForFinished(30000));
            QCOMPARE(second.exitCode(), 1);
            QCOMPARE(QString(second.readAllStandardError()).split('\n').filter("already running"),
                     QStringList{QString("Corvelta is already running (process %1); this copy sends nothing to the "
                                         "clocks and closes.")
                                     .arg(first.processId())});
            QTRY_VERIFY_WITH_TIMEOUT(
                log().contains("Another start of Corvelta was refused; this window is the one that runs"), 30000);
            QCOMPARE(log().count("Corvelta Startup"), 1);
            QCOMPARE(fileLines(settings()), settingsBefore);
        }
        for (QProcess* copy : {&first, &second})
            QVERIFY((copy->terminate(), copy->state() == QProcess::NotRunning || copy->waitForFinished(30000)));
    }

private:
    ClockPortLock portLock;
};

CORVELTA_TEST_GUILESS_MAIN(RunningCopyTest)
#include "tst_runningcopy.moc"
