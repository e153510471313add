#include "app/statusboard.h"

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
    ++feedChanges;
}

void StatusBoard::noteFailure(FeedStatus::Feed feed, const QString& line)
{
    FeedStatus& status = feedStatus[feed];
    status.lastFailureLine = line;
    status.lastFailureAt = TimeSource::now();
    ++feedChanges;
}

StatusSnapshot StatusBoard::snapshot(const QDateTime& now, bool running) const
{
    StatusSnapshot snapshot;
    snapshot.version =
        QString::asprintf("%d.%d.%d", CORVELTA_VERSION_MAJOR, CORVELTA_VERSION_MINOR, CORVELTA_VERSION_PATCH);
    snapshot.started = startedAt;
    snapshot.written = now;
    snapshot.running = running;
    snapshot.feeds = feedStatus;
    // A suspension holds every request to its host: the weather host serves
    // the alerts and the forecast too.
    for (size_t feed = 0; feed < hosts.size(); ++feed) {
        if (hosts[feed] && hosts[feed]->suspendedAt(now))
            snapshot.feeds[feed].suspendedUntil = hosts[feed]->suspendedUntil();
    }
    snapshot.clocks = clockStates.clocks();
    return snapshot;
}

void StatusBoard::writeIfDue(const QDateTime& now)
{
    if (!writer || finalWritten)
        return;
    const quint64 changes = clockStates.generation() + feedChanges;
    if (!StatusFile::due(now, writtenAt, changes != writtenChanges, int(clockStates.clocks().size())))
        return;
    writer->submit(snapshot(now, true));
    writtenAt = now;
    writtenChanges = changes;
}

void StatusBoard::writeFinal()
{
    if (!writer || finalWritten)
        return;
    finalWritten = true;
    writer->writeNow(snapshot(TimeSource::now(), false));
}
