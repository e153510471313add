// SKELETON STUB: replaced by the real clock link.
#include "udpcommthread.h"

#include <QNetworkReply>

UDPCommThread commThread;

UDPCommThread::UDPCommThread() {}
UDPCommThread::~UDPCommThread() {}
void UDPCommThread::start(QThread::Priority priority) { runFlag = true; QThread::start(priority); }
void UDPCommThread::SendUDP(QByteArray, int, QHostAddress, int, bool, int, int) {}
void UDPCommThread::SetRetryParameters(int m, int r) { maxRetries = m; retryInterval = r; }
void UDPCommThread::StopThread()
{
    runFlag = false;
    wait();
}
void UDPCommThread::QueueDeviceNameUpdate(QString, QString, bool) {}
void UDPCommThread::QueueWebDataRequest(QString, QString, bool) {}
void UDPCommThread::SetDevicePassword(QString password) { devicePassword = password; }
int UDPCommThread::GetHttpQueueTotal() { return httpQueueTotal; }
int UDPCommThread::GetHttpQueueSize() { return httpQueue.size(); }
void UDPCommThread::udpSocketSend(QByteArray, int, QHostAddress, int) {}
void UDPCommThread::readUDPResponses() {}
void UDPCommThread::UpdateDeviceName(httpQueueStruct*) {}
void UDPCommThread::GetWebPageData(httpQueueStruct*) {}
void UDPCommThread::onfinish(QNetworkReply*) {}
void UDPCommThread::progressTimeout() { emit progVal(0); }
void UDPCommThread::startTimerFunc(int) {}
void UDPCommThread::run()
{
    while (runFlag)
        msleep(5);
}
