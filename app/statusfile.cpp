#include "app/statusfile.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cmath>
#include <cstdio>

#include "app/filemodes.h"

namespace {

std::mutex hookMutex;  // a standard lock: the thread checker sees it
std::function<void()> beforeReplace;

// The document is written straight into its bytes: it is built for every
// request of /status.json, and a JSON object tree of a thousand clocks
// costs many times more than the text itself.
class JsonText
{
public:
    QByteArray out;

    void key(const char* name)
    {
        out += '"';
        out += name;
        out += "\":";
    }
    void text(const QString& value)
    {
        if (value.isEmpty()) {
            out += "null";
            return;
        }
        const QByteArray utf8 = value.toUtf8();
        out += '"';
        for (const char c : utf8) {
            const auto u = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                out += '\\';
                out += c;
            } else if (u < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                out += escaped;
            } else {
                out += c;
            }
        }
        out += '"';
    }
    // The offset is written out (+00:00 too), so the time means the same
    // anywhere and every time has the same form.
    void time(const QDateTime& value)
    {
        if (!value.isValid()) {
            out += "null";
            return;
        }
        const QDate d = value.date();
        const QTime t = value.time();
        const int offset = value.offsetFromUtc();
        const int minutes = qAbs(offset) / 60;
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "\"%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d\"", d.year(), d.month(),
                      d.day(), t.hour(), t.minute(), t.second(), offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
        out += buffer;
    }
    void number(qint64 value) { out += QByteArray::number(value); }
    void number(double value)
    {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.15g", value);
        out += buffer;
    }
    void boolean(bool value) { out += value ? "true" : "false"; }
};

void feedObject(JsonText& j, const FeedStatus& feed)
{
    j.out += "{\"healthy\":";
    j.boolean(feed.healthy());
    j.out += ",\"lastSuccess\":";
    j.time(feed.lastSuccess);
    j.out += ",\"lastFailure\":";
    j.text(feed.lastFailureLine);
    j.out += ",\"lastFailureAt\":";
    j.time(feed.lastFailureAt);
    j.out += ",\"failures\":";
    j.number(feed.failures);
    j.out += ",\"suspendedUntil\":";
    j.time(feed.suspendedUntil);
    j.out += ",\"nextDue\":";
    j.time(feed.nextDue);
    j.out += ",\"intervalSeconds\":";
    j.number(feed.intervalSeconds);
    j.out += '}';
}

void clockObject(JsonText& j, const ClockState& clock)
{
    j.out += "{\"address\":";
    j.text(clock.address);
    j.out += ",\"lists\":";
    j.out += clock.weatherList && clock.stockList ? "[\"weather\",\"stocks\"]"
             : clock.weatherList                  ? "[\"weather\"]"
                                                  : "[\"stocks\"]";
    j.out += ",\"state\":\"";
    j.out += healthKey(clock.health);
    j.out += "\",\"lastAnswered\":";
    j.time(clock.lastAnswered);
    j.out += ",\"notAnsweringSince\":";
    j.time(clock.notAnsweringSince);
    j.out += ",\"answerMs\":";
    if (clock.answerMs < 0)
        j.out += "null";
    else
        j.number(std::round(clock.answerMs * 10) / 10);
    j.out += ",\"retransmittedShare\":";
    const double share = clock.retransmittedShare();
    if (share < 0)
        j.out += "null";
    else
        j.number(share);
    j.out += ",\"fromBeforeRestart\":";
    j.boolean(clock.fromBeforeRestart);
    j.out += ",\"variables\":[";
    for (size_t v = 0; v < clock.variables.size(); ++v) {
        const ClockVariableState& variable = clock.variables[v];
        j.out += v ? ",{\"acknowledged\":" : "{\"acknowledged\":";
        j.text(variable.acknowledged);
        j.out += ",\"acknowledgedAt\":";
        j.time(variable.acknowledgedAt);
        j.out += ",\"onItsWay\":";
        j.text(variable.onItsWay);
        j.out += ",\"givenUp\":";
        j.text(variable.givenUp);
        j.out += '}';
    }
    j.out += "]}";
}

QDateTime readTime(const QJsonValue& value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODate);
}

}  // namespace

namespace StatusFile {

QByteArray json(const StatusSnapshot& snapshot)
{
    JsonText j;
    j.out.reserve(int(1024 + snapshot.clocks.size() * 700));
    j.out += "{\"schemaVersion\":";
    j.number(qint64(SchemaVersion));
    j.out += ",\"version\":";
    j.text(snapshot.version);
    j.out += ",\"pid\":";
    j.number(snapshot.pid);
    j.out += ",\"host\":";
    j.text(snapshot.host);
    j.out += ",\"started\":";
    j.time(snapshot.started);
    j.out += ",\"written\":";
    j.time(snapshot.written);
    j.out += ",\"running\":";
    j.boolean(snapshot.running);
    j.out += ",\"heartbeatSeconds\":";
    j.number(qint64(HeartbeatSeconds));

    qint64 counts[3] = {};
    for (const ClockState& clock : snapshot.clocks)
        ++counts[int(clock.health)];
    j.out += ",\"summary\":{\"clocks\":{";
    for (const auto health :
         {ClockState::Health::Answering, ClockState::Health::NotAnswering, ClockState::Health::NotYetSentTo}) {
        if (health != ClockState::Health::Answering)
            j.out += ',';
        j.key(healthKey(health));
        j.number(counts[int(health)]);
    }
    j.out += "},\"feedsHealthy\":{";
    for (int f = 0; f < FeedStatus::Count; ++f) {
        if (f)
            j.out += ',';
        j.key(FeedStatus::name(FeedStatus::Feed(f)));
        j.boolean(snapshot.feeds[size_t(f)].healthy());
    }
    j.out += "}},\"datagrams\":{\"sent\":";
    j.number(snapshot.datagramsSent);
    j.out += ",\"retransmitted\":";
    j.number(snapshot.datagramsRetransmitted);
    j.out += ",\"givenUp\":";
    j.number(snapshot.textsGivenUp);
    j.out += "},\"feeds\":{";
    for (int f = 0; f < FeedStatus::Count; ++f) {
        if (f)
            j.out += ',';
        j.key(FeedStatus::name(FeedStatus::Feed(f)));
        feedObject(j, snapshot.feeds[size_t(f)]);
    }
    j.out += "},\"clocks\":[";
    for (size_t c = 0; c < snapshot.clocks.size(); ++c) {
        if (c)
            j.out += ',';
        clockObject(j, snapshot.clocks[c]);
    }
    j.out += "]}\n";
    return j.out;
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
    if (since < 0 || since >= HeartbeatSeconds)
        return true;
    return changed && since >= minimumSecondsBetweenWrites(clocks);
}

QHash<quint32, ClockState> readBack(const QString& path)
{
    QHash<quint32, ClockState> clocks;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return clocks;
    const QJsonArray list = QJsonDocument::fromJson(file.readAll()).object().value("clocks").toArray();
    for (const QJsonValue& entry : list) {
        bool isIPv4 = false;
        const quint32 key = QHostAddress(entry["address"].toString()).toIPv4Address(&isIPv4);
        if (!isIPv4)
            continue;
        ClockState clock;
        clock.lastAnswered = readTime(entry["lastAnswered"]);
        const QJsonArray variables = entry["variables"].toArray();
        bool any = clock.lastAnswered.isValid();
        for (int v = 0; v < qMin(variables.size(), ClockState::Variables); ++v) {
            ClockVariableState& variable = clock.variables[size_t(v)];
            variable.acknowledged = variables[v]["acknowledged"].toString();
            variable.acknowledgedAt = readTime(variables[v]["acknowledgedAt"]);
            any |= !variable.acknowledged.isEmpty();
        }
        if (any)
            clocks.insert(key, clock);
    }
    return clocks;
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

void StatusFileWriter::submit(SharedSnapshot snapshot)
{
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> lock(pendingMutex);
        wasEmpty = !pending;
        pending = std::move(snapshot);
    }
    if (wasEmpty)
        emit pendingWaiting();
}

void StatusFileWriter::writeNow(const StatusSnapshot& snapshot)
{
    {
        std::lock_guard<std::mutex> lock(pendingMutex);
        pending.reset();  // older than this one
    }
    writeOne(snapshot, true);
}

void StatusFileWriter::writePending()
{
    SharedSnapshot taken;
    {
        std::lock_guard<std::mutex> lock(pendingMutex);
        taken.swap(pending);
    }
    if (taken)
        writeOne(*taken, false);
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
