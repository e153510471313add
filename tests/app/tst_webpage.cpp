// The web page, /status.json and /metrics of the running program (with the
// demo's substitute services and simulated clocks): the page as a real
// browser renders it, the metrics as Prometheus's own tools read them, and
// bad requests and slow, stalled or crowding clients.
#include <QtTest>

#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <sys/socket.h>

#include "clocksim/simulatedclock.h"
#include "support/clockportlock.h"
#include "support/demoprogram.h"
#include "support/testmain.h"

namespace {

const QByteArray Secret = "k3y-never-on-a-page";
const QStringList Clocks{"127.0.0.2", "127.0.0.3", "127.0.0.4"};

bool have(const QString& program, const QStringList& check)
{
    QProcess probe;
    probe.start(program, check);
    return probe.waitForFinished(60000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

}  // namespace

class WebPageTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    DemoProgram demo;
    std::vector<std::unique_ptr<SimulatedClock>> clocks;
    quint16 port = 0;

    // One request on a connection of its own; the whole answer, or what came
    // before the server closed or reset the connection.
    QByteArray exchange(QByteArray request)
    {
        request.replace("%host%", "127.0.0.1:" + QByteArray::number(port));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(30000))
            return {};
        socket.write(request);
        QByteArray answer;
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(30000))
            answer += socket.readAll();
        return socket.state() == QAbstractSocket::ConnectedState ? "still open" : answer + socket.readAll();
    }
    static int statusOf(const QByteArray& answer)
    {
        return answer.startsWith("HTTP/1.") ? answer.mid(9, 3).toInt() : 0;
    }
    static QByteArray bodyOf(const QByteArray& answer) { return answer.mid(answer.indexOf("\r\n\r\n") + 4); }
    QJsonValue status() { return QJsonDocument::fromJson(bodyOf(exchange(get("/status.json")))).object(); }
    static QByteArray get(const QByteArray& path)
    {
        return "GET " + path + " HTTP/1.1\r\nHost: %host%\r\nConnection: close\r\n\r\n";
    }
    QString clockState(const QString& address)
    {
        for (const QJsonValue& clock : status()["clocks"].toArray())
            if (clock["address"].toString() == address)
                return clock["state"].toString();
        return {};
    }
    // The page as Chromium shows it once its script has run and refreshed.
    QString render()
    {
        QTemporaryDir profile;
        QProcess chromium;
        chromium.start("chromium",
                       {"--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--disable-quic",
                        "--no-first-run", "--disable-background-networking", "--disable-component-update",
                        "--disable-sync", "--user-data-dir=" + profile.path(), "--virtual-time-budget=5000",
                        "--dump-dom", QString("http://127.0.0.1:%1/").arg(port)});
        chromium.waitForFinished(120000);
        return QString::fromUtf8(chromium.readAllStandardOutput());
    }
    // The clocks' rows as rendered: address and state, in the page's order.
    static QStringList rows(const QString& dom)
    {
        QStringList found;
        QRegularExpressionMatchIterator it =
            QRegularExpression(R"re(<tr class="clock [a-z_]+" data-address="([0-9.]+)" data-state="([a-z_]+)">)re")
                .globalMatch(dom);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            found << m.captured(1) + " " + m.captured(2);
        }
        return found;
    }

private slots:
    void initTestCase()
    {
        static ClockPortLock lock;
        for (const QString& address : Clocks) {
            clocks.push_back(std::make_unique<SimulatedClock>(QHostAddress(address)));
            QVERIFY(clocks.back()->bind());
        }
        {
            QTcpServer probe;  // a free port for the page
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            port = probe.serverPort();
        }
        const QString problem =
            demo.start(dir.path(), "127.0.0.2, 127.0.0.3", "127.0.0.4", {{"webport", port}, {"stockapikey", Secret}});
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QTRY_VERIFY2_WITH_TIMEOUT(demo.log().contains(QString("Web page at http://127.0.0.1:%1/").arg(port)),
                                  qPrintable(demo.diagnostics()), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(status()["summary"]["clocks"]["answering"].toInt(), 3, 60000);
    }

    // Two renderings: every clock answering, then one that fell silent in
    // between, not answering and first.
    void browserShowsEveryClock()
    {
        if (!have("chromium", {"--version"}))
            QSKIP("chromium is not installed (./test.sh installs it)");
        QCOMPARE(rows(render()), (QStringList{"127.0.0.2 answering", "127.0.0.3 answering", "127.0.0.4 answering"}));
        AcknowledgementPolicy silent;
        silent.silent = true;
        clocks[1]->setPolicy(silent);
        QTRY_COMPARE_WITH_TIMEOUT(clockState("127.0.0.3"), QString("not_answering"), 120000);
        QCOMPARE(rows(render()),
                 (QStringList{"127.0.0.3 not_answering", "127.0.0.2 answering", "127.0.0.4 answering"}));
    }

    // promtool finds nothing to object to, and the Python client reads the
    // values the document holds.
    void metricsPassPromtoolAndReadBack()
    {
        // Debian's interpreter: the package's parser is installed for it.
        const QString python = "/usr/bin/python3";
        if (!have("promtool", {"--version"}) || !have(python, {"-c", "import prometheus_client"}))
            QSKIP("promtool or python3-prometheus-client is not installed (./test.sh installs both)");
        const QByteArray metrics = bodyOf(exchange(get("/metrics")));
        QProcess promtool;
        promtool.start("promtool", {"check", "metrics"});
        promtool.write(metrics);
        promtool.closeWriteChannel();
        QVERIFY(promtool.waitForFinished(60000));
        QVERIFY2(promtool.exitCode() == 0, promtool.readAll().constData());
        QProcess parser;
        parser.start(python, {"-c",
                              "import sys\nfrom prometheus_client.parser import text_string_to_metric_families as f\n"
                              "for m in f(sys.stdin.read()):\n  for s in m.samples:\n"
                              "    print(s.name + str(sorted(s.labels.values())), s.value)"});
        parser.write(metrics);
        parser.closeWriteChannel();
        QVERIFY(parser.waitForFinished(60000));
        const QStringList samples = QString(parser.readAllStandardOutput()).split('\n');
        const QJsonValue document = status();
        for (const QString& address : Clocks)
            QVERIFY(samples.contains(QString("corvelta_clock_answering['%1'] %2")
                                         .arg(address, clockState(address) == "answering" ? "1.0" : "0.0")));
        QVERIFY(samples.contains(
            QString("corvelta_clocks['answering'] %1.0").arg(document["summary"]["clocks"]["answering"].toInt())));
        QVERIFY(samples.filter(QRegularExpression(R"(^corvelta_datagrams_sent_total\[\] [1-9])")).size() == 1);
        QVERIFY(samples.filter(QRegularExpression(R"(^corvelta_feed_last_success_timestamp_seconds\['stocks'\] 1)"))
                    .size() == 1);
    }

    // Each answer, or the connection closed without one (status 0); the
    // window's ticks go on (the document is of this second), and no answer
    // holds the API key or the program's directory.
    void requests_data()
    {
        addColumns<QString, QByteArray, int, QByteArray>({"client", "request", "code", "header"});
        const QByteArray host = "Host: %host%\r\nConnection: close\r\n";
        dataRow("page", "once", "GET / HTTP/1.1\r\n" + host + "\r\n", 200,
                QByteArray("Content-Security-Policy: default-src 'none'"));
        dataRow("document kept by nobody", "once", get("/status.json"), 200, QByteArray("Cache-Control: no-store"));
        dataRow("metrics format", "once", get("/metrics"), 200, QByteArray("Content-Type: text/plain; version=0.0.4"));
        dataRow("HEAD without a body", "once", "HEAD /metrics HTTP/1.1\r\n" + host + "\r\n", 200,
                QByteArray("Content-Length"));
        dataRow("POST", "once", "POST /status.json HTTP/1.1\r\n" + host + "Content-Length: 2\r\n\r\n{}", 405,
                QByteArray("Allow: GET, HEAD"));
        dataRow("DELETE", "once", "DELETE / HTTP/1.1\r\n" + host + "\r\n", 405, QByteArray());
        dataRow("another path", "once", get("/crv_settings.ini"), 404, QByteArray());
        dataRow("a name that is not the machine's", "once",
                QByteArray("GET / HTTP/1.1\r\nHost: corvelta.example.org\r\n\r\n"), 421, QByteArray());
        dataRow("localhost", "once",
                QByteArray("GET /metrics HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"), 200, QByteArray());
        dataRow("head of 4 KB", "once",
                "GET /metrics HTTP/1.1\r\n" + host + "X-Pad: " + QByteArray(4000, 'a') + "\r\n\r\n", 200, QByteArray());
        dataRow("head of 16 KB", "once",
                "GET /metrics HTTP/1.1\r\n" + host + "X-Pad: " + QByteArray(16500, 'a') + "\r\n\r\n", 431,
                QByteArray());
        dataRow("idle for 10 s", "once", QByteArray(), 0, QByteArray());
        dataRow("stalled halfway through its head", "once", QByteArray("GET /status.json HTTP/1.1\r\nHost: "), 0,
                QByteArray());
        dataRow("reset while answered", "reset", get("/status.json"), 0, QByteArray());
        dataRow("200 at once", "crowd", get("/status.json"), 200, QByteArray());
    }
    void requests()
    {
        QFETCH(QString, client);
        QFETCH(QByteArray, request);
        QFETCH(int, code);
        QFETCH(QByteArray, header);
        QByteArray answer;
        if (client == "once") {
            answer = exchange(request);
        } else if (client == "reset") {
            // The client goes at once, its socket reset (no lingering).
            request.replace("%host%", "127.0.0.1");
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(socket.waitForConnected(30000));
            socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            const struct linger reset = {1, 0};
            ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            socket.write(request);
            QVERIFY(socket.waitForBytesWritten(30000));
            socket.abort();
        } else {
            // Each of 200 clients is answered or refused; none hangs.
            request.replace("%host%", "127.0.0.1:" + QByteArray::number(port));
            std::vector<std::unique_ptr<QTcpSocket>> crowd;
            for (int i = 0; i < 200; ++i) {
                crowd.push_back(std::make_unique<QTcpSocket>());
                crowd.back()->connectToHost(QHostAddress::LocalHost, port);
                crowd.back()->write(request);
            }
            int answered = 0;
            for (const auto& socket : crowd) {
                while (socket->state() != QAbstractSocket::UnconnectedState && socket->waitForReadyRead(30000)) {
                }
                QVERIFY2(socket->state() == QAbstractSocket::UnconnectedState, "a client hangs");
                answered += statusOf(socket->readAll()) == 200;
            }
            QVERIFY(answered > 0);
            answer = exchange(request);
        }
        QVERIFY2(answer != "still open", "the server neither answered nor closed in 30 s");
        if (client != "reset")
            QCOMPARE(statusOf(answer), code);
        QVERIFY2(header.isEmpty() || answer.contains("\r\n" + header), answer.left(600).constData());
        QVERIFY(!answer.contains("Access-Control-Allow-Origin"));
        if (request.startsWith("HEAD"))
            QCOMPARE(bodyOf(answer), QByteArray());
        QVERIFY(!answer.contains(Secret) && !answer.contains(dir.path().toUtf8()));
        // The window ticked meanwhile: the document is of the last few seconds.
        const QDateTime written = QDateTime::fromString(status()["written"].toString(), Qt::ISODate);
        QVERIFY2(qAbs(written.secsTo(QDateTime::currentDateTime())) <= 5, qPrintable(written.toString()));
        QCOMPARE(clockState("127.0.0.2"), QString("answering"));
    }

    // An orderly stop closes the page's connections (one stalled) before the
    // last status file says the program stopped.
    void stopClosesEveryConnection()
    {
        QTcpSocket stalled;
        stalled.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(stalled.waitForConnected(30000));
        stalled.write("GET / HTTP/1.1\r\n");
        QVERIFY(stalled.waitForBytesWritten(30000));
        demo.program.terminate();
        QVERIFY(demo.program.waitForFinished(30000));
        QCOMPARE(demo.program.exitCode(), 0);
        QVERIFY(stalled.state() == QAbstractSocket::UnconnectedState || stalled.waitForDisconnected(30000));
        QFile file(dir.filePath("corvelta-status.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(file.readAll())["running"].toBool(true), false);
    }
};

CORVELTA_TEST_GUILESS_MAIN(WebPageTest)
#include "tst_webpage.moc"
