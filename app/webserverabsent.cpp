// Where the HTTP library is not built in (platforms other than Linux): the
// keys are read, and a port asked for is said not to be served.
#include "app/webserver.h"

struct WebServer::Daemon
{};

WebServer::WebServer(QObject* parent)
    : QObject(parent)
{}

WebServer::~WebServer() = default;

bool WebServer::start(const SnapshotPublisher&)
{
    if (listenPort != 0)
        emit logLine(
            QString("Web page not served: %1:%2: this build has no web server").arg(listenAddress).arg(listenPort));
    return false;
}

void WebServer::stop() {}
