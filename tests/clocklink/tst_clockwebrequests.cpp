#include <QtTest>

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QRegularExpression>

#include "clocklink/udpcommthread.h"
#include "support/clockportlock.h"
#include "support/substitutewebserver.h"
#include "support/testmain.h"

namespace {

const char* const NoMatchLine = "DIDN'T FIND ORIGINAL UPDATE REQUEST TO TERMINATE!!!";

SubstituteWebServer::Reply page(const QByteArray& body, bool hold = false)
{
    SubstituteWebServer::Reply reply;
    reply.contentType = "text/html";
    reply.body = body;
    reply.hold = hold;
    return reply;
}

}  // namespace

class ClockWebRequestsTest : public QObject
{
    Q_OBJECT

private:
    SubstituteWebServer* server = nullptr;
    UDPCommThread* link = nullptr;
    QString clockAddress;  // "127.0.0.2:port", as a record carries it

private slots:
    void initTestCase() { static ClockPortLock lock; }

    void init()
    {
        server = new SubstituteWebServer(SubstituteWebServer::Mode::Http);
        QVERIFY(server->start(QHostAddress("127.0.0.2")));
        clockAddress = QString("127.0.0.2:%1").arg(server->serverPort());
        server->setHandler([](const SubstituteWebServer::Request&) { return page("ok"); });
        link = new UDPCommThread;
        link->start(QThread::NormalPriority);
    }

    void cleanup()
    {
        link->StopThread();
        delete link;
        link = nullptr;
        delete server;
        server = nullptr;
    }

    void requestCarriesMethodPathBodyAndHeaders_data()
    {
        addColumns<bool, QString, QString, QByteArray, QByteArray, QByteArray, QByteArray>(
            {"post", "payload", "password", "method", "target", "body", "authorization"});
        dataRow("device name update, empty password", true, "devicename=Lobby Clock", "", QByteArray("POST"),
                QByteArray("/etc/parameters"), QByteArray("devicename=Lobby Clock"),
                QByteArray("Basic d41d8cd98f00b204e9800998ecf8427e"));
        dataRow("page read, password set", false, "/status.html", "secret", QByteArray("GET"),
                QByteArray("/status.html"), QByteArray(), QByteArray("Basic 5ebe2294ecd0e0f08eab7690d2a6ee69"));
    }
    void requestCarriesMethodPathBodyAndHeaders()
    {
        QFETCH(bool, post);
        QFETCH(QString, payload);
        QFETCH(QString, password);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, authorization);
        if (!password.isEmpty())
            link->SetDevicePassword(password);
        if (post)
            link->QueueDeviceNameUpdate(clockAddress, payload, false);
        else
            link->QueueWebDataRequest(clockAddress, payload, false);

        QTRY_COMPARE_WITH_TIMEOUT(server->requests.size(), 1, 20000);
        const SubstituteWebServer::Request request = server->requests.first();
        QCOMPARE(request.method, method);
        QCOMPARE(request.target, target);
        QCOMPARE(request.body, body);
        QCOMPARE(request.headers.value("authorization"), authorization);
        QCOMPARE(request.headers.value("content-type"), QByteArray("text/plain;charset=UTF-8"));
        QTRY_COMPARE_WITH_TIMEOUT(link->GetHttpQueueSize(), 0, 20000);
    }

    void pageReadIsReportedUpToTheFirstZeroByte()
    {
        server->setHandler([](const SubstituteWebServer::Request&) { return page(QByteArray("temp=21\0rest", 12)); });
        QSignalSpy responses(link, &UDPCommThread::GetResponse);
        link->QueueWebDataRequest(clockAddress, "/vars.html", false);
        QTRY_COMPARE_WITH_TIMEOUT(responses.count(), 1, 20000);
        QCOMPARE(responses.first(), (QVariantList{clockAddress, "/vars.html", "temp=21"}));
        QTRY_COMPARE_WITH_TIMEOUT(link->GetHttpQueueSize(), 0, 20000);
    }

    void postReportsTwentyUpValueOnly_data()
    {
        QTest::addColumn<QString>("payload");
        QTest::addColumn<QVariantList>("response");
        dataRow("twentyup checked", "twentyup_checked=1", QVariantList{"twentyup_checked=", "1"});
        dataRow("twentyup cleared", "twentyup_checked=0", QVariantList{"twentyup_checked=", "0"});
        dataRow("other parameter", "devicename=Hall", QVariantList{});
        dataRow("prefix in other case", "TWENTYUP_CHECKED=1", QVariantList{});
    }
    void postReportsTwentyUpValueOnly()
    {
        QFETCH(QString, payload);
        QFETCH(QVariantList, response);
        QSignalSpy responses(link, &UDPCommThread::GetResponse);
        link->QueueDeviceNameUpdate(clockAddress, payload, false);
        // Once the record is complete its reply has been handled.
        QTRY_COMPARE_WITH_TIMEOUT(server->requests.size(), 1, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(link->GetHttpQueueSize(), 0, 20000);
        if (response.isEmpty()) {
            QCOMPARE(responses.count(), 0);
        } else {
            QCOMPARE(responses.count(), 1);
            QCOMPARE(responses.first(), QVariantList{clockAddress} + response);
        }
    }

    void requestsGoOutOneAtATimeInOrder()
    {
        // Each reply is held back a while; a request that arrives before the
        // previous reply was released breaks the order.
        int released = 0;
        bool early = false;
        server->setHandler([&](const SubstituteWebServer::Request&) {
            if (server->requests.size() != released + 1)
                early = true;
            QTimer::singleShot(200, server, [&] {
                ++released;
                server->releaseHeld();
            });
            return page("ok", true);
        });
        link->QueueWebDataRequest(clockAddress, "/one.html", false);
        link->QueueDeviceNameUpdate(clockAddress, "devicename=Two", true);
        link->QueueWebDataRequest(clockAddress, "/three.html", false);

        QTRY_COMPARE_WITH_TIMEOUT(link->GetHttpQueueSize(), 0, 30000);
        QCOMPARE(server->requests.size(), 3);
        QVERIFY(!early);
        QCOMPARE(server->requests.at(0).target, QByteArray("/one.html"));
        QCOMPARE(server->requests.at(1).target, QByteArray("/etc/parameters"));
        QCOMPARE(server->requests.at(2).target, QByteArray("/three.html"));
    }

    void progressOverABatchOfThree()
    {
        QSignalSpy progSet(link, &UDPCommThread::progSet);
        QList<int> values;
        QList<qint64> times;
        QElapsedTimer clock;
        clock.start();
        connect(link, &UDPCommThread::progVal, this, [&](int value) {
            values.append(value);
            times.append(clock.elapsed());
        });
        link->QueueWebDataRequest(clockAddress, "/a.html", false);
        link->QueueWebDataRequest(clockAddress, "/b.html", false);
        link->QueueDeviceNameUpdate(clockAddress, "devicename=C", false);
        QCOMPARE(link->GetHttpQueueTotal(), 3);

        QTRY_COMPARE_WITH_TIMEOUT(values.size(), 4, 30000);
        QCOMPARE(progSet.count(), 3);
        QCOMPARE(progSet.at(0), (QVariantList{0, 1}));
        QCOMPARE(progSet.at(1), (QVariantList{0, 2}));
        QCOMPARE(progSet.at(2), (QVariantList{0, 3}));
        QCOMPARE(values, (QList<int>{1, 2, 3, 0}));
        // The display is reset three seconds after the last completion, not at
        // once (a coarse timer may fire up to 5% early).
        QVERIFY2(times.at(3) - times.at(2) >= 2500, qPrintable(QString::number(times.at(3) - times.at(2))));
        QCOMPARE(link->GetHttpQueueTotal(), 0);
    }

    void replyMatchingNoRecord()
    {
        // A request is in flight for another page of the same clock.
        server->setHandler([](const SubstituteWebServer::Request& request) {
            return page("body of " + request.target, request.target == "/held.html");
        });
        link->QueueWebDataRequest(clockAddress, "/held.html", false);
        QTRY_COMPARE_WITH_TIMEOUT(server->heldCount(), 1, 20000);

        QSignalSpy responses(link, &UDPCommThread::GetResponse);
        QNetworkAccessManager manager;
        QPointer<QNetworkReply> reply = manager.get(QNetworkRequest(QUrl("http://" + clockAddress + "/orphan.html")));
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 20000);
        QTest::ignoreMessage(QtDebugMsg, NoMatchLine);
        QVERIFY(QMetaObject::invokeMethod(link, "onfinish", Qt::DirectConnection, Q_ARG(QNetworkReply*, reply.data())));
        // A page read is reported even when it matches nothing.
        QCOMPARE(responses.count(), 1);
        QCOMPARE(responses.first(), (QVariantList{clockAddress, "/orphan.html", "body of /orphan.html"}));
        QCOMPARE(link->GetHttpQueueSize(), 1);
        // The handled reply is released.
        QTRY_VERIFY(reply.isNull());

        server->releaseHeld();
        QTRY_COMPARE_WITH_TIMEOUT(link->GetHttpQueueSize(), 0, 20000);
        QCOMPARE(responses.count(), 2);
    }

    void postReplyWithNoUpdateInFlightMatchesNothing()
    {
        QNetworkAccessManager manager;
        QNetworkRequest request(QUrl("http://" + clockAddress + "/etc/parameters"));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "text/plain");
        QPointer<QNetworkReply> reply = manager.post(request, QByteArray("x=1"));
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 20000);
        QSignalSpy responses(link, &UDPCommThread::GetResponse);
        QTest::ignoreMessage(QtDebugMsg, NoMatchLine);
        QVERIFY(QMetaObject::invokeMethod(link, "onfinish", Qt::DirectConnection, Q_ARG(QNetworkReply*, reply.data())));
        QCOMPARE(responses.count(), 0);
        QTRY_VERIFY(reply.isNull());
    }

    void queryPathNoLongerBlocksTheNextRequest()
    {
        link->SetHttpTimeLimit(1000);
        QList<int> values;
        connect(link, &UDPCommThread::progVal, this, [&](int value) { values.append(value); });
        QSignalSpy responses(link, &UDPCommThread::GetResponse);
        // The reply's address then carries the query and matches nothing.
        QTest::ignoreMessage(QtDebugMsg, NoMatchLine);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Web request 127\\.0\\.0\\.2:\\d+ /page\\?x=1 got no "
                                                            "matching reply within 1000 ms; given up\\.$"));
        link->QueueWebDataRequest(clockAddress, "/page?x=1", false);
        link->QueueWebDataRequest(clockAddress, "/next.html", false);

        QTRY_COMPARE_WITH_TIMEOUT(link->GetHttpQueueSize(), 0, 30000);
        QCOMPARE(server->requests.size(), 2);
        QCOMPARE(server->requests.at(0).target, QByteArray("/page?x=1"));
        QCOMPARE(server->requests.at(1).target, QByteArray("/next.html"));
        QTRY_COMPARE_WITH_TIMEOUT(values.size(), 2, 20000);
        QCOMPARE(values, (QList<int>{1, 2}));
        QCOMPARE(responses.last(), (QVariantList{clockAddress, "/next.html", "ok"}));
    }

    void silentClockIsGivenUpAndItsLateReplyCompletesNothing()
    {
        link->SetHttpTimeLimit(1000);
        // The first read of the page is never answered; the second is.
        server->setHandler([&](const SubstituteWebServer::Request&) {
            return server->requests.size() == 1 ? page("never", true) : page("second");
        });
        QSignalSpy responses(link, &UDPCommThread::GetResponse);
        link->QueueWebDataRequest(clockAddress, "/slow.html", false);
        link->QueueWebDataRequest(clockAddress, "/slow.html", false);

        QTRY_COMPARE_WITH_TIMEOUT(link->GetHttpQueueSize(), 0, 30000);
        QCOMPARE(server->requests.size(), 2);
        // Every GET reply is announced, the given-up one's too when its own
        // time limit cuts it off (with no body), before or after the second
        // reply; the only page read is the second one.
        QList<QVariantList> pagesRead;
        for (const QVariantList& response : qAsConst(responses))
            if (!response.at(2).toString().isEmpty())
                pagesRead << response;
        QCOMPARE(pagesRead, (QList<QVariantList>{{clockAddress, "/slow.html", "second"}}));
    }

    void stopWithRequestInFlightThenRestart()
    {
        server->setHandler(
            [&](const SubstituteWebServer::Request& request) { return page("ok", request.target == "/held.html"); });
        link->QueueWebDataRequest(clockAddress, "/held.html", false);
        QTRY_COMPARE_WITH_TIMEOUT(server->heldCount(), 1, 20000);
        link->StopThread();
        QCOMPARE(link->GetHttpQueueSize(), 0);
        QCOMPARE(link->GetHttpQueueTotal(), 0);

        link->start(QThread::NormalPriority);
        link->QueueWebDataRequest(clockAddress, "/after.html", false);
        QTRY_COMPARE_WITH_TIMEOUT(link->GetHttpQueueSize(), 0, 20000);
        QCOMPARE(server->requests.last().target, QByteArray("/after.html"));
    }
};

CORVELTA_TEST_MAIN(ClockWebRequestsTest)
#include "tst_clockwebrequests.moc"
