#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <memory>

class SnapshotPublisher;

// The clocks' state seen from anywhere: a page for a phone or a lobby PC
// (GET /), the status document (GET /status.json) and Prometheus metrics
// (GET /metrics), all read only, all built from the last snapshot the window
// thread published. The requests are answered on the HTTP library's own
// threads (libmicrohttpd), which read the published snapshot and never wait
// for the window thread; the window thread only publishes.
//
// Where it listens comes from the deployment keys "webport" (default 7380;
// 0: no server) and "webaddress" (default 127.0.0.1). Built on Linux only;
// elsewhere start() says the page is not served.
class WebServer : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 DefaultPort = 7380;

    explicit WebServer(QObject* parent = nullptr);
    ~WebServer() override;  // stops

    // The deployment keys as read: a value that is not a whole number from
    // 0 to 65535 means the default port; an empty address the default one.
    void setPort(const QString& setting)
    {
        bool ok = false;
        const int value = setting.trimmed().toInt(&ok);
        listenPort = ok && value >= 0 && value <= 65535 ? quint16(value) : DefaultPort;
    }
    void setAddress(const QString& setting)
    {
        listenAddress = setting.trimmed().isEmpty() ? QStringLiteral("127.0.0.1") : setting.trimmed();
    }
    quint16 port() const { return listenPort; }

    // Serves `publisher`'s snapshots from now on, unless the port is 0, and
    // logs where ("Web page at http://127.0.0.1:7380/") or why not ("Web page
    // not served: 127.0.0.1:7380: Address already in use"); the program runs
    // on either way. Returns whether it serves.
    bool start(const SnapshotPublisher& publisher);
    // Closes the port and every connection, before returning; part of an
    // orderly stop, before the last status file is written.
    void stop();

signals:
    void logLine(QString line);

private:
    struct Daemon;

    quint16 listenPort = DefaultPort;
    QString listenAddress = QStringLiteral("127.0.0.1");
    std::unique_ptr<Daemon> daemon;
};
