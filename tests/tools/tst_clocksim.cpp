// The clock simulator: reading datagrams, acknowledging them, and the clock
// web interface. Its clocks bind loopback on free ports, never port 7372.
#include <QCryptographicHash>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkDatagram>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include "clocksim/clockwebinterface.h"
#include "clocksim/receiveddatagram.h"
#include "clocksim/simulatedclock.h"
#include "support/handwrittendatagram.h"
#include "support/testmain.h"

namespace {

QByteArray md5Authorization(const QByteArray& password)
{
    return "Basic " + QCryptographicHash::hash(password, QCryptographicHash::Md5).toHex();
}

// A program-side socket on loopback that sends to a clock and collects answers.
struct Sender
{
    QUdpSocket socket;
    Sender() { socket.bind(QHostAddress(QHostAddress::LocalHost), 0); }
    void send(const SimulatedClock& clock, const QByteArray& bytes)
    {
        socket.writeDatagram(bytes, QHostAddress::LocalHost, clock.boundPort());
    }
    QList<QNetworkDatagram> drain()
    {
        QList<QNetworkDatagram> answers;
        while (socket.hasPendingDatagrams())
            answers << socket.receiveDatagram();
        return answers;
    }
};

}  // namespace

class TestClockSim : public QObject
{
    Q_OBJECT

private slots:
    void readsGoodDatagrams_data();
    void readsGoodDatagrams();
    void refusesMalformedDatagrams_data();
    void refusesMalformedDatagrams();

    void acknowledgementDecision_data();
    void acknowledgementDecision();

    void acknowledgesGoodDatagramToItsSender();
    void answersMalformedDatagramsWithNothing();
    void marksRepeatsAsUnchanged();
    void silentClockKeepsVariablesButAnswersNothing();
    void dropShareUsesTheDraw();
    void delayedAcknowledgementStillArrives();

    void webInterfaceChecksAuthorization_data();
    void webInterfaceChecksAuthorization();
    void webInterfaceStoresPostedParameters();
    void webInterfaceServesPagesOverHttp();
    void webInterfaceRefusesOversizedRequests();
};

void TestClockSim::readsGoodDatagrams_data()
{
    addColumns<QByteArray, int, QString>({"bytes", "variable", "text"});

    dataRow("temperature", datagram(0, "12 C"), 0, QStringLiteral("12 C"));
    dataRow("empty text, three bytes", datagram(3, ""), 3, QString());
    dataRow("variable 255", datagram(255, "x"), 255, QStringLiteral("x"));
    dataRow("variable 300 arrives as 0x2C", datagram(300 & 0xFF, "y"), 0x2C, QStringLiteral("y"));
    dataRow("multi-byte UTF-8", datagram(4, QStringLiteral("Zürich 5 °C €").toUtf8()), 4,
            QStringLiteral("Zürich 5 °C €"));
    dataRow("four-byte UTF-8", datagram(1, QStringLiteral("sun \U0001F31E").toUtf8()), 1,
            QStringLiteral("sun \U0001F31E"));
    dataRow("ticker with trailing space", datagram(2, "(AAPL) 189.25 "), 2, QStringLiteral("(AAPL) 189.25 "));
}

void TestClockSim::readsGoodDatagrams()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, variable);
    QFETCH(QString, text);

    const ClockDatagramReading reading = ClockDatagramReader::read(bytes);
    QVERIFY2(reading.valid, qPrintable(reading.problem));
    QCOMPARE(reading.variable, variable);
    QCOMPARE(reading.text, text);
    QVERIFY(reading.problem.isEmpty());
}

void TestClockSim::refusesMalformedDatagrams_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("problem");

    dataRow("empty", QByteArray(), QStringLiteral("too short"));
    dataRow("lead byte only", QByteArray("\xBE", 1), QStringLiteral("too short"));
    dataRow("lead and variable only", QByteArray("\xBE\x01", 2), QStringLiteral("too short"));
    dataRow("acknowledgement sent to a clock", QByteArray("A\x00\x00", 3), QStringLiteral("wrong first byte 0x41"));
    dataRow("zero lead byte", QByteArray("\x00\x01x\x00", 4), QStringLiteral("wrong first byte 0x00"));
    dataRow("no terminator",
            QByteArray("\xBE\x01"
                       "abc",
                       5),
            QStringLiteral("no terminator"));
    dataRow("zero inside the text",
            QByteArray("\xBE\x01"
                       "ab\x00"
                       "c\x00",
                       7),
            QStringLiteral("zero byte inside the text"));
    dataRow("invalid byte 0xFF", datagram(0, "\xFF"), QStringLiteral("invalid UTF-8"));
    dataRow("lone continuation byte", datagram(0, "a\x80"), QStringLiteral("invalid UTF-8"));
    dataRow("sequence cut short", datagram(0, "12 \xC2"), QStringLiteral("invalid UTF-8"));
    dataRow("overlong slash", datagram(0, "\xC0\xAF"), QStringLiteral("invalid UTF-8"));
    dataRow("encoded surrogate", datagram(0, "\xED\xA0\x80"), QStringLiteral("invalid UTF-8"));
    dataRow("beyond U+10FFFF", datagram(0, "\xF4\x90\x80\x80"), QStringLiteral("invalid UTF-8"));
}

void TestClockSim::refusesMalformedDatagrams()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, problem);

    const ClockDatagramReading reading = ClockDatagramReader::read(bytes);
    QVERIFY(!reading.valid);
    QVERIFY2(reading.problem.startsWith(problem), qPrintable(reading.problem));
    QVERIFY(reading.text.isEmpty());
}

void TestClockSim::acknowledgementDecision_data()
{
    addColumns<double, int, bool, double, bool, int>(
        {"dropShare", "delayMs", "silent", "draw", "send", "expectedDelay"});

    dataRow("default answers at once", 0.0, 0, false, 0.0, true, 0);
    dataRow("delay carried", 0.0, 250, false, 0.3, true, 250);
    dataRow("silent wins over everything", 0.0, 0, true, 0.99, false, 0);
    dataRow("draw below the share drops", 0.5, 0, false, 0.49, false, 0);
    dataRow("draw at the share answers", 0.5, 0, false, 0.5, true, 0);
    dataRow("share 1 drops every draw", 1.0, 0, false, 0.999999, false, 0);
    dataRow("share 0 never drops", 0.0, 0, false, 0.0, true, 0);
    dataRow("negative delay means none", 0.0, -5, false, 0.0, true, 0);
}

void TestClockSim::acknowledgementDecision()
{
    QFETCH(double, dropShare);
    QFETCH(int, delayMs);
    QFETCH(bool, silent);
    QFETCH(double, draw);
    QFETCH(bool, send);
    QFETCH(int, expectedDelay);

    AcknowledgementPolicy policy;
    policy.dropShare = dropShare;
    policy.delayMs = delayMs;
    policy.silent = silent;
    const AcknowledgementDecision decision = decideAcknowledgement(policy, draw);
    QCOMPARE(decision.send, send);
    if (send)
        QCOMPARE(decision.delayMs, expectedDelay);
    else
        QVERIFY(!decision.reason.isEmpty());
}

void TestClockSim::acknowledgesGoodDatagramToItsSender()
{
    SimulatedClock clock(QHostAddress::LocalHost, 0);
    QVERIFY(clock.bind());
    QSignalSpy received(&clock, &SimulatedClock::variableReceived);
    Sender sender;

    sender.send(clock, datagram(2, "N-11 kmh"));
    QVERIFY(received.wait(10000));
    QCOMPARE(received.at(0).at(0).toInt(), 2);
    QCOMPARE(received.at(0).at(1).toString(), QStringLiteral("N-11 kmh"));
    QCOMPARE(received.at(0).at(2).toBool(), true);
    QCOMPARE(clock.variables().value(2), QStringLiteral("N-11 kmh"));

    QTRY_VERIFY_WITH_TIMEOUT(sender.socket.hasPendingDatagrams(), 10000);
    const QList<QNetworkDatagram> answers = sender.drain();
    QCOMPARE(answers.size(), 1);
    QVERIFY(answers.first().data().startsWith('A'));
    // Sent from the clock's own address and port, to the sender's port.
    QCOMPARE(answers.first().senderAddress().toIPv4Address(), QHostAddress(QHostAddress::LocalHost).toIPv4Address());
    QCOMPARE(quint16(answers.first().senderPort()), clock.boundPort());
    QCOMPARE(clock.counters().acknowledged, 1);
}

void TestClockSim::answersMalformedDatagramsWithNothing()
{
    SimulatedClock clock(QHostAddress::LocalHost, 0);
    QVERIFY(clock.bind());
    QSignalSpy malformed(&clock, &SimulatedClock::malformedReceived);
    QSignalSpy reports(&clock, &SimulatedClock::report);
    Sender sender;

    const QList<QByteArray> bad = {QByteArray("\xBE\x01", 2), QByteArray("A\x00\x00", 3),
                                   QByteArray("\xBE\x01"
                                              "abc",
                                              5),
                                   datagram(0, "\xFF\xFE")};
    for (const QByteArray& bytes : bad)
        sender.send(clock, bytes);
    // One good datagram last: once it is handled, every earlier one was too,
    // and loopback has delivered whatever the clock answered.
    sender.send(clock, datagram(1, "ok"));
    QTRY_COMPARE_WITH_TIMEOUT(clock.counters().datagrams, bad.size() + 1, 10000);

    QCOMPARE(malformed.size(), bad.size());
    QCOMPARE(clock.counters().malformed, bad.size());
    QCOMPARE(sender.drain().size(), 1);  // the good one's acknowledgement only
    QCOMPARE(clock.variables().keys(), QList<int>{1});
    // Each refusal is reported with its reason and its bytes.
    QVERIFY(reports.at(0).at(0).toString().contains(QStringLiteral("too short")));
    QVERIFY(reports.at(0).at(0).toString().contains(QStringLiteral("be 01")));
    QVERIFY(reports.at(3).at(0).toString().contains(QStringLiteral("invalid UTF-8")));
}

void TestClockSim::marksRepeatsAsUnchanged()
{
    SimulatedClock clock(QHostAddress::LocalHost, 0);
    QVERIFY(clock.bind());
    QSignalSpy received(&clock, &SimulatedClock::variableReceived);
    Sender sender;

    sender.send(clock, datagram(0, "12 C"));
    sender.send(clock, datagram(0, "12 C"));  // a retransmission
    sender.send(clock, datagram(0, "13 C"));
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), 3, 10000);
    QCOMPARE(received.at(0).at(2).toBool(), true);
    QCOMPARE(received.at(1).at(2).toBool(), false);
    QCOMPARE(received.at(2).at(2).toBool(), true);
    QCOMPARE(clock.variables().value(0), QStringLiteral("13 C"));
    // Every good datagram is acknowledged, repeats included.
    QTRY_COMPARE_WITH_TIMEOUT(clock.counters().acknowledged, 3, 10000);
}

void TestClockSim::silentClockKeepsVariablesButAnswersNothing()
{
    SimulatedClock clock(QHostAddress::LocalHost, 0);
    QVERIFY(clock.bind());
    AcknowledgementPolicy policy;
    policy.silent = true;
    clock.setPolicy(policy);
    Sender sender;

    sender.send(clock, datagram(4, "65%"));
    QTRY_COMPARE_WITH_TIMEOUT(clock.counters().datagrams, 1, 10000);
    QCOMPARE(clock.variables().value(4), QStringLiteral("65%"));
    QCOMPARE(clock.counters().withheld, 1);
    QCOMPARE(clock.counters().acknowledged, 0);
    QVERIFY(sender.drain().isEmpty());
}

void TestClockSim::dropShareUsesTheDraw()
{
    SimulatedClock clock(QHostAddress::LocalHost, 0);
    QVERIFY(clock.bind());
    AcknowledgementPolicy policy;
    policy.dropShare = 0.5;
    clock.setPolicy(policy);
    QList<double> draws{0.1, 0.9, 0.4};
    clock.setRandomSource([&draws] { return draws.takeFirst(); });
    Sender sender;

    for (int i = 0; i < 3; ++i)
        sender.send(clock, datagram(i, "t"));
    QTRY_COMPARE_WITH_TIMEOUT(clock.counters().datagrams, 3, 10000);
    QCOMPARE(clock.counters().withheld, 2);
    QCOMPARE(clock.counters().acknowledged, 1);
    QCOMPARE(sender.drain().size(), 1);
}

void TestClockSim::delayedAcknowledgementStillArrives()
{
    SimulatedClock clock(QHostAddress::LocalHost, 0);
    QVERIFY(clock.bind());
    AcknowledgementPolicy policy;
    policy.delayMs = 150;
    clock.setPolicy(policy);
    Sender sender;

    sender.send(clock, datagram(0, "late"));
    QTRY_VERIFY_WITH_TIMEOUT(sender.socket.hasPendingDatagrams(), 10000);
    QCOMPARE(sender.drain().size(), 1);
    QCOMPARE(clock.counters().acknowledged, 1);
    QCOMPARE(clock.counters().withheld, 0);
}

void TestClockSim::webInterfaceChecksAuthorization_data()
{
    addColumns<QString, QByteArray, int>({"password", "authorization", "status"});

    // The program sends "Basic " and the hex MD5 of the password, no Base64.
    dataRow("empty password, its digest", QString(), QByteArray("Basic d41d8cd98f00b204e9800998ecf8427e"), 200);
    dataRow("set password, its digest", QStringLiteral("secret"), md5Authorization("secret"), 200);
    dataRow("missing header", QString(), QByteArray(), 401);
    dataRow("digest of another password", QStringLiteral("secret"), md5Authorization(""), 401);
    dataRow("upper-case digest", QStringLiteral("secret"), md5Authorization("secret").toUpper(), 401);
    QTest::newRow("real Basic scheme") << QStringLiteral("secret") << QByteArray("Basic OnNlY3JldA==") << 401;
}

void TestClockSim::webInterfaceChecksAuthorization()
{
    QFETCH(QString, password);
    QFETCH(QByteArray, authorization);
    QFETCH(int, status);

    SimulatedClock clock(QHostAddress::LocalHost, 0);
    ClockWebInterface web(&clock);
    web.setPassword(password);
    ClockWebInterface::Request request;
    request.method = "GET";
    request.path = "/";
    if (!authorization.isEmpty())
        request.headers.insert("authorization", authorization);
    QCOMPARE(web.respond(request).status, status);
}

void TestClockSim::webInterfaceStoresPostedParameters()
{
    SimulatedClock clock(QHostAddress::LocalHost, 0);
    ClockWebInterface web(&clock);
    ClockWebInterface::Request post;
    post.method = "POST";
    post.path = "/etc/parameters";
    post.headers.insert("authorization", md5Authorization(""));
    post.body = "devicename=Lobby&twentyup_checked=1";
    QSignalSpy changed(&clock, &SimulatedClock::parameterChanged);
    QCOMPARE(web.respond(post).status, 200);
    QCOMPARE(clock.parameters().value(QStringLiteral("devicename")), QStringLiteral("Lobby"));
    QCOMPARE(clock.parameters().value(QStringLiteral("twentyup_checked")), QStringLiteral("1"));
    QCOMPARE(changed.size(), 2);

    ClockWebInterface::Request other = post;
    other.path = "/etc/other";
    QCOMPARE(web.respond(other).status, 404);
    other.method = "PUT";
    QCOMPARE(web.respond(other).status, 405);

    ClockWebInterface::Request get;
    get.method = "GET";
    get.path = "/etc/parameters";
    get.headers = post.headers;
    const ClockWebInterface::Response read = web.respond(get);
    QCOMPARE(read.status, 200);
    QVERIFY(read.body.contains("devicename=Lobby\n"));
}

void TestClockSim::webInterfaceServesPagesOverHttp()
{
    SimulatedClock clock(QHostAddress::LocalHost, 0);
    QVERIFY(clock.bind());
    ClockWebInterface web(&clock);
    QVERIFY(web.listen(QHostAddress::LocalHost, 0));
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(web.serverPort());

    // A variable set by datagram shows on the status page, escaped.
    Sender sender;
    sender.send(clock, datagram(1, "<b>&"));
    QTRY_COMPARE_WITH_TIMEOUT(clock.counters().datagrams, 1, 10000);

    QNetworkAccessManager manager;
    // Built the way the program builds its clock requests.
    QNetworkRequest post(QUrl(base + QStringLiteral("/etc/parameters")));
    post.setRawHeader("Authorization", md5Authorization(""));
    post.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/plain;charset=UTF-8"));
    QNetworkReply* posted = manager.post(post, QByteArray("devicename=Hall"));
    QSignalSpy postDone(posted, &QNetworkReply::finished);
    QVERIFY(postDone.wait(10000));
    QCOMPARE(posted->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    posted->deleteLater();
    QCOMPARE(clock.parameters().value(QStringLiteral("devicename")), QStringLiteral("Hall"));

    QNetworkRequest get(QUrl(base + QStringLiteral("/")));
    get.setRawHeader("Authorization", md5Authorization(""));
    QNetworkReply* page = manager.get(get);
    QSignalSpy getDone(page, &QNetworkReply::finished);
    QVERIFY(getDone.wait(10000));
    const QByteArray html = page->readAll();
    page->deleteLater();
    QVERIFY(html.contains("&lt;b&gt;&amp;"));
    QVERIFY(html.contains("Hall"));

    QNetworkReply* refused = manager.get(QNetworkRequest(QUrl(base + QStringLiteral("/"))));
    QSignalSpy refusedDone(refused, &QNetworkReply::finished);
    QVERIFY(refusedDone.wait(10000));
    QCOMPARE(refused->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 401);
    refused->deleteLater();
}

void TestClockSim::webInterfaceRefusesOversizedRequests()
{
    SimulatedClock clock(QHostAddress::LocalHost, 0);
    ClockWebInterface web(&clock);
    QVERIFY(web.listen(QHostAddress::LocalHost, 0));

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, web.serverPort());
    QVERIFY(socket.waitForConnected(10000));
    // Headers that never end: refused once they pass the limit.
    socket.write("GET / HTTP/1.1\r\nX-Filler: ");
    socket.write(QByteArray(ClockWebInterface::MaxRequestBytes + 10, 'x'));
    QByteArray answer;
    QTRY_VERIFY_WITH_TIMEOUT((answer += socket.readAll()).contains("\r\n\r\n"), 10000);
    QVERIFY2(answer.startsWith("HTTP/1.1 413 "), answer.constData());
    QVERIFY(clock.parameters().isEmpty());
}

CORVELTA_TEST_MAIN(TestClockSim)
#include "tst_clocksim.moc"
