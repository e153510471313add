#include "clocksim/clockwebinterface.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrl>

#include "clocksim/simulatedclock.h"

namespace {

// A request read so far is kept on its socket until it is complete.
const char* const BufferProperty = "clockWebBuffer";

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    default:
        return "Error";
    }
}

ClockWebInterface::Response textResponse(int status, const QByteArray& body)
{
    ClockWebInterface::Response response;
    response.status = status;
    response.body = body;
    return response;
}

QByteArray htmlEscaped(const QString& text)
{
    return text.toHtmlEscaped().toUtf8();
}

}  // namespace

ClockWebInterface::ClockWebInterface(SimulatedClock* clock, QObject* parent)
    : QTcpServer(parent)
    , clock(clock)
{}

QByteArray ClockWebInterface::expectedAuthorization() const
{
    return "Basic " + QCryptographicHash::hash(devicePassword.toLocal8Bit(), QCryptographicHash::Md5).toHex();
}

ClockWebInterface::Response ClockWebInterface::respond(const Request& request)
{
    const QString who = clock->address().toString();
    if (request.headers.value("authorization") != expectedAuthorization()) {
        emit report(QStringLiteral("%1 web: %2 %3 refused, wrong or missing Authorization")
                        .arg(who, QString::fromLatin1(request.method), QString::fromUtf8(request.path)));
        return textResponse(401, "Authorization required\n");
    }

    const QString path = QUrl::fromPercentEncoding(request.path.split('?').first());
    if (request.method == "POST") {
        if (path != QLatin1String("/etc/parameters"))
            return textResponse(404, "No such page\n");
        // The parameters text is name=value pairs separated by "&" or lines.
        const QString body = QString::fromUtf8(request.body);
        const QStringList pairs = body.split(QRegularExpression(QStringLiteral("[&\\r\\n]")), Qt::SkipEmptyParts);
        for (const QString& pair : pairs) {
            const int equals = pair.indexOf(QLatin1Char('='));
            const QString name = equals < 0 ? pair : pair.left(equals);
            const QString value = equals < 0 ? QString() : pair.mid(equals + 1);
            clock->setParameter(name, value);
        }
        emit report(QStringLiteral("%1 web: parameters set: %2").arg(who, body));
        return textResponse(200, "OK\n");
    }
    if (request.method != "GET")
        return textResponse(405, "Only GET and POST\n");

    emit report(QStringLiteral("%1 web: GET %2").arg(who, path));
    if (path == QLatin1String("/") || path == QLatin1String("/index.html")) {
        Response page;
        page.contentType = "text/html; charset=utf-8";
        page.body = statusPage();
        return page;
    }
    if (path == QLatin1String("/etc/parameters")) {
        QByteArray text;
        for (auto it = clock->parameters().cbegin(); it != clock->parameters().cend(); ++it)
            text += it.key().toUtf8() + '=' + it.value().toUtf8() + '\n';
        return textResponse(200, text);
    }
    if (path == QLatin1String("/variables")) {
        QByteArray text;
        for (auto it = clock->variables().cbegin(); it != clock->variables().cend(); ++it)
            text += "var" + QByteArray::number(it.key()) + '=' + it.value().toUtf8() + '\n';
        return textResponse(200, text);
    }
    return textResponse(404, "No such page\n");
}

QByteArray ClockWebInterface::statusPage() const
{
    QByteArray html = "<!DOCTYPE html>\n<html><head><title>Clock " + htmlEscaped(clock->address().toString()) +
                      "</title></head><body>\n<h1>Simulated clock " + htmlEscaped(clock->address().toString()) +
                      "</h1>\n<table>\n";
    for (auto it = clock->variables().cbegin(); it != clock->variables().cend(); ++it)
        html += "<tr><td>var" + QByteArray::number(it.key()) + "</td><td>" + htmlEscaped(it.value()) + "</td></tr>\n";
    html += "</table>\n<h2>Parameters</h2>\n<table>\n";
    for (auto it = clock->parameters().cbegin(); it != clock->parameters().cend(); ++it)
        html += "<tr><td>" + htmlEscaped(it.key()) + "</td><td>" + htmlEscaped(it.value()) + "</td></tr>\n";
    html += "</table>\n</body></html>\n";
    return html;
}

void ClockWebInterface::incomingConnection(qintptr socketDescriptor)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void ClockWebInterface::readFrom(QTcpSocket* socket)
{
    QByteArray buffer = socket->property(BufferProperty).toByteArray() + socket->readAll();
    if (buffer.size() > MaxRequestBytes) {
        socket->setProperty(BufferProperty, QByteArray());
        send(socket, textResponse(413, "Request too large\n"));
        return;
    }
    socket->setProperty(BufferProperty, buffer);

    const int headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3) {
        send(socket, textResponse(400, "Malformed request line\n"));
        return;
    }
    Request request;
    request.method = requestLine.at(0);
    request.path = requestLine.at(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    bool lengthOk = true;
    const QByteArray lengthText = request.headers.value("content-length", "0");
    const int length = lengthText.toInt(&lengthOk);
    if (!lengthOk || length < 0) {
        send(socket, textResponse(400, "Bad Content-Length\n"));
        return;
    }
    if (buffer.size() - headerEnd - 4 < length)
        return;  // the body is still coming
    request.body = buffer.mid(headerEnd + 4, length);
    socket->setProperty(BufferProperty, QByteArray());
    send(socket, respond(request));
}

void ClockWebInterface::send(QTcpSocket* socket, const Response& response)
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    bytes += "Content-Type: " + response.contentType + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    bytes += "Connection: close\r\n\r\n";
    bytes += response.body;
    socket->write(bytes);
    // One request per connection; the socket deletes itself once closed.
    socket->disconnectFromHost();
}
