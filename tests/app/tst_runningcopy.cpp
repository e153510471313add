// The real corvelta executable as the operator runs it: copied into a
// directory of its own (its settings file beside it, its log there too),
// started offscreen, stopped by signals and started a second time.
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
    QString log() const { return fileLines(dir.filePath(QDate::currentDate().toString("'Corvelta_'MM-dd-yy'.log'"))).join('\n'); }

    // Starts a copy (behind `prefix`, a command such as unshare) and, if it
    // should run, waits for its startup line.
    bool start(QProcess& copy, QStringList prefix = {}, bool runs = true)
    {
        const int startups = log().count("Corvelta Startup");
        prefix << dir.filePath("corvelta");
        copy.setWorkingDirectory(dir.path());
        copy.start(prefix.takeFirst(), prefix);
        return copy.waitForStarted(30000) &&
               (!runs || QTest::qWaitFor([&] { return log().count("Corvelta Startup") > startups; }, 30000));
    }

private slots:
    void init()
    {
        QVERIFY(QFile::copy(CORVELTA_BINARY_DIR "/corvelta", dir.filePath("corvelta")));
        QSettings file(settings(), QSettings::IniFormat);
        file.setValue("stockedit1", "HELD");
        file.setValue("weatherhost", "http://127.0.0.1:9");
        file.setValue("stockhost", "http://127.0.0.1:9");
    }
    void cleanup() { QVERIFY(QDir(dir.path()).removeRecursively() && QDir().mkpath(dir.path())); }

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
        // A missing file is written at the stop, with what the window holds.
        QVERIFY(QFile::remove(settings()));
        // Both signals pending at once: the first starts the close, the second ends it.
        ::kill(pid_t(copy.processId()), SIGSTOP);
        for (int s : stops)
            ::kill(pid_t(copy.processId()), s);
        ::kill(pid_t(copy.processId()), SIGCONT);
        QVERIFY(copy.waitForFinished(30000));
        QCOMPARE(copy.exitStatus(), line.isEmpty() ? QProcess::CrashExit : QProcess::NormalExit);
        if (line.isEmpty())
            return;
        QCOMPARE(copy.exitCode(), 0);
        QStringList lines = log().split('\n');  // the stop request, the settings written, the shutdown
        QCOMPARE(lines.takeLast().mid(23), QString("*****Corvelta Shutdown******"));
        QCOMPARE(lines.takeLast().mid(23), "Savings Settings, File=" + settings());
        QCOMPARE(lines.takeLast().mid(23), line);
        QCOMPARE(QSettings(settings(), QSettings::IniFormat).value("stockedit1").toString(), QString("HELD"));
    }

    void oneCopyPerNetworkNamespace_data()
    {
        addColumns<QStringList, bool>({"prefix", "refused"});
        QTest::newRow("same namespace") << QStringList{} << true;
        QTest::newRow("another network namespace") << QStringList{"unshare", "--net", "--map-root-user"} << false;
    }
    void oneCopyPerNetworkNamespace()
    {
        QFETCH(QStringList, prefix);
        QFETCH(bool, refused);
        if (!prefix.isEmpty() && QProcess::execute(prefix[0], prefix.mid(1) << "true"))
            QSKIP("no network namespace can be made here");
        QProcess first, second;
        QVERIFY(start(first));
        const QByteArray settingsBefore = fileLines(settings()).join('\n').toUtf8();
        QVERIFY(start(second, prefix, !refused));
        if (refused) {
            QVERIFY(second.waitForFinished(30000));
            QCOMPARE(second.exitCode(), 1);
            QCOMPARE(QString(second.readAllStandardError()).split('\n').filter("already running"),
                     QStringList{QString("Corvelta is already running (process %1); this copy sends nothing to the "
                                         "clocks and closes.").arg(first.processId())});
            QTRY_VERIFY_WITH_TIMEOUT(log().contains("Another start of Corvelta was refused; this window is the one that runs"), 30000);
            QCOMPARE(log().count("Corvelta Startup"), 1);
            QCOMPARE(fileLines(settings()).join('\n').toUtf8(), settingsBefore);
        }
        for (QProcess* copy : {&first, &second}) {
            copy->terminate();
            QVERIFY(copy->state() == QProcess::NotRunning || copy->waitForFinished(30000));
        }
    }

private:
    ClockPortLock portLock;
};

CORVELTA_TEST_GUILESS_MAIN(RunningCopyTest)
#include "tst_runningcopy.moc"
