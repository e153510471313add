#include "clocklink/udpcommthread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkDatagram>
#include <QNetworkReply>
#include <QTimer>
#include <QUdpSocket>

#include "clocklink/clockdatagram.h"

UDPCommThread commThread;

// The global instance is built before the application object exists, so the
// constructor makes connections only: nothing here may need an event
// dispatcher. start() creates the rest.
UDPCommThread::UDPCommThread()
    : QThread(nullptr)
{
    connect(this, &UDPCommThread::UDPTx, this, &UDPCommThread::udpSocketSend);
    // The worker owns the socket, so it reads the replies itself.
    connect(this, &UDPCommThread::UDPRx, this, &UDPCommThread::readUDPResponses,
            Qt::DirectConnection);
    connect(this, &UDPCommThread::httpUpdateDeviceName, this, &UDPCommThread::UpdateDeviceName);
    connect(this, &UDPCommThread::httpGetWebData, this, &UDPCommThread::GetWebPageData);
    connect(this, &UDPCommThread::startTimer, this, &UDPCommThread::startTimerFunc);
}

UDPCommThread::~UDPCommThread()
{
    runFlag = false;
    if (isRunning())
        wait();
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

void UDPCommThread::SendUDP(QByteArray data, int length, QHostAddress addr, int port, bool queue,
                            int initialDelay, int extraInterval)
{
    if (queue) {
        auto* record = new udpQueueStruct;
        record->data = data;
        record->length = length;
        record->addr = addr;
        record->port = port;
        record->retries = 0;
        record->timer.start();
        record->firstSendPending = initialDelay > 0;
        record->initialDelay = initialDelay;
        record->interval = extraInterval + retryInterval;
        udpQueue.append(record);
    }
    if (initialDelay == 0)
        emit UDPTx(data, length, addr, port);
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
    wait();
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

void UDPCommThread::udpSocketSend(QByteArray data, int length, QHostAddress addr, int port)
{
    if (QThread::currentThread() == this && udpSocket) {
        writeDatagram(data, length, addr, port);
        return;
    }
    // Only the worker touches the socket: it sends this on its next pass.
    std::lock_guard<std::mutex> lock(outboxMutex);
    outbox.append({data, length, addr, port});
}

void UDPCommThread::writeDatagram(const QByteArray& data, int length, const QHostAddress& addr,
                                  int port)
{
    // An address that did not parse cannot be sent to; the record runs its
    // schedule and is given up like one for a silent clock.
    if (addr.isNull())
        return;
    const int bytes = qBound(0, length, data.size());
    udpSocket->writeDatagram(data.constData(), bytes, addr, quint16(port));
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
}

void UDPCommThread::readUDPResponses()
{
    if (QThread::currentThread() != this || !udpSocket
        || udpSocket->state() != QAbstractSocket::BoundState)
        return;
    while (udpSocket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = udpSocket->receiveDatagram();
        if (!datagram.isValid())
            break;
        if (ClockDatagram::isAcknowledgement(datagram.data()))
            udpQueue.acknowledge(datagram.senderAddress());
    }
}

void UDPCommThread::run()
{
    qDebug("Starting UDPCommThread...");
    runFlag = true;
    int httpInFlight = 0;

    // The socket lives and dies in this thread; nothing else uses it. Any
    // address: IPv4 and IPv6. Address reuse is the Windows default and lets a
    // clock simulator on the same host share port 7372 elsewhere too; a bind
    // that fails is not reported (datagrams then go out from another port).
    udpSocket = new QUdpSocket;
    udpSocket->bind(QHostAddress::Any, CLOCK_UDP_PORT, QAbstractSocket::ReuseAddressHint);
    // Clocks answer a burst at once: 100 clocks x 5 variables are 500
    // acknowledgements within a few ms. The usual default receive buffer
    // holds fewer than 300 such datagrams, and each one dropped costs a
    // needless retransmission 100 ms later. The system may cap the size.
    udpSocket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);
    {
        std::lock_guard<std::mutex> lock(socketReadyMutex);
        socketReady = true;
    }
    socketReadyCondition.notify_all();

    const RetransmitQueue::Transmit transmit = [this](const udpQueueStruct& record) {
        writeDatagram(record.data, record.length, record.addr, record.port);
    };

    while (runFlag) {
        flushOutbox();
        if (udpSocket->state() == QAbstractSocket::BoundState && udpSocket->hasPendingDatagrams())
            emit UDPRx();
        udpQueue.service(maxRetries, transmit);
        serviceHttpQueue(httpInFlight);
        msleep(5);
    }

    delete udpSocket;
    udpSocket = nullptr;
    qDebug("UDP Thread Ended");
}
