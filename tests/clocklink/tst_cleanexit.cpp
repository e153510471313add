// The program's own run, start to end: create the application, show the
// window, close it, leave the event loop, destroy the window. It must end
// with status 0 and without a single Qt warning, up to the global clock
// link's destruction after main() returns.
#include <QApplication>
#include <QTimer>
#include <QUdpSocket>
#include <cstdio>

#include "app/mainwindow.h"
#include "clocklink/clockdatagram.h"
#include "clocklink/udpcommthread.h"
#include "support/clockportlock.h"
#include "support/substitutewebserver.h"
#include "support/testmain.h"

namespace {

bool portIsFree()
{
    QUdpSocket probe;
    return probe.bind(QHostAddress::Any, CLOCK_UDP_PORT, QUdpSocket::DontShareAddress);
}

}  // namespace

int main(int argc, char* argv[])
{
    ClockPortLock lock;
    QApplication app(argc, argv);
    // Any Qt warning from here on, up to the last global's destruction,
    // fails the process. (Before: the platform's own notes on the test
    // machine's environment, such as a missing XDG_RUNTIME_DIR.)
    TestMessages::installForProcess();
    int failures = 0;
    {
        // A clock web interface that never answers, so a request is still
        // in flight when the window closes.
        SubstituteWebServer webServer(SubstituteWebServer::Mode::Http);
        webServer.start(QHostAddress("127.0.0.2"));
        webServer.setHandler([](const SubstituteWebServer::Request&) {
            SubstituteWebServer::Reply reply;
            reply.hold = true;
            return reply;
        });

        MainWindow window;
        window.show();
        if (portIsFree()) {
            std::puts("FAIL: port 7372 is not bound while the window exists");
            ++failures;
        }
        // Datagrams and a web request still waiting at close.
        window.SendClockVar("127.0.0.9", 1, "left waiting");
        window.SendClockVar("not an address", 2, "never sent");
        commThread.QueueWebDataRequest(QString("127.0.0.2:%1").arg(webServer.serverPort()), "/status.html", false);
        QTimer::singleShot(800, &window, &QWidget::close);
        const int result = app.exec();
        if (result != 0) {
            std::printf("FAIL: event loop returned %d\n", result);
            ++failures;
        }
    }
    if (commThread.isRunning()) {
        std::puts("FAIL: the clock link still runs after the window has gone");
        ++failures;
    }
    if (!portIsFree()) {
        std::puts("FAIL: port 7372 is still bound after the window has gone");
        ++failures;
    }
    std::puts(failures ? "clean exit: FAILED" : "clean exit: passed");
    return failures;
}
