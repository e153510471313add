#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMetaType>
#include <QSet>
#include <QString>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "clocklink/retransmitqueue.h"

class ClockSocket;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// One queued web request to a clock's built-in web interface.
struct httpQueueStruct
{
    QString ipAddress;
    QString payload;
    QElapsedTimer sendTimer;
    bool sent = false;
    bool done = false;
    bool waitForIdle = false;
    int requestKind = 0;  // 1 update device name (POST), 2 get web data (GET)
    // Tells this record's reply from the reply of an earlier record that was
    // given up, so a late reply never completes the request behind it.
    quint64 serial = 0;
};
Q_DECLARE_METATYPE(httpQueueStruct*)

class UDPCommThread;

// Lives in the worker thread: other threads wake the worker by invoking its
// slot by name through a queued call. The call is built and handed over
// inside Qt, so no object of the program's own code crosses threads outside
// a standard lock (a queued lambda would, unseen by the thread checker).
class ClockLinkWaker : public QObject
{
    Q_OBJECT

public:
    explicit ClockLinkWaker(UDPCommThread* link)
        : link(link)
    {}

public slots:
    void wake();
    void sendClockEvents();

private:
    UDPCommThread* link;
};

// The program's link to the clocks: the UDP socket on port 7372, the
// retransmit queue, and the queue of web requests to clocks.
//
// The worker thread runs its own event loop: it wakes when a
// datagram arrives (readyRead), when its one timer reaches the next due
// moment of either queue, or when another thread queues something; it never
// polls. Each wake-up first reads the answers waiting, then sends what is
// due, reading again before every 64 sends, so that an answer waiting is
// never followed by a needless retransmission; every read is bounded (256
// datagrams, or one per clock with records waiting if that is more), so a
// flood at the port cannot keep the timer or StopThread from running. On
// Linux the socket reads and writes up to 64 datagrams per system call
// (ClockSocket).
//
// Threads: the object itself, its network access manager and its progress
// timer live in the application thread; the UDP socket is created, used and
// deleted by the worker thread alone. Everything the two threads share is
// behind a mutex (one per queue, one for the outbox) or atomic. The locks are
// the standard library's, whose ordering the thread checker sees; Qt's own
// mutex works through code the checker cannot see into.
class UDPCommThread : public QThread
{
    Q_OBJECT
    friend class ClockLinkWaker;

public:
    // The clock events of this long at most go to the window as one batch.
    static constexpr int ClockEventBatchMs = 100;

    UDPCommThread();
    ~UDPCommThread() override;

    // Creates what the link owns (network access manager, timer) now that
    // the application object exists, starts the worker loop and returns once
    // the worker has bound port 7372. Does nothing while the loop runs.
    void start(QThread::Priority priority = QThread::InheritPriority);

    void SendUDP(QByteArray data, int length, QHostAddress addr, int port, bool queue, int initialDelay,
                 int extraInterval);
    void SetRetryParameters(int maxRetries, int retryInterval);
    // Ends the worker loop, waits for it, and releases what start() created.
    // Safe to call when the loop is not running.
    void StopThread();

    void QueueDeviceNameUpdate(QString ipAddress, QString payload, bool waitForIdle);
    void QueueWebDataRequest(QString ipAddress, QString path, bool waitForIdle);
    void SetDevicePassword(QString password);
    int GetHttpQueueTotal();
    int GetHttpQueueSize();

    // How long a dispatched web request may wait for its matching reply
    // before it is given up and the queue moves on (milliseconds).
    void SetHttpTimeLimit(int msecs);
    int GetHttpTimeLimit() const;

    // For diagnostics and tests: records waiting for an acknowledgement, and
    // what has become of every record queued so far.
    int GetUdpQueueSize() const;
    RetransmitQueue::Counters GetUdpCounters() const;
    // For diagnostics and tests: how often the worker has woken up since the
    // link was made (it sleeps while nothing is due), and the system calls
    // its socket made to send or receive datagrams.
    qint64 GetWakeUps() const;
    qint64 GetSocketCalls() const;
    // For diagnostics: the receive buffer the system granted the socket
    // (bytes; 0 before the worker has bound it), and what the link has
    // learned of one clock's answer times.
    qint64 GetReceiveBufferSize() const;
    RetransmitQueue::ClockTiming GetClockTiming(const QHostAddress& clock) const;
    // A clock that stopped answering keeps the texts it missed until it
    // answers again; this forgets them for every clock not among
    // `listedClocks` (the address texts of both clock lists), so a clock
    // taken out of both lists is sent nothing more.
    void ForgetUnlistedClocks(const QStringList& listedClocks);
    // The link's monotonic clock (nanoseconds), which its events are timed by.
    qint64 GetClockNowNs() const { return udpQueue.now(); }
    // For tests: sees every acknowledged record with the answer that
    // acknowledged it (called on the worker thread).
    void SetAcknowledgementObserver(RetransmitQueue::AcknowledgementObserver observer);

    // Whether `addressText` is an IPv4 address, the only kind of clock
    // address the link sends to. The first time a given text is not, the
    // link says so once (clockLinkMessage) for the rest of the program's run.
    bool CheckClockAddress(const QString& addressText);

signals:
    void UDPTx(QByteArray data, int length, QHostAddress addr, int port);
    void UDPRx();
    void RXDatagram(QString sourceIP, QByteArray data);
    void GetResponse(QString sourceIP, QString url, QString val);
    void httpUpdateDeviceName(httpQueueStruct* httpData);
    void httpGetWebData(httpQueueStruct* httpData);
    void progSet(int min, int max);
    void progVal(int val);
    void startTimer(int val);
    // A line for the program's log: a clock stopped or started answering
    // again, or a clock address is not usable. Emitted on the worker thread
    // (or the caller's, for the address check); connect it queued.
    void clockLinkMessage(QString line);
    // A clock's state changed: answering (its last datagram acknowledged)
    // or not (its last datagram given up). Emitted on the worker thread.
    void clockAnswering(QString address, bool answering);
    // What the link saw at the clocks (queued, acknowledged, given up,
    // health, answer time), at most one batch every ClockEventBatchMs.
    // Emitted on the worker thread; connect it queued.
    void clockEvents(ClockLinkEvents events);

private slots:
    void udpSocketSend(QByteArray data, int length, QHostAddress addr, int port);
    void readUDPResponses();
    void UpdateDeviceName(httpQueueStruct* httpData);
    void GetWebPageData(httpQueueStruct* httpData);
    void onfinish(QNetworkReply* rep);
    void progressTimeout();
    void startTimerFunc(int val);

protected:
    void run() override;

private:
    struct OutgoingDatagram
    {
        QByteArray data;
        int length = 0;
        QHostAddress addr;
        int port = 0;
    };

    // Worker thread only.
    void writeDatagram(const QByteArray& data, int length, const QHostAddress& addr, int port);
    void flushOutbox();
    // Reads the datagrams waiting, at most `most`, and applies the
    // acknowledgements; returns how many were read.
    int readAnswers(int most);
    // How many datagrams one read takes at most: MaxReadsPerWake, or one per
    // clock with records waiting if that is more.
    int readLimit() const;
    // Asks for a larger receive buffer once the clocks with records
    // waiting need one.
    void growReceiveBuffer(int busyClocks);
    // One wake-up of the worker: queued sends, a bounded read of replies,
    // everything due in the retransmit and web-request queues, then the
    // timer set for the next due moment.
    void wake();
    // The web-request step of one wake-up (dispatch, time limit,
    // completion); httpInFlight is the worker's own count. Returns the
    // milliseconds until a dispatched request reaches its time limit, or -1.
    qint64 serviceHttpQueue(int& httpInFlight);
    // Worker thread: takes the queue's clock events into the next batch,
    // which goes out when the batch timer fires.
    void collectClockEvents();
    void sendClockEventBatch();
    // Any thread: makes the worker wake up soon (something was queued).
    void requestWake();
    // Application thread: sends the request of one dispatched record.
    void sendWebRequest(httpQueueStruct* httpData, bool post);
    void clearHttpQueue();
    // Appends one web request of the given kind and reports the new total.
    void queueHttpRequest(const QString& ipAddress, const QString& payload, bool waitForIdle, int requestKind);

    std::atomic<bool> runFlag{false};
    ClockSocket* udpSocket = nullptr;
    std::atomic<qint64> socketCalls{0};  // counted by the socket
    RetransmitQueue udpQueue;
    QList<httpQueueStruct*> httpQueue;
    std::atomic<int> maxRetries{3};
    std::atomic<int> retryInterval{50};
    QString devicePassword;
    QNetworkAccessManager* httpManager = nullptr;
    int httpQueueTotal = 0;
    QTimer* progressTimer = nullptr;

    // Guards httpQueue, the records' sent and done flags, httpQueueTotal,
    // devicePassword and nextSerial.
    std::mutex httpMutex;
    quint64 nextSerial = 0;
    std::atomic<int> httpTimeLimit{30000};

    // Immediate sends handed from other threads to the worker, which owns
    // the socket; kept until the loop runs.
    std::mutex outboxMutex;
    QList<OutgoingDatagram> outbox;

    // The worker's own objects, made and used in its thread by run().
    ClockLinkWaker* workerContext = nullptr;  // guarded by wakeMutex for other threads
    QTimer* wakeTimer = nullptr;
    QTimer* batchTimer = nullptr;
    ClockLinkEvents clockEventBatch;          // worker thread only
    std::vector<ClockLinkEvent> takenEvents;  // worker thread only, taken from the queue
    int httpInFlight = 0;
    std::mutex wakeMutex;
    std::atomic<bool> wakePending{false};
    std::atomic<qint64> wakeUps{0};
    qint64 receiveBufferAsked = 0;  // worker thread only
    std::atomic<qint64> receiveBufferGranted{0};

    // Address texts already reported as not usable (application thread).
    std::mutex addressMutex;
    QSet<QString> reportedAddresses;

    // Set by the worker once its socket is bound.
    // Taken by the worker after its last write and by whoever waited for it
    // to end: QThread::wait() orders the two, but through code the thread
    // checker cannot see into.
    std::mutex workerEndMutex;
    void joinWorkerEnd();

    std::mutex socketReadyMutex;
    std::condition_variable socketReadyCondition;
    bool socketReady = false;
};

// The one link to the clocks, shared by the whole program.
extern UDPCommThread commThread;

// Queues one variable of one clock on `commThread`: the datagram to port
// 7372, first sent 200 ms later. The address is text only (no name
// resolution) and read once; one that is not IPv4 reaches no clock: nothing
// is queued, and the link logs it once per run.
void queueClockVar(const QString& address, int var, const QString& text);
