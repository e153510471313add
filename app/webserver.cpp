#include "app/webserver.h"

#include <QFile>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QSet>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/statusfile.h"
#include "app/statusmetrics.h"

// The page's files are resources of this library.
static void loadPageResources()
{
    Q_INIT_RESOURCE(web);
}

namespace {

// Limits, as the HTTP library enforces them: an idle connection is closed,
// a request head larger than the connection's memory is refused with a 4xx,
// and connections past the limit are closed at once instead of waiting.
constexpr unsigned ConnectionTimeoutSeconds = 10;
constexpr size_t ConnectionMemoryBytes = 16 * 1024;
constexpr unsigned ConnectionLimit = 64;
constexpr unsigned Threads = 2;

// The page, its style and its script, embedded: nothing comes from elsewhere,
// so it works on a closed network.
QByteArray assemblePage()
{
    const auto read = [](const char* name) {
        QFile file(QString(":/web/") + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QByteArray page = read("page.html");
    page.replace("/*@style@*/", read("page.css"));
    page.replace("/*@script@*/", read("page.js"));
    return page;
}

QString bracketed(const QHostAddress& address)
{
    const QString text = address.toString();
    return address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + text + "]" : text;
}

}  // namespace

struct WebServer::Daemon
{
    MHD_Daemon* mhd = nullptr;
    const SnapshotPublisher* publisher = nullptr;
    QByteArray page;
    // What a Host header may name: the listening address (any of the
    // machine's when listening on all), "localhost" and the machine's name.
    QList<QHostAddress> addresses;
    QSet<QString> names;

    ~Daemon()
    {
        if (mhd)
            MHD_stop_daemon(mhd);  // closes the listening socket and every connection
    }

    bool hostAllowed(const char* header) const;
    MHD_Result answer(MHD_Connection* connection, const char* url, const char* method) const;
};

bool WebServer::Daemon::hostAllowed(const char* header) const
{
    if (!header)
        return true;  // HTTP/1.0 names no host (1.1 without one is refused by the library)
    QString host = QString::fromLatin1(header).trimmed().toLower();
    if (host.startsWith('['))
        host = host.mid(1, host.indexOf(']') - 1);
    else if (host.count(':') == 1)
        host = host.left(host.indexOf(':'));
    while (host.endsWith('.'))
        host.chop(1);
    const QHostAddress address(host);
    if (address.isNull())
        return names.contains(host);
    for (const QHostAddress& allowed : addresses) {
        if (allowed.isEqual(address, QHostAddress::TolerantConversion))
            return true;
    }
    return false;
}

namespace {

MHD_Result queue(MHD_Connection* connection, unsigned status, QByteArray body, const char* contentType,
                 bool page = false)
{
    auto* held = new QByteArray(std::move(body));
    MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
        size_t(held->size()), held->data(), [](void* cls) { delete static_cast<QByteArray*>(cls); }, held);
    if (!response) {
        delete held;
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    // Always the state of now: nothing kept by a browser or a proxy.
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    if (page) {
        // The page's own style and script, and requests to this server only.
        MHD_add_response_header(response, "Content-Security-Policy",
                                "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; "
                                "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
        MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    }
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    const MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

}  // namespace

MHD_Result WebServer::Daemon::answer(MHD_Connection* connection, const char* url, const char* method) const
{
    constexpr const char* Text = "text/plain; charset=utf-8";
    // A page elsewhere must not read this one through a name that points
    // at the machine.
    if (!hostAllowed(MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST)))
        return queue(connection, MHD_HTTP_MISDIRECTED_REQUEST, "Misdirected Request\n", Text);
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
        return queue(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Method Not Allowed\n", Text);
    const bool root = std::strcmp(url, "/") == 0;
    const bool status = std::strcmp(url, "/status.json") == 0;
    const bool metrics = std::strcmp(url, "/metrics") == 0;
    if (!root && !status && !metrics)
        return queue(connection, MHD_HTTP_NOT_FOUND, "Not Found\n", Text);
    if (root)
        return queue(connection, MHD_HTTP_OK, page, "text/html; charset=utf-8", true);
    const SharedSnapshot snapshot = publisher->latest();
    if (!snapshot)
        return queue(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "Starting\n", Text);
    if (status)
        return queue(connection, MHD_HTTP_OK, StatusFile::json(*snapshot), "application/json");
    return queue(connection, MHD_HTTP_OK, StatusMetrics::text(*snapshot), StatusMetrics::ContentType);
}

WebServer::WebServer(QObject* parent)
    : QObject(parent)
{}

WebServer::~WebServer()
{
    stop();
}

bool WebServer::start(const SnapshotPublisher& publisher)
{
    stop();
    if (listenPort == 0)
        return false;
    const QHostAddress address(listenAddress);
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    const QString where = address.isNull() ? listenAddress : bracketed(address);
    const auto notServed = [&](const QString& reason) {
        emit logLine(QString("Web page not served: %1:%2: %3").arg(where).arg(listenPort).arg(reason));
        return false;
    };
    if (address.isNull() || (!v6 && address.protocol() != QAbstractSocket::IPv4Protocol))
        return notServed(QStringLiteral("not an IP address"));

    // The port is bound here, so that a failure has its reason.
    sockaddr_storage storage = {};
    socklen_t length = 0;
    if (v6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(listenPort);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
        in6->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(listenPort);
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
    }
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return notServed(QString::fromLocal8Bit(std::strerror(errno)));
    // A restart finds the port free while old connections wind down; a
    // second listener on the same port is still refused.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(fd, 128) != 0) {
        const int error = errno;
        ::close(fd);
        return notServed(QString::fromLocal8Bit(std::strerror(error)));
    }

    loadPageResources();
    auto d = std::make_unique<Daemon>();
    d->publisher = &publisher;
    d->page = assemblePage();
    d->names = {QStringLiteral("localhost"), QHostInfo::localHostName().toLower()};
    const bool everywhere = address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6;
    d->addresses = everywhere ? QNetworkInterface::allAddresses() : QList<QHostAddress>{address};
    const MHD_AccessHandlerCallback handler = [](void* cls, MHD_Connection* connection, const char* url,
                                                 const char* method, const char*, const char*, size_t*, void**) {
        return static_cast<Daemon*>(cls)->answer(connection, url, method);
    };
    d->mhd =
        MHD_start_daemon(MHD_USE_EPOLL_INTERNAL_THREAD | (v6 ? MHD_USE_IPv6 : 0), 0, nullptr, nullptr, handler, d.get(),
                         MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_THREAD_POOL_SIZE, Threads,
                         MHD_OPTION_CONNECTION_TIMEOUT, ConnectionTimeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
                         ConnectionMemoryBytes, MHD_OPTION_CONNECTION_LIMIT, ConnectionLimit, MHD_OPTION_END);
    if (!d->mhd) {
        ::close(fd);
        return notServed(QStringLiteral("the HTTP library could not start"));
    }
    daemon = std::move(d);
    emit logLine(everywhere ? QString("Web page on all addresses, port %1").arg(listenPort)
                            : QString("Web page at http://%1:%2/").arg(where).arg(listenPort));
    return true;
}

void WebServer::stop()
{
    daemon.reset();
}
