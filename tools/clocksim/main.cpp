// corvelta-clocksim: plays one or more display clocks on this machine, so
// Corvelta can be watched without hardware.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <cstdio>
#include <memory>

#include "clocksim/clocksimwindow.h"
#include "clocksim/clockwebinterface.h"
#include "clocksim/simulatedclock.h"

namespace {

void printLine(const QString& line)
{
    const QByteArray bytes =
        (QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz ")) + line + '\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void printError(const QString& line)
{
    std::fprintf(stderr, "corvelta-clocksim: %s\n", line.toLocal8Bit().constData());
}

bool wantsConsole(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "--console") == 0)
            return true;
    return false;
}

}  // namespace

int main(int argc, char* argv[])
{
    // The console mode must run without any display, so it never creates a
    // GUI application object.
    const bool console = wantsConsole(argc, argv);
    std::unique_ptr<QCoreApplication> app(console ? new QCoreApplication(argc, argv) : new QApplication(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral("corvelta-clocksim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays display clocks: binds each ADDRESS on the clock port, acknowledges each "
                       "datagram 0xBE, variable, UTF-8 text, 0x00 with \"A\" and shows the variables."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("address"), QStringLiteral("Clock addresses (default 127.0.0.2)."),
                                 QStringLiteral("[address...]"));
    const QCommandLineOption consoleOption(QStringLiteral("console"),
                                           QStringLiteral("Print lines on standard output, no window."));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Clock UDP port (7372)."),
                                        QStringLiteral("port"), QStringLiteral("7372"));
    const QCommandLineOption dropOption(QStringLiteral("drop"),
                                        QStringLiteral("Drop this percentage of acknowledgements."),
                                        QStringLiteral("percent"), QStringLiteral("0"));
    const QCommandLineOption delayOption(QStringLiteral("delay"),
                                         QStringLiteral("Delay each acknowledgement by this many ms."),
                                         QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption silentOption(QStringLiteral("silent"), QStringLiteral("Never acknowledge."));
    const QCommandLineOption webPortOption(QStringLiteral("web-port"),
                                           QStringLiteral("TCP port of each clock's web interface, 0 for none (8080)."),
                                           QStringLiteral("port"), QStringLiteral("8080"));
    const QCommandLineOption passwordOption(QStringLiteral("password"),
                                            QStringLiteral("Device password the web interface checks (empty)."),
                                            QStringLiteral("text"), QString());
    parser.addOptions(
        {consoleOption, portOption, dropOption, delayOption, silentOption, webPortOption, passwordOption});
    parser.process(*app);

    bool ok = true;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        printError(QStringLiteral("--port wants a port number"));
        return 2;
    }
    const uint webPort = parser.value(webPortOption).toUInt(&ok);
    if (!ok || webPort > 65535) {
        printError(QStringLiteral("--web-port wants a port number or 0"));
        return 2;
    }
    const double dropPercent = parser.value(dropOption).toDouble(&ok);
    if (!ok || dropPercent < 0 || dropPercent > 100) {
        printError(QStringLiteral("--drop wants a percentage from 0 to 100"));
        return 2;
    }
    const int delayMs = parser.value(delayOption).toInt(&ok);
    if (!ok || delayMs < 0) {
        printError(QStringLiteral("--delay wants milliseconds, 0 or more"));
        return 2;
    }
    AcknowledgementPolicy policy;
    policy.dropShare = dropPercent / 100.0;
    policy.delayMs = delayMs;
    policy.silent = parser.isSet(silentOption);

    QStringList addresses = parser.positionalArguments();
    if (addresses.isEmpty())
        addresses << QStringLiteral("127.0.0.2");

    QList<SimulatedClock*> clocks;
    QStringList startupLines;
    for (const QString& text : addresses) {
        QHostAddress address;
        if (!address.setAddress(text) || address.protocol() != QAbstractSocket::IPv4Protocol) {
            printError(QStringLiteral("%1 is not an IPv4 address").arg(text));
            return 2;
        }
        auto* clock = new SimulatedClock(address, quint16(port), app.get());
        QString error;
        if (!clock->bind(&error)) {
            printError(QStringLiteral("cannot bind %1:%2: %3").arg(text).arg(port).arg(error));
            return 1;
        }
        clock->setPolicy(policy);
        clocks << clock;
        startupLines << QStringLiteral("Clock %1 listening on UDP port %2").arg(text).arg(port);

        if (webPort != 0) {
            auto* web = new ClockWebInterface(clock, clock);
            web->setPassword(parser.value(passwordOption));
            if (!web->listen(address, quint16(webPort))) {
                printError(QStringLiteral("cannot serve the web interface on %1:%2: %3")
                               .arg(text)
                               .arg(webPort)
                               .arg(web->errorString()));
                return 1;
            }
            startupLines << QStringLiteral("Clock %1 web interface on http://%1:%2/").arg(text).arg(webPort);
            if (console)
                QObject::connect(web, &ClockWebInterface::report, printLine);
        }
        if (console)
            QObject::connect(clock, &SimulatedClock::report, printLine);
    }

    if (console) {
        for (const QString& line : startupLines)
            printLine(line);
        return app->exec();
    }

    ClockSimWindow window(clocks);
    for (SimulatedClock* clock : clocks)
        for (ClockWebInterface* web : clock->findChildren<ClockWebInterface*>())
            QObject::connect(web, &ClockWebInterface::report, &window, &ClockSimWindow::appendReport);
    for (const QString& line : startupLines)
        window.appendReport(line);
    window.show();
    const int result = app->exec();
    return result;
}
