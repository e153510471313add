#include "support/testmain.h"

#include <QList>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex expectedMutex;
QList<QRegularExpression>& expectedPatterns()
{
    // The offscreen platform's notes that it lacks a window operation
    // (size hints, raise, keyboard grab for a popup): facts of the test
    // platform, not of the program.
    static QList<QRegularExpression> patterns = {QRegularExpression(
        "^This plugin does not support (propagateSizeHints\\(\\)|raise\\(\\)|grabbing the keyboard)$")};
    return patterns;
}

std::atomic<int> unexpectedCount{0};
// Qt Test's own handler while a test object runs (it logs the message and
// swallows those named by QTest::ignoreMessage); the default one otherwise.
std::atomic<QtMessageHandler> passOn{nullptr};
// After the test object has run, nobody is left to report a failure: a
// warning then ends the process at once with a failing status.
std::atomic<bool> afterRun{false};

bool isWarningOrWorse(QtMsgType type)
{
    return type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg;
}

bool isExpected(const QString& message)
{
    std::lock_guard<std::mutex> lock(expectedMutex);
    for (const QRegularExpression& pattern : expectedPatterns()) {
        if (pattern.match(message).hasMatch())
            return true;
    }
    return false;
}

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (const QtMessageHandler next = passOn)
        next(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    if (!isWarningOrWorse(type) || isExpected(message))
        return;
    ++unexpectedCount;
    std::fprintf(stderr, "FAIL: unexpected Qt %s: %s\n", type == QtWarningMsg ? "warning" : "critical message",
                 qPrintable(message));
    if (afterRun) {
        std::fflush(stderr);
        std::_Exit(EXIT_FAILURE);
    }
}

}  // namespace

namespace TestMessages {

int run(QObject* testObject, int argc, char** argv)
{
    // Qt Test installs its logging handler in qInit; ours goes on top of it
    // and hands every message on, so ignored messages and the test log are
    // as Qt Test makes them.
    QTest::qInit(testObject, argc, argv);
    passOn = qInstallMessageHandler(handle);
    int result = QTest::qRun();
    qInstallMessageHandler(passOn);
    QTest::qCleanup();
    installForProcess();
    if (unexpectedCount > 0) {
        std::fprintf(stderr, "FAIL: %d unexpected Qt warning(s)\n", int(unexpectedCount));
        if (result == 0)
            result = 1;
    }
    return result;
}

void expectWarning(const QRegularExpression& pattern)
{
    std::lock_guard<std::mutex> lock(expectedMutex);
    expectedPatterns().append(pattern);
}

int unexpectedWarnings()
{
    return unexpectedCount;
}

void installForProcess()
{
    afterRun = true;
    QtMessageHandler previous = qInstallMessageHandler(handle);
    if (previous != handle)
        passOn = previous;
}

}  // namespace TestMessages
