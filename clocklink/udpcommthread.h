#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QThread>
#include <atomic>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QUdpSocket;

// One clock datagram waiting for its acknowledgement.
struct udpQueueStruct
{
    QByteArray data;
    int length = 0;
    QHostAddress addr;
    int port = 0;
    int retries = 0;
    bool firstSendPending = false;
    QElapsedTimer timer;
    int initialDelay = 0;
    int interval = 0;
};

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
};
Q_DECLARE_METATYPE(httpQueueStruct*)

// The program's link to the clocks: the UDP socket on port 7372, the
// retransmit queue, and the queue of web requests to clocks.
class UDPCommThread : public QThread
{
    Q_OBJECT

public:
    UDPCommThread();
    ~UDPCommThread() override;

    // Creates what the link owns (socket, network access manager, timer) now
    // that the application object exists, binds port 7372, then starts the
    // worker loop.
    void start(QThread::Priority priority = QThread::InheritPriority);

    void SendUDP(QByteArray data, int length, QHostAddress addr, int port, bool queue,
                 int initialDelay, int extraInterval);
    void SetRetryParameters(int maxRetries, int retryInterval);
    void StopThread();

    void QueueDeviceNameUpdate(QString ipAddress, QString payload, bool waitForIdle);
    void QueueWebDataRequest(QString ipAddress, QString path, bool waitForIdle);
    void SetDevicePassword(QString password);
    int GetHttpQueueTotal();
    int GetHttpQueueSize();

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
    std::atomic<bool> runFlag{false};
    QUdpSocket* udpSocket = nullptr;
    QList<udpQueueStruct*> udpQueue;
    QList<httpQueueStruct*> httpQueue;
    int maxRetries = 3;
    int retryInterval = 50;
    QString devicePassword;
    QNetworkAccessManager* httpManager = nullptr;
    int httpQueueTotal = 0;
    QTimer* progressTimer = nullptr;
};

// The one link to the clocks, shared by the whole program.
extern UDPCommThread commThread;
