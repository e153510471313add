#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/feedstatus.h"
#include "clocklink/clockstates.h"

// Everything the status document holds, copied on the window thread.
struct StatusSnapshot
{
    QString version;
    qint64 pid = 0;
    QString host;  // the machine's name
    QDateTime started;
    QDateTime written;  // when the snapshot was taken
    bool running = true;
    FeedStatuses feeds;
    // The clock link's datagrams since the start: every copy sent, the copies
    // after a datagram's first, the texts given up.
    qint64 datagramsSent = 0;
    qint64 datagramsRetransmitted = 0;
    qint64 textsGivenUp = 0;
    std::vector<ClockState> clocks;
};

using SharedSnapshot = std::shared_ptr<const StatusSnapshot>;

// The last snapshot the window thread published, for readers on other
// threads (the web server's): a copy of the pointer under a lock, so a
// reader never waits for the window thread, nor it for a reader.
class SnapshotPublisher
{
public:
    void publish(SharedSnapshot snapshot)
    {
        std::lock_guard<std::mutex> lock(mutex);
        latestSnapshot.swap(snapshot);
    }
    SharedSnapshot latest() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return latestSnapshot;
    }

private:
    mutable std::mutex mutex;
    SharedSnapshot latestSnapshot;
};

namespace StatusFile {

constexpr const char* FileName = "corvelta-status.json";
constexpr int SchemaVersion = 2;
// A file that nothing changed is written again after this long, so a
// monitor can tell a stopped program from a quiet one.
constexpr int HeartbeatSeconds = 300;

// The status document, as the file and /status.json hold it: compact JSON,
// times in ISO 8601 with their offset, an unknown time or text as null.
QByteArray json(const StatusSnapshot& snapshot);

// How many seconds at least between two writes: one, and one more per
// 2,500 clocks (a campus of 10,000 clocks is written every 5 s at most).
int minimumSecondsBetweenWrites(int clocks);

// Whether a snapshot is due at `now`: something changed and the minimum
// interval has passed, or the heartbeat has passed since the last write.
bool due(const QDateTime& now, const QDateTime& lastWrite, bool changed, int clocks);

// The clocks of a status file a previous run wrote at `path` (by IPv4
// key): the texts each acknowledged, when, and its last answer. Empty when
// there is no readable file.
QHash<quint32, ClockState> readBack(const QString& path);

// Replaces the file whole (a temporary file renamed over it), so a reader
// finds the old file or the new one, never a part; mode 0640 whatever the
// umask. Returns an empty text, or what went wrong. Every file the status
// board writes goes through here.
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

    void submit(SharedSnapshot snapshot);
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
    SharedSnapshot pending;  // the newest waiting, if any
    std::mutex writeMutex;   // one write at a time
    bool stopped = false;    // guarded by writeMutex
};
