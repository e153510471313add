#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>
#include <functional>
#include <vector>

#include "app/feedstatus.h"
#include "app/statusfile.h"
#include "clocklink/clocklinkevent.h"
#include "clocklink/clockstates.h"

class RefreshPlan;
class StatusFileWriter;
class UDPCommThread;

// What the clocks show, as their answers confirm, and how each feed last
// fared: the state that the Clocks window shows and the status file and the
// web page tell a machine without a desktop. Built on the window thread from
// the clock link's events and the feeds' outcomes; snapshot() copies it into
// a value that any thread may read, and each tick publishes one for the web
// server's threads.
class StatusBoard : public QObject
{
    Q_OBJECT

public:
    explicit StatusBoard(QObject* parent = nullptr);
    ~StatusBoard() override;

    // Reads back what the clocks acknowledged before the restart from the
    // status file at `path`, then from now on writes it, on a thread of its
    // own.
    void startWriting(const QString& path);
    // Takes the link's events as they come, each stamped with its time of
    // day, and its datagram counters at each snapshot.
    void follow(UDPCommThread& link);
    // The plan whose suspension holds the requests of `feed`.
    void setHost(FeedStatus::Feed feed, const RefreshPlan* plan) { hosts[size_t(feed)] = plan; }
    // When `feed` is next asked for, as its own object tells.
    void setTiming(FeedStatus::Feed feed, std::function<FeedTiming(const QDateTime&)> timing)
    {
        timings[size_t(feed)] = std::move(timing);
    }
    // The link's counters of datagrams sent, retransmitted and given up.
    using DatagramCounts = std::array<qint64, 3>;
    void setDatagramCounts(std::function<DatagramCounts()> counts) { datagramCounts = std::move(counts); }

    const ClockStates& clocks() const { return clockStates; }
    // The two address lists as split from their fields: clocks join or leave.
    void setLists(const QStringList& weather, const QStringList& stocks);
    // One batch of the link's events, `now` being the time of day at the
    // link's monotonic moment `linkNowNs`.
    void applyClockEvents(const ClockLinkEvents& events, const QDateTime& now, qint64 linkNowNs);

    void noteSuccess(FeedStatus::Feed feed);
    // A failure line of the feed, as logged.
    void noteFailure(FeedStatus::Feed feed, const QString& line);

    StatusSnapshot snapshot(const QDateTime& now, bool running) const;
    // Where readers on other threads find the snapshots published.
    const SnapshotPublisher& publisher() const { return published; }
    // From now on each tick publishes a snapshot (one now).
    void startPublishing(const QDateTime& now);
    // On a tick: publishes a snapshot (while anyone reads them) and hands
    // one to the writer when one is due.
    void tick(const QDateTime& now);
    // The last version, "running": false: part of an orderly stop, once
    // (later calls do nothing).
    void writeFinal();

signals:
    void rowsChanged(const std::vector<int>& rows);
    void listsChanged();
    void logLine(QString line);

private:
    // The feeds' outcomes with their suspensions and timings at `now`.
    FeedStatuses feedsAt(const QDateTime& now) const;
    static QVector<qint64> schedulesOf(const FeedStatuses& feeds);

    ClockStates clockStates;
    FeedStatuses feedStatus;
    std::array<const RefreshPlan*, FeedStatus::Count> hosts = {};
    std::array<std::function<FeedTiming(const QDateTime&)>, FeedStatus::Count> timings;
    std::function<DatagramCounts()> datagramCounts;
    bool publishing = false;
    SnapshotPublisher published;
    // What of the feeds' schedules and suspensions counts as a change of the
    // document (a window opened or closed, an interval, a suspension), as of
    // the last write.
    QVector<qint64> writtenSchedules;
    quint64 feedChanges = 0;
    QDateTime startedAt;
    StatusFileWriter* writer = nullptr;
    QDateTime writtenAt;
    quint64 writtenChanges = 0;
    bool finalWritten = false;
};
