#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>
#include <functional>

class QTcpSocket;

// Plays a web service (weather, quotes, a clock's web interface) on loopback,
// over HTTPS with a certificate of the test authority (or of an authority the
// process does not trust), or over plain HTTP. Answers one request per
// connection (or every request of a kept-alive connection) and records every
// request it receives.
class SubstituteWebServer : public QTcpServer
{
    Q_OBJECT

public:
    enum class Mode { HttpsTrusted, HttpsUntrusted, Http };

    struct Request
    {
        QByteArray method;
        QByteArray target;                     // path and query, as sent
        QMap<QByteArray, QByteArray> headers;  // names in lower case
        QByteArray body;
    };

    struct Reply
    {
        int status = 200;
        QByteArray contentType = "application/json";
        QByteArray body;
        bool hold = false;                             // kept back until releaseHeld()
        QList<QPair<QByteArray, QByteArray>> headers;  // further headers, as given
    };

    explicit SubstituteWebServer(Mode mode = Mode::HttpsTrusted, QObject* parent = nullptr);

    // Listens on the address (127.0.0.1 by default) and a free port unless one is given.
    bool start(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);

    // "https://127.0.0.1:port" (or http://).
    QString baseUrl() const;

    // Decides the reply to each request; the default answers 404.
    void setHandler(std::function<Reply(const Request&)> handler);

    // Sends every reply kept back so far, oldest first.
    void releaseHeld();
    // Sends only the replies kept back with this status.
    void releaseHeld(int status);
    int heldCount() const { return held.size(); }

    // Keeps connections open after a reply, as the real services do, so a
    // client sends its next requests over the same connection.
    void setKeepAlive(bool on) { keepAlive = on; }

    QList<Request> requests;

signals:
    void requestReceived();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void readFrom(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Reply& reply);

    Mode mode;
    bool keepAlive = false;
    std::function<Reply(const Request&)> handler;
    QMap<QTcpSocket*, QByteArray> buffers;
    QList<QPair<QTcpSocket*, Reply>> held;
};

// Makes every HTTPS connection of this process trust the test authority.
void trustTestCertificateAuthority();

// Full path of a file below tests/data.
QString testDataPath(const QString& relativePath);
// The text of a file below tests/data, read as UTF-8 (the test stops when it is missing).
QString testDataText(const QString& relativePath);
