// CORVELTA_USES_CLOCK_PORT: the window starts the clock link.
#include <QtTest>

#include "clockportlock.h"
#include "mainwindow.h"

class MainWindowFormTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { static ClockPortLock lock; }
    void title()
    {
        MainWindow window;
        QCOMPARE(window.windowTitle(), QString("Corvelta Version 1.0.6"));
    }
};

QTEST_MAIN(MainWindowFormTest)
#include "tst_mainwindowform.moc"
