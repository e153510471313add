#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTcpServer>

class QTcpSocket;
class SimulatedClock;

// A clock's built-in web interface, as far as the program addresses it: a
// POST of a parameters text to "/etc/parameters" and a GET of a page. Every
// request must carry "Authorization: Basic " + the lower-case hex MD5 digest
// of the device password (empty unless one is given).
class ClockWebInterface : public QTcpServer
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QMap<QByteArray, QByteArray> headers;  // names in lower case
        QByteArray body;
    };
    struct Response
    {
        int status = 200;
        QByteArray contentType = "text/plain; charset=utf-8";
        QByteArray body;
    };

    explicit ClockWebInterface(SimulatedClock* clock, QObject* parent = nullptr);

    void setPassword(const QString& password) { devicePassword = password; }
    // The header value a request must carry for the current password.
    QByteArray expectedAuthorization() const;

    // Answers one complete request; reached without a socket by tests.
    Response respond(const Request& request);

    // Requests larger than this are refused rather than buffered.
    static constexpr int MaxRequestBytes = 64 * 1024;

signals:
    void report(const QString& line);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void readFrom(QTcpSocket* socket);
    void send(QTcpSocket* socket, const Response& response);
    QByteArray statusPage() const;

    SimulatedClock* clock;
    QString devicePassword;
};
