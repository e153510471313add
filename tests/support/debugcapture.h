#pragma once

// Records the program's debug output (every log line is echoed there) while
// it lives. Warnings and worse are passed on to the handler before it, so the
// strict test main still judges them. The lines may be read from any thread.

#include <QStringList>
#include <QtGlobal>
#include <mutex>

class DebugCapture
{
public:
    struct Options
    {
        // Keep no debug line at all (a long run's output is only noise).
        bool keepDebug = true;
        // Remove the log line's "MM/dd/yy hh:mm:ss.zzz: " stamp.
        bool stripTimestamp = false;
        // Keep at most this many characters of a line (a 10 MB reply's log
        // line would otherwise be held whole); -1 keeps everything.
        int maxLineLength = -1;
    };

    DebugCapture()
        : DebugCapture(Options{})
    {}
    explicit DebugCapture(Options options);
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    // Debug messages, in order.
    QStringList debugLines() const;
    // Debug messages from `mark` (a value of mark()) on.
    QStringList debugSince(int mark) const;
    int mark() const;
    // Messages of every other type.
    QStringList otherLines() const;

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);

    Options options;
    QtMessageHandler previous = nullptr;
    mutable std::mutex mutex;
    QStringList debug;
    QStringList other;
};
