#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <vector>

#include "app/feedstatus.h"
#include "app/statusfile.h"
#include "clocklink/clocklinkevent.h"
#include "clocklink/clockstates.h"

class RefreshPlan;
class StatusFileWriter;
class UDPCommThread;

// What the clocks show, as their answers confirm, and how each feed last
// fared: the state that the Clocks window shows and the status file tells a
// machine without a desktop. Built on the window thread from the clock
// link's events and the feeds' outcomes; snapshot() copies it into a value
// that any thread may read.
class StatusBoard : public QObject
{
    Q_OBJECT

public:
    explicit StatusBoard(QObject* parent = nullptr);
    ~StatusBoard() override;

    // From now on the status file at `path` is written, on a thread of its own.
    void startWriting(const QString& path);
    // Takes the link's events as they come, each stamped with its time of day.
    void follow(UDPCommThread& link);
    // The plan whose suspension holds the requests of `feed`.
    void setHost(FeedStatus::Feed feed, const RefreshPlan* plan) { hosts[size_t(feed)] = plan; }

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
    // On a tick: hands a snapshot to the writer when one is due.
    void writeIfDue(const QDateTime& now);
    // The last version, "running": false: part of an orderly stop, once
    // (later calls do nothing).
    void writeFinal();

signals:
    void rowsChanged(const std::vector<int>& rows);
    void listsChanged();
    void logLine(QString line);

private:
    ClockStates clockStates;
    FeedStatuses feedStatus;
    std::array<const RefreshPlan*, FeedStatus::Count> hosts = {};
    quint64 feedChanges = 0;
    QDateTime startedAt;
    StatusFileWriter* writer = nullptr;
    QDateTime writtenAt;
    quint64 writtenChanges = 0;
    bool finalWritten = false;
};
