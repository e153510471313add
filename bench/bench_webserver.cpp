// The web server with a campus of 1,000 clocks (100 of them silent): how
// long a /metrics and a /status.json answer take over loopback, the window
// thread's copy of a snapshot as each tick takes it, and the status file's
// bytes written in an idle day by the writing rule itself. No clocks on the
// network: the events are made here as the link makes them.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/statusboard.h"
#include "app/statusmetrics.h"
#include "app/webserver.h"

namespace {

constexpr int Clocks = 1000;
constexpr int Silent = 100;
constexpr int Runs = 100;

double median(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// Every clock sent its five texts; the first 900 acknowledged them, the
// last 100 had them given up.
void fill(StatusBoard& board)
{
    QStringList addresses;
    for (int c = 0; c < Clocks; ++c)
        addresses << QHostAddress(quint32(0x0A000001 + c)).toString();
    board.setLists(addresses, {});
    ClockLinkEvents events;
    for (int c = 0; c < Clocks; ++c) {
        for (int v = 0; v < ClockState::Variables; ++v) {
            ClockLinkEvent e;
            e.clock = quint32(0x0A000001 + c);
            e.variable = v;
            e.text = QStringLiteral("%1 C 72F").arg(v);
            events.append(e);
            e.kind = c < Clocks - Silent ? ClockLinkEvent::Kind::Acknowledged : ClockLinkEvent::Kind::GivenUp;
            events.append(e);
        }
        ClockLinkEvent t;
        t.kind = c < Clocks - Silent ? ClockLinkEvent::Kind::AnswerTime : ClockLinkEvent::Kind::NotAnswering;
        t.clock = quint32(0x0A000001 + c);
        t.answerMs = 3 + c % 7;
        events.append(t);
    }
    board.applyClockEvents(events, QDateTime::currentDateTime(), 0);
}

// One GET on a connection of its own, to the last byte; milliseconds, and
// the body's size in `bytes`.
double get(quint16 port, const QByteArray& path, qint64& bytes)
{
    QElapsedTimer timer;
    timer.start();
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.waitForConnected(5000);
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        answer += socket.readAll();
    answer += socket.readAll();
    const double ms = timer.nsecsElapsed() / 1e6;
    if (!answer.startsWith("HTTP/1.1 200")) {
        std::fprintf(stderr, "GET %s: %s\n", path.constData(), answer.left(200).constData());
        std::exit(1);
    }
    bytes = answer.size() - answer.indexOf("\r\n\r\n") - 4;
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    StatusBoard board;
    fill(board);

    // The window thread's share at a tick: the copy, made shareable, published.
    // And the server thread's: the document's and the metrics' text.
    std::vector<double> copies, documentText, metricsText;
    for (int r = 0; r < Runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        board.startPublishing(QDateTime::currentDateTime());
        copies.push_back(timer.nsecsElapsed() / 1e6);
        timer.restart();
        StatusFile::json(*board.publisher().latest());
        documentText.push_back(timer.nsecsElapsed() / 1e6);
        timer.restart();
        StatusMetrics::text(*board.publisher().latest());
        metricsText.push_back(timer.nsecsElapsed() / 1e6);
    }

    quint16 port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        port = probe.serverPort();
    }
    WebServer server;
    server.setPort(QString::number(port));
    QObject::connect(&server, &WebServer::logLine,
                     [](const QString& line) { std::fprintf(stderr, "%s\n", qPrintable(line)); });
    if (!server.start(board.publisher()))
        return 1;
    qint64 metricsBytes = 0, documentBytes = 0;
    std::vector<double> metrics, document;
    for (int r = 0; r < Runs; ++r) {
        metrics.push_back(get(port, "/metrics", metricsBytes));
        document.push_back(get(port, "/status.json", documentBytes));
    }
    server.stop();

    // An idle day, one tick a second: nothing changes, so only the heartbeat
    // writes (and the first write at the start).
    const QDateTime start = QDateTime::currentDateTime();
    QDateTime lastWrite;
    int writes = 0;
    for (int s = 0; s < 86400; ++s) {
        const QDateTime now = start.addSecs(s);
        if (StatusFile::due(now, lastWrite, s == 0, Clocks)) {
            ++writes;
            lastWrite = now;
        }
    }

    std::printf("#### 1,000 clocks (100 not answering), loopback, median of %d\n\n", Runs);
    std::printf("| what | milliseconds | bytes |\n|---|---:|---:|\n");
    std::printf("| GET /metrics, connect to last byte | %.2f | %lld |\n", median(metrics), metricsBytes);
    std::printf("| of it, the metrics' text alone | %.2f | |\n", median(metricsText));
    std::printf("| GET /status.json, connect to last byte | %.2f | %lld |\n", median(document), documentBytes);
    std::printf("| of it, the document's text alone | %.2f | |\n", median(documentText));
    std::printf("| window thread: a tick's snapshot copy, published | %.3f | |\n\n", median(copies));
    std::printf("Status file in an idle day: %d writes of %lld bytes = %.1f MB (heartbeat %d s).\n", writes,
                documentBytes, writes * double(documentBytes) / 1e6, StatusFile::HeartbeatSeconds);
    QFile load("/proc/loadavg");
    load.open(QIODevice::ReadOnly);
    std::printf("\nLoad average after the run: %s\n", load.readAll().split(' ').mid(0, 3).join(' ').constData());
    return 0;
}
