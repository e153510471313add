// The clock-port lock excludes only within one network namespace, and a
// script waiting for it (tools/clockportlock.py) says for whom.
#include <QtTest>

#include <memory>

#include "support/clockportlock.h"
#include "support/testmain.h"

class ClockPortLockTest : public QObject
{
    Q_OBJECT

private slots:
    void waitsOnlyInItsNetworkNamespace_data()
    {
        addColumns<QStringList, bool>({"namespacePrefix", "waits"});
        dataRow("same namespace", QStringList{}, true);
        dataRow("another network namespace", QStringList{"unshare", "--net", "--map-root-user"}, false);
    }
    void waitsOnlyInItsNetworkNamespace()
    {
        QFETCH(QStringList, namespacePrefix);
        QFETCH(bool, waits);
        if (!namespacePrefix.isEmpty() && QProcess::execute(namespacePrefix[0], namespacePrefix.mid(1) << "true"))
            QSKIP("no network namespace can be made here");
        auto lock = std::make_unique<ClockPortLock>();
        QStringList command = namespacePrefix << "python3" << CORVELTA_SOURCE_DIR "/tools/clockportlock.py"
                                              << "true";
        QProcess other;
        other.start(command.takeFirst(), command);
        QByteArray said;
        if (waits) {
            QTRY_VERIFY_WITH_TIMEOUT((said += other.readAllStandardError()).contains("Waiting for the clock port"),
                                     30000);
            QVERIFY(said.contains(
                QString("held by process %1 (tst_clockportlo").arg(QCoreApplication::applicationPid()).toUtf8()));
            QCOMPARE(other.state(), QProcess::Running);
            lock.reset();
        }
        QVERIFY(other.waitForFinished(30000));
        QCOMPARE(said + other.readAllStandardError(), waits ? said : QByteArray());
    }
};

CORVELTA_TEST_GUILESS_MAIN(ClockPortLockTest)
#include "tst_clockportlock.moc"
