#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QThread>
#include <functional>
#include <mutex>
#include <vector>

#include "app/feedstatus.h"
#include "clocklink/clockstates.h"

// Everything the status file holds, copied on the window thread.
struct StatusSnapshot
{
    QString version;
    QDateTime started;
    QDateTime written;
    bool running = true;
    FeedStatuses feeds;
    std::vector<ClockState> clocks;
};

namespace StatusFile {

constexpr const char* FileName = "corvelta-status.json";

// The file's text: JSON, times in ISO 8601 with their offset, an unknown
// time as null.
QByteArray json(const StatusSnapshot& snapshot);

// How many seconds at least between two writes: one, and one more per
// 2,500 clocks (a campus of 10,000 clocks is written every 5 s at most).
int minimumSecondsBetweenWrites(int clocks);

// Whether a snapshot is due at `now`: something changed and the minimum
// interval has passed, or 60 s have passed since the last write.
bool due(const QDateTime& now, const QDateTime& lastWrite, bool changed, int clocks);

// Replaces the file whole (a temporary file renamed over it), so a reader
// finds the old file or the new one, never a part; mode 0640 whatever the
// umask. Returns an empty text, or what went wrong.
QString write(const QString& path, const QByteArray& text);

// For tests: called after the new text is complete in its temporary file
// and before it replaces the file.
void setBeforeReplaceHook(std::function<void()> hook);

}  // namespace StatusFile

// Writes snapshots on a thread of its own, so a large file never holds up
// the window. A snapshot handed over while one is being written replaces any
// other still waiting: only the newest is written.
class StatusFileWriter : public QObject
{
    Q_OBJECT

public:
    explicit StatusFileWriter(QString path);
    ~StatusFileWriter() override;  // writes what waits, then ends the thread

    void submit(StatusSnapshot snapshot);
    // Writes the snapshot before returning (the last one, at a stop).
    void writeNow(const StatusSnapshot& snapshot);

signals:
    // A write failed: a line for the log (emitted on the writer's thread).
    void failed(QString line);
    // Internal: wakes the writer's thread; connected once, before it starts.
    void pendingWaiting();

private:
    void writePending();
    // `last`: the stop's snapshot, after which nothing older is written.
    void writeOne(const StatusSnapshot& snapshot, bool last);

    QString path;
    QThread thread;
    QObject worker;  // lives on `thread`; queued calls run there
    std::mutex pendingMutex;
    std::vector<StatusSnapshot> pending;  // at most one
    std::mutex writeMutex;                // one write at a time
    bool stopped = false;                 // guarded by writeMutex
};
