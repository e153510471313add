#include "clocklink/udpcommthread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <chrono>
#include <thread>

#include "clocklink/clockdatagram.h"
#include "clocklink/clocksocket.h"

UDPCommThread commThread;

void queueClockVar(const QString& address, int var, const QString& text)
{
    quint32 ipv4 = 0;
    if (!clockAddressValue(address, &ipv4)) {
        commThread.CheckClockAddress(address);
        return;
    }
    const QByteArray datagram = ClockDatagram::build(var, text);
    commThread.SendUDP(datagram, datagram.size(), QHostAddress(ipv4), CLOCK_UDP_PORT, true, 200, 0);
}

// The global instance is built before the application object exists, so the
// constructor makes connections only: nothing here may need an event
// dispatcher. start() creates the rest.
UDPCommThread::UDPCommThread()
    : QThread(nullptr)
{
    connect(this, &UDPCommThread::UDPTx, this, &UDPCommThread::udpSocketSend);
    // The worker owns the socket, so it reads the replies itself.
    connect(this, &UDPCommThread::UDPRx, this, &UDPCommThread::readUDPResponses, Qt::DirectConnection);
    connect(this, &UDPCommThread::httpUpdateDeviceName, this, &UDPCommThread::UpdateDeviceName);
    connect(this, &UDPCommThread::httpGetWebData, this, &UDPCommThread::GetWebPageData);
    connect(this, &UDPCommThread::startTimer, this, &UDPCommThread::startTimerFunc);
    udpQueue.setReportingEvents(true);
}

UDPCommThread::~UDPCommThread()
{
    runFlag = false;
    if (isRunning()) {
        quit();
        wait();
    }
    joinWorkerEnd();
    clearHttpQueue();
    // The retransmit queue deletes its own records.
}

void UDPCommThread::start(QThread::Priority priority)
{
    if (isRunning())
        return;
    // The loop hands records to the request slots through queued signals,
    // and SendUDP may be called from a thread of its own.
    qRegisterMetaType<httpQueueStruct*>("httpQueueStruct*");
    qRegisterMetaType<QHostAddress>("QHostAddress");
    qRegisterMetaType<ClockLinkEvents>("ClockLinkEvents");
    if (!httpManager) {
        httpManager = new QNetworkAccessManager(this);
        connect(httpManager, &QNetworkAccessManager::finished, this, &UDPCommThread::onfinish);
    }
    if (!progressTimer) {
        progressTimer = new QTimer(this);
        connect(progressTimer, &QTimer::timeout, this, &UDPCommThread::progressTimeout);
        progressTimer->setSingleShot(true);
    }
    QThread::start(priority);
    // Port 7372 is bound (or the bind has failed) before the caller goes on;
    // a thread that could not be created never signals.
    std::unique_lock<std::mutex> lock(socketReadyMutex);
    while (!socketReadyCondition.wait_for(lock, std::chrono::milliseconds(50), [this] { return socketReady; })) {
        if (!isRunning())
            break;
    }
    socketReady = false;
}

void UDPCommThread::SendUDP(QByteArray data, int length, QHostAddress addr, int port, bool queue, int initialDelay,
                            int extraInterval)
{
    if (queue) {
        auto* record = new udpQueueStruct;
        record->data = data;
        record->length = length;
        record->addr = addr;
        record->port = port;
        record->retries = 0;
        record->timer.start();
        record->firstSendPending = true;
        record->initialDelay = qMax(0, initialDelay);
        record->interval = extraInterval + retryInterval;
        // The queue makes every transmission of a queued record, the first
        // one too (at once when the delay is 0 and nothing else of that
        // clock is in flight), so one datagram per clock is in flight. An
        // address that is not IPv4 is refused: nothing is sent to it.
        // The worker is woken only when the record is due before anything
        // it already waits for, so a round queued at once wakes it once.
        bool earliest = false;
        if (udpQueue.append(record, &earliest) && earliest)
            requestWake();
        return;
    }
    if (initialDelay == 0)
        emit UDPTx(data, length, addr, port);
}

bool UDPCommThread::CheckClockAddress(const QString& addressText)
{
    if (isClockAddressText(addressText))
        return true;
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(addressMutex);
        if (!reportedAddresses.contains(addressText)) {
            reportedAddresses.insert(addressText);
            first = true;
        }
    }
    if (first)
        emit clockLinkMessage(QString::asprintf("Clock address \"%s\" is not an IPv4 address; nothing is sent to it",
                                                qUtf8Printable(addressText)));
    return false;
}

void UDPCommThread::SetRetryParameters(int maxRetries, int retryInterval)
{
    this->maxRetries = maxRetries;
    this->retryInterval = retryInterval;
}

void UDPCommThread::StopThread()
{
    const bool wasStarted = isRunning() || isFinished();
    runFlag = false;
    // Ends the worker's event loop at its next turn (or at once, should it
    // not have entered it yet); reading is bounded per turn, so this holds
    // under a flood of datagrams too.
    quit();
    wait();
    joinWorkerEnd();
    qDebug("UDPCommThread has ended.");
    if (!wasStarted)
        return;

    // Requests and timer starts the loop posted before it ended must not
    // reach objects released below.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    if (httpManager) {
        disconnect(httpManager, nullptr, this, nullptr);
        delete httpManager;
        httpManager = nullptr;
    }
    delete progressTimer;
    progressTimer = nullptr;

    // Whatever was still waiting is abandoned; a later start begins afresh.
    udpQueue.clear();
    clearHttpQueue();
    std::lock_guard<std::mutex> lock(outboxMutex);
    outbox.clear();
}

int UDPCommThread::GetUdpQueueSize() const
{
    return udpQueue.size();
}

RetransmitQueue::Counters UDPCommThread::GetUdpCounters() const
{
    return udpQueue.counters();
}

void UDPCommThread::SetAcknowledgementObserver(RetransmitQueue::AcknowledgementObserver observer)
{
    udpQueue.setAcknowledgementObserver(std::move(observer));
}

qint64 UDPCommThread::GetWakeUps() const
{
    return wakeUps;
}

qint64 UDPCommThread::GetSocketCalls() const
{
    return socketCalls;
}

qint64 UDPCommThread::GetReceiveBufferSize() const
{
    return receiveBufferGranted;
}

RetransmitQueue::ClockTiming UDPCommThread::GetClockTiming(const QHostAddress& clock) const
{
    return udpQueue.timing(clock);
}

void UDPCommThread::ForgetUnlistedClocks(const QStringList& listedClocks)
{
    QList<QHostAddress> listed;
    for (const QString& address : listedClocks)
        listed << QHostAddress(address);
    udpQueue.forgetKeptTexts(listed);
}

void UDPCommThread::requestWake()
{
    if (wakePending.exchange(true))
        return;  // a wake-up is already on its way
    std::lock_guard<std::mutex> lock(wakeMutex);
    if (workerContext)
        QMetaObject::invokeMethod(workerContext, "wake", Qt::QueuedConnection);
    else
        wakePending = false;  // not running: run() looks at everything when it starts
}

void UDPCommThread::udpSocketSend(QByteArray data, int length, QHostAddress addr, int port)
{
    if (QThread::currentThread() == this && udpSocket) {
        writeDatagram(data, length, addr, port);
        udpSocket->flush();
        return;
    }
    // Only the worker touches the socket: it sends this when it wakes.
    {
        std::lock_guard<std::mutex> lock(outboxMutex);
        outbox.append({data, length, addr, port});
    }
    requestWake();
}

void UDPCommThread::writeDatagram(const QByteArray& data, int length, const QHostAddress& addr, int port)
{
    // An address that did not parse cannot be sent to (the socket skips
    // it); the record runs its schedule and is given up like one for a
    // silent clock. Written with the socket's next batch.
    udpSocket->send(data, length, addr, quint16(port));
}

void UDPCommThread::flushOutbox()
{
    QList<OutgoingDatagram> pending;
    {
        std::lock_guard<std::mutex> lock(outboxMutex);
        pending.swap(outbox);
    }
    for (const OutgoingDatagram& datagram : pending)
        writeDatagram(datagram.data, datagram.length, datagram.addr, datagram.port);
    udpSocket->flush();
}

namespace {

// Datagrams read at a time at most (or one per clock with records waiting,
// if that is more), so that a flood of them never keeps the worker from its
// timer and from a stop request.
constexpr int MaxReadsPerWake = 256;

// Below this the worker waits out the rest itself instead of setting its
// timer, whose resolution is one millisecond (nanoseconds).
constexpr qint64 FineWaitNs = 1500000;

// Transmissions made at most before the answers that have come in are read:
// a burst of sends to many clocks brings a burst of answers, which the
// socket's buffer must not have to hold all at once. One batch of the socket.
constexpr int SendsBetweenReads = ClockSocket::BatchSize;

// Reading a batch that took longer than this (nanoseconds) is followed by
// another read, even if the batch was not full.
constexpr qint64 SlowBatchNs = 1000000;

// The receive buffer asked for: at least this, about this much per clock
// with a datagram in flight, at most this (bytes).
constexpr qint64 MinReceiveBuffer = 1 << 20;
constexpr qint64 ReceiveBufferPerClock = 2048;
constexpr qint64 MaxReceiveBuffer = 64 << 20;

}  // namespace

void UDPCommThread::readUDPResponses()
{
    if (QThread::currentThread() != this || !udpSocket)
        return;
    // More may be waiting: read them on the next turn of the event loop,
    // after the timer and a stop request have had theirs.
    const int most = readLimit();
    if (readAnswers(most) == most)
        requestWake();
}

int UDPCommThread::readLimit() const
{
    return qMax(MaxReadsPerWake, udpQueue.busyClocks());
}

int UDPCommThread::readAnswers(int most)
{
    const ClockSocket::Take take = [this](quint32 sender, bool isIPv4, const QByteArray& data) {
        if (!ClockDatagram::isAcknowledgement(data))
            return;
        if (isIPv4)
            udpQueue.acknowledge(sender, data);
        else
            udpQueue.acknowledge(QHostAddress(), data);  // no clock: a stray
    };
    // Batch by batch, until none is left waiting: a batch not full says so,
    // unless taking it took long (the worker was kept from running), and
    // more may have come meanwhile. A stop request ends the reading at
    // once: under a flood, on a slow machine, even a bounded share takes
    // long.
    int read = 0;
    while (read < most && runFlag) {
        const int wanted = qMin(most - read, int(ClockSocket::BatchSize));
        const qint64 start = udpQueue.now();
        const int got = udpSocket->read(wanted, take);
        read += got;
        if (got < wanted && (got == 0 || udpQueue.now() - start < SlowBatchNs))
            break;
    }
    return read;
}

void UDPCommThread::growReceiveBuffer(int busyClocks)
{
    // Each clock has one datagram in flight, so at most about one answer per
    // busy clock arrives at once (late duplicates aside); a small datagram
    // takes about a kilobyte of the socket's buffer. Asked for once the
    // clocks outgrow it; the system may grant less.
    const qint64 wanted = qMax<qint64>(MinReceiveBuffer, qint64(busyClocks) * ReceiveBufferPerClock);
    if (wanted <= receiveBufferAsked || receiveBufferAsked >= MaxReceiveBuffer)
        return;
    receiveBufferAsked = qMin<qint64>(qMax(wanted, 2 * receiveBufferAsked), MaxReceiveBuffer);
    receiveBufferGranted = udpSocket->setReceiveBufferSize(receiveBufferAsked);
}

void ClockLinkWaker::wake()
{
    link->wake();
}

void UDPCommThread::wake()
{
    wakePending = false;
    ++wakeUps;
    flushOutbox();

    // The timer wakes the worker up to a millisecond early; the rest is
    // waited here so no transmission goes out before its moment.
    const qint64 due = udpQueue.nextDueNs();
    if (due >= 0) {
        const qint64 left = due - udpQueue.now();
        if (left > 0 && left < FineWaitNs)
            std::this_thread::sleep_for(std::chrono::nanoseconds(left));
    }
    const RetransmitQueue::Transmit transmit = [this](const udpQueueStruct& record) {
        udpSocket->send(record.data, record.length, record.ipv4, quint16(record.port));
    };
    growReceiveBuffer(udpQueue.busyClocks());
    // Everything due, with the answers waiting read first and again before
    // every 64 sends (one batch of the socket), so an answer waiting in the
    // socket (the worker was kept from running, by other work on the
    // machine or by its own long turn) is not followed by a needless
    // retransmission, and a burst of answers to many clocks never has to
    // wait in the socket's buffer all at once. The reads are bounded: a
    // flood at the port neither stops the transmissions nor keeps a stop
    // request waiting; what is left is read at the next wake-up.
    emit UDPRx();
    while (runFlag && udpQueue.service(maxRetries, transmit, SendsBetweenReads)) {
        udpSocket->flush();
        readAnswers(readLimit());
    }
    udpSocket->flush();

    for (const RetransmitQueue::HealthEvent& event : udpQueue.takeHealthEvents()) {
        const QString address = event.clock.toString();
        emit clockAnswering(address, event.answering);
        if (event.logged)
            emit clockLinkMessage(
                QString::asprintf(event.answering ? "Clock %s is answering again" : "Clock %s is not answering",
                                  qUtf8Printable(address)));
    }

    collectClockEvents();

    const qint64 httpDueMs = serviceHttpQueue(httpInFlight);

    // One timer, set for the next moment anything is due.
    qint64 waitMs = -1;
    const qint64 next = udpQueue.nextDueNs();
    if (next >= 0) {
        const qint64 left = next - udpQueue.now();
        // Rounded down: the fine wait above takes the last part.
        waitMs = left <= 0 ? 0 : left / 1000000;
    }
    if (httpDueMs >= 0 && (waitMs < 0 || httpDueMs < waitMs))
        waitMs = httpDueMs;
    if (waitMs >= 0)
        wakeTimer->start(int(qMin<qint64>(waitMs, 24 * 3600 * 1000)));
    else
        wakeTimer->stop();
}

void ClockLinkWaker::sendClockEvents()
{
    link->sendClockEventBatch();
}

void UDPCommThread::collectClockEvents()
{
    std::vector<ClockLinkEvent>& events = takenEvents;
    udpQueue.takeLinkEvents(events);
    if (events.empty())
        return;
    // Grown by doubling: reserving the exact size at every wake-up would copy
    // the whole batch each time.
    const int wanted = clockEventBatch.size() + int(events.size());
    if (wanted > clockEventBatch.capacity())
        clockEventBatch.reserve(qMax(wanted, 2 * clockEventBatch.capacity()));
    for (ClockLinkEvent& event : events)
        clockEventBatch.append(std::move(event));
    if (batchTimer && !batchTimer->isActive())
        batchTimer->start();
}

void UDPCommThread::sendClockEventBatch()
{
    if (clockEventBatch.isEmpty())
        return;
    ClockLinkEvents batch;
    batch.swap(clockEventBatch);
    emit clockEvents(batch);
}

void UDPCommThread::run()
{
    qDebug("Starting UDPCommThread...");
    runFlag = true;
    httpInFlight = 0;

    // The socket lives and dies in this thread; nothing else uses it. Any
    // address: IPv4 and IPv6. Address reuse is the Windows default and lets a
    // clock simulator on the same host share port 7372 elsewhere too; a bind
    // that fails is not reported (datagrams then go out from another port).
    udpSocket = new ClockSocket(&socketCalls);
    udpSocket->bind(CLOCK_UDP_PORT);
    // Clocks answer a burst at once, and each answer dropped at the socket
    // costs a needless retransmission: the buffer grows with the clocks.
    receiveBufferAsked = 0;
    growReceiveBuffer(0);

    // The worker sleeps in its own event loop until a reply arrives, the
    // timer reaches the next due moment, or another thread queues something.
    ClockLinkWaker context(this);
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    wakeTimer = &timer;
    QTimer batch;
    batch.setSingleShot(true);
    batch.setInterval(ClockEventBatchMs);
    batchTimer = &batch;
    connect(&batch, &QTimer::timeout, &context, &ClockLinkWaker::sendClockEvents);
    connect(udpSocket, &ClockSocket::readyRead, &context, &ClockLinkWaker::wake);
    connect(&timer, &QTimer::timeout, &context, &ClockLinkWaker::wake);
    {
        std::lock_guard<std::mutex> lock(wakeMutex);
        workerContext = &context;
    }
    {
        std::lock_guard<std::mutex> lock(socketReadyMutex);
        socketReady = true;
    }
    socketReadyCondition.notify_all();

    // Whatever was queued before the start.
    wake();
    if (runFlag)
        exec();

    {
        std::lock_guard<std::mutex> lock(wakeMutex);
        workerContext = nullptr;
    }
    timer.stop();
    wakeTimer = nullptr;
    // What the last batch held still reaches the window.
    batchTimer = nullptr;
    collectClockEvents();
    sendClockEventBatch();
    delete udpSocket;
    udpSocket = nullptr;
    wakePending = false;
    qDebug("UDP Thread Ended");
    std::lock_guard<std::mutex> end(workerEndMutex);
}

void UDPCommThread::joinWorkerEnd()
{
    std::lock_guard<std::mutex> end(workerEndMutex);
}
