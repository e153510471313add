#include "app/statusboard.h"

#include <QCoreApplication>
#include <QHostInfo>

#include "app/refreshplan.h"
#include "app/timesource.h"
#include "clocklink/udpcommthread.h"

StatusBoard::StatusBoard(QObject* parent)
    : QObject(parent)
    , startedAt(TimeSource::now())
{}

StatusBoard::~StatusBoard()
{
    delete writer;
}

void StatusBoard::startWriting(const QString& path)
{
    // The file is this program's state across a restart too: what each
    // clock last acknowledged, until it answers again.
    clockStates.restore(StatusFile::readBack(path));
    writer = new StatusFileWriter(path);
    connect(writer, &StatusFileWriter::failed, this, &StatusBoard::logLine);
}

void StatusBoard::follow(UDPCommThread& link)
{
    connect(
        &link, &UDPCommThread::clockEvents, this,
        [this, &link](const ClockLinkEvents& events) {
            applyClockEvents(events, TimeSource::now(), link.GetClockNowNs());
        },
        Qt::QueuedConnection);
    setDatagramCounts([&link] {
        const RetransmitQueue::Counters counters = link.GetUdpCounters();
        return DatagramCounts{counters.transmissions, counters.retransmissions, counters.givenUp};
    });
}

void StatusBoard::setLists(const QStringList& weather, const QStringList& stocks)
{
    if (clockStates.setLists(weather, stocks))
        emit listsChanged();
}

void StatusBoard::applyClockEvents(const ClockLinkEvents& events, const QDateTime& now, qint64 linkNowNs)
{
    ClockLinkEvents stamped = events;
    stampEvents(stamped, now, linkNowNs);
    emit rowsChanged(clockStates.apply(stamped));
}

void StatusBoard::noteSuccess(FeedStatus::Feed feed)
{
    feedStatus[feed].lastSuccess = TimeSource::now();
    feedStatus[feed].failedLast = false;
    ++feedChanges;
}

void StatusBoard::noteFailure(FeedStatus::Feed feed, const QString& line)
{
    FeedStatus& status = feedStatus[feed];
    status.lastFailureLine = line;
    status.lastFailureAt = TimeSource::now();
    ++status.failures;
    status.failedLast = true;
    ++feedChanges;
}

FeedStatuses StatusBoard::feedsAt(const QDateTime& now) const
{
    FeedStatuses feeds = feedStatus;
    for (size_t feed = 0; feed < feeds.size(); ++feed) {
        // A suspension holds every request to its host: the weather host
        // serves the alerts and the forecast too.
        if (hosts[feed] && hosts[feed]->suspendedAt(now))
            feeds[feed].suspendedUntil = hosts[feed]->suspendedUntil();
        if (timings[feed]) {
            const FeedTiming timing = timings[feed](now);
            feeds[feed].nextDue = timing.nextDue;
            feeds[feed].intervalSeconds = timing.intervalSeconds;
        }
    }
    return feeds;
}

QVector<qint64> StatusBoard::schedulesOf(const FeedStatuses& feeds)
{
    QVector<qint64> schedules;
    for (const FeedStatus& feed : feeds)
        schedules << qint64(feed.nextDue.isValid()) << feed.intervalSeconds
                  << (feed.suspendedUntil.isValid() ? feed.suspendedUntil.toMSecsSinceEpoch() : -1);
    return schedules;
}

StatusSnapshot StatusBoard::snapshot(const QDateTime& now, bool running) const
{
    StatusSnapshot snapshot;
    snapshot.version =
        QString::asprintf("%d.%d.%d", CORVELTA_VERSION_MAJOR, CORVELTA_VERSION_MINOR, CORVELTA_VERSION_PATCH);
    snapshot.pid = QCoreApplication::applicationPid();
    snapshot.host = QHostInfo::localHostName();
    snapshot.started = startedAt;
    snapshot.written = now;
    snapshot.running = running;
    snapshot.feeds = feedsAt(now);
    if (datagramCounts) {
        const DatagramCounts counts = datagramCounts();
        snapshot.datagramsSent = counts[0];
        snapshot.datagramsRetransmitted = counts[1];
        snapshot.textsGivenUp = counts[2];
    }
    snapshot.clocks = clockStates.clocks();
    return snapshot;
}

void StatusBoard::startPublishing(const QDateTime& now)
{
    publishing = true;
    published.publish(std::make_shared<const StatusSnapshot>(snapshot(now, true)));
}

void StatusBoard::tick(const QDateTime& now)
{
    const bool writing = writer && !finalWritten;
    if (!writing && !publishing)
        return;
    const quint64 changes = clockStates.generation() + feedChanges;
    const QVector<qint64> schedules = schedulesOf(feedsAt(now));
    const bool changed = changes != writtenChanges || schedules != writtenSchedules;
    const bool due = writing && StatusFile::due(now, writtenAt, changed, int(clockStates.clocks().size()));
    if (!due && !publishing)
        return;
    const SharedSnapshot shared = std::make_shared<const StatusSnapshot>(snapshot(now, true));
    if (publishing)
        published.publish(shared);
    if (!due)
        return;
    writer->submit(shared);
    writtenAt = now;
    writtenChanges = changes;
    writtenSchedules = schedules;
}

void StatusBoard::writeFinal()
{
    if (!writer || finalWritten)
        return;
    finalWritten = true;
    writer->writeNow(snapshot(TimeSource::now(), false));
}
