#include "app/statusfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cmath>

#include "app/filemodes.h"

namespace {

std::mutex hookMutex;  // a standard lock: the thread checker sees it
std::function<void()> beforeReplace;

QJsonValue timeValue(const QDateTime& time)
{
    if (!time.isValid())
        return QJsonValue::Null;
    // The offset is written out (+00:00 too), so the time means the same
    // anywhere and every time has the same form.
    const int offset = time.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QString::asprintf("%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

QJsonValue textValue(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonObject feedObject(const FeedStatus& feed)
{
    return QJsonObject{{"lastSuccess", timeValue(feed.lastSuccess)},
                       {"lastFailure", textValue(feed.lastFailureLine)},
                       {"lastFailureAt", timeValue(feed.lastFailureAt)},
                       {"suspendedUntil", timeValue(feed.suspendedUntil)}};
}

QJsonObject clockObject(const ClockState& clock)
{
    QJsonArray lists;
    if (clock.weatherList)
        lists.append("weather");
    if (clock.stockList)
        lists.append("stocks");
    QJsonArray variables;
    for (const ClockVariableState& v : clock.variables)
        variables.append(QJsonObject{{"acknowledged", textValue(v.acknowledged)},
                                     {"acknowledgedAt", timeValue(v.acknowledgedAt)},
                                     {"onItsWay", textValue(v.onItsWay)},
                                     {"givenUp", textValue(v.givenUp)}});
    const double share = clock.retransmittedShare();
    return QJsonObject{{"address", clock.address},
                       {"lists", lists},
                       {"state", healthText(clock.health)},
                       {"lastAnswered", timeValue(clock.lastAnswered)},
                       {"answerMs", clock.answerMs < 0 ? QJsonValue(QJsonValue::Null)
                                                       : QJsonValue(std::round(clock.answerMs * 10) / 10)},
                       {"retransmittedShare", share < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(share)},
                       {"variables", variables}};
}

}  // namespace

namespace StatusFile {

QByteArray json(const StatusSnapshot& snapshot)
{
    QJsonObject feeds;
    for (int f = 0; f < FeedStatus::Count; ++f)
        feeds.insert(FeedStatus::name(FeedStatus::Feed(f)), feedObject(snapshot.feeds[size_t(f)]));
    QJsonArray clocks;
    for (const ClockState& clock : snapshot.clocks)
        clocks.append(clockObject(clock));
    const QJsonObject root{{"version", snapshot.version},
                           {"started", timeValue(snapshot.started)},
                           {"written", timeValue(snapshot.written)},
                           {"running", snapshot.running},
                           {"feeds", feeds},
                           {"clocks", clocks}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

int minimumSecondsBetweenWrites(int clocks)
{
    return 1 + qMax(0, clocks) / 2500;
}

bool due(const QDateTime& now, const QDateTime& lastWrite, bool changed, int clocks)
{
    if (!lastWrite.isValid())
        return true;
    const qint64 since = lastWrite.secsTo(now);
    // A clock set back counts as time passed: the file must not stop.
    if (since < 0 || since >= 60)
        return true;
    return changed && since >= minimumSecondsBetweenWrites(clocks);
}

QString write(const QString& path, const QByteArray& text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return file.errorString();
    // On the new text, which keeps it when it replaces the file.
    FileModes::apply(file, FileModes::Mode::GroupReadable);
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        if (beforeReplace)
            beforeReplace();
    }
    if (!file.commit())
        return file.errorString();
    return QString();
}

void setBeforeReplaceHook(std::function<void()> hook)
{
    std::lock_guard<std::mutex> lock(hookMutex);
    beforeReplace = std::move(hook);
}

}  // namespace StatusFile

StatusFileWriter::StatusFileWriter(QString path)
    : path(std::move(path))
{
    worker.moveToThread(&thread);
    // Connected before the thread starts, so the writer's thread reads only
    // what was set before it began: a queued signal carries nothing else.
    connect(
        this, &StatusFileWriter::pendingWaiting, &worker, [this] { writePending(); }, Qt::QueuedConnection);
    thread.setObjectName(QStringLiteral("status file"));
    thread.start(QThread::LowPriority);
}

StatusFileWriter::~StatusFileWriter()
{
    thread.quit();
    thread.wait();
    writePending();  // handed over after the thread's last turn
}

void StatusFileWriter::submit(StatusSnapshot snapshot)
{
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> lock(pendingMutex);
        wasEmpty = pending.empty();
        pending.clear();
        pending.push_back(std::move(snapshot));
    }
    if (wasEmpty)
        emit pendingWaiting();
}

void StatusFileWriter::writeNow(const StatusSnapshot& snapshot)
{
    {
        std::lock_guard<std::mutex> lock(pendingMutex);
        pending.clear();  // older than this one
    }
    writeOne(snapshot, true);
}

void StatusFileWriter::writePending()
{
    std::vector<StatusSnapshot> taken;
    {
        std::lock_guard<std::mutex> lock(pendingMutex);
        taken.swap(pending);
    }
    for (const StatusSnapshot& snapshot : taken)
        writeOne(snapshot, false);
}

void StatusFileWriter::writeOne(const StatusSnapshot& snapshot, bool last)
{
    std::lock_guard<std::mutex> lock(writeMutex);
    if (stopped)
        return;  // a snapshot taken before the stop's own
    stopped = last;
    const QString problem = StatusFile::write(path, StatusFile::json(snapshot));
    if (!problem.isEmpty())
        emit failed(QString("Error writing status file %1: %2").arg(path, problem));
}
