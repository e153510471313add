#include "support/substitutewebserver.h"

#include <QFile>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

QString testDataPath(const QString& relativePath)
{
    return QStringLiteral(CORVELTA_TEST_DATA_DIR "/") + relativePath;
}

QString testDataText(const QString& relativePath)
{
    QFile file(testDataPath(relativePath));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(relativePath));
    return QString::fromUtf8(file.readAll());
}

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 400:
        return "Bad Request";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

}  // namespace

void trustTestCertificateAuthority()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(QSslCertificate::fromData(readFile(testDataPath("certs/test-ca.pem"))));
    QSslConfiguration::setDefaultConfiguration(configuration);
}

SubstituteWebServer::SubstituteWebServer(Mode mode, QObject* parent)
    : QTcpServer(parent)
    , mode(mode)
    , handler([](const Request&) {
        Reply reply;
        reply.status = 404;
        reply.body = "{\"status\": 404}";
        return reply;
    })
{}

bool SubstituteWebServer::start(const QHostAddress& address, quint16 port)
{
    return listen(address, port);
}

QString SubstituteWebServer::baseUrl() const
{
    return QString("%1://%2:%3")
        .arg(mode == Mode::Http ? "http" : "https")
        .arg(serverAddress().toString())
        .arg(serverPort());
}

void SubstituteWebServer::setHandler(std::function<Reply(const Request&)> newHandler)
{
    handler = std::move(newHandler);
}

void SubstituteWebServer::incomingConnection(qintptr socketDescriptor)
{
    QTcpSocket* socket = nullptr;
    if (mode == Mode::Http) {
        socket = new QTcpSocket(this);
        socket->setSocketDescriptor(socketDescriptor);
    } else {
        auto* ssl = new QSslSocket(this);
        ssl->setSocketDescriptor(socketDescriptor);
        const QString name = mode == Mode::HttpsTrusted ? "certs/server" : "certs/untrusted-server";
        ssl->setLocalCertificate(QSslCertificate(readFile(testDataPath(name + ".pem"))));
        ssl->setPrivateKey(QSslKey(readFile(testDataPath(name + ".key")), QSsl::Rsa));
        ssl->startServerEncryption();
        socket = ssl;
    }
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QObject::destroyed, this, [this, socket] {
        buffers.remove(socket);
        for (int i = held.size() - 1; i >= 0; --i)
            if (held[i].first == socket)
                held.removeAt(i);
    });
}

void SubstituteWebServer::readFrom(QTcpSocket* socket)
{
    QByteArray& buffer = buffers[socket];
    buffer += socket->readAll();
    // A kept-alive connection may carry several requests; answer each one
    // that has arrived whole.
    for (;;) {
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;

        Request request;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const int length = request.headers.value("content-length", "0").toInt();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);

        requests.append(request);
        const Reply reply = handler(request);
        emit requestReceived();
        if (reply.hold)
            held.append({socket, reply});
        else
            answer(socket, reply);
    }
}

void SubstituteWebServer::releaseHeld()
{
    const auto pending = held;
    held.clear();
    for (const auto& entry : pending)
        answer(entry.first, entry.second);
}

void SubstituteWebServer::releaseHeld(int status)
{
    for (int i = 0; i < held.size();) {
        if (held[i].second.status != status) {
            ++i;
            continue;
        }
        const auto entry = held.takeAt(i);
        answer(entry.first, entry.second);
    }
}

void SubstituteWebServer::answer(QTcpSocket* socket, const Reply& reply)
{
    QByteArray response = "HTTP/1.1 " + QByteArray::number(reply.status) + " " + reasonPhrase(reply.status) + "\r\n";
    response += "Content-Type: " + reply.contentType + "\r\n";
    response += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    for (const auto& header : reply.headers)
        response += header.first + ": " + header.second + "\r\n";
    response += keepAlive ? "\r\n" : "Connection: close\r\n\r\n";
    response += reply.body;
    socket->write(response);
    if (!keepAlive)
        socket->disconnectFromHost();
}
