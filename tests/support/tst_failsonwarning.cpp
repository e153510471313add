// Proves the strict test main: a test whose functions all pass still fails
// its run when Qt prints a warning it did not expect. CTest expects this
// executable to fail; the expected warning alone would not fail it.
#include <QtTest>

#include "support/testmain.h"

class FailsOnWarningTest : public QObject
{
    Q_OBJECT

private slots:
    void expectedWarningPasses()
    {
        TestMessages::expectWarning(QRegularExpression("^expected: "));
        qWarning("expected: a warning the test declared");
        QCOMPARE(TestMessages::unexpectedWarnings(), 0);
    }
    void unexpectedWarningFailsTheRun()
    {
        qWarning("QObject::connect: a warning nobody expected");
        QCOMPARE(TestMessages::unexpectedWarnings(), 1);
    }
};

CORVELTA_TEST_GUILESS_MAIN(FailsOnWarningTest)
#include "tst_failsonwarning.moc"
