// Uses the clock port: the program it starts binds UDP port 7372.
//
// The real program as a separate process (offscreen), each run from a
// scratch directory of its own holding a copy of the executable, so its
// settings file and log are its own:
//  - start time: from starting the process to (a) UDP port 7372 bound by it
//    and (b) the log's startup line written (the constructor logs it just
//    after the form is built; the window is shown a few ms later, see the
//    in-process figure of bench_refreshhour);
//  - CPU over 60 s of idle running (both feeds outside their windows, so no
//    request is ever made), from /proc/<pid>/stat, and resident memory;
//  - the same over 60 s with the demo schedule (both feeds every minute
//    against the substitute services on loopback).
// Usage: bench_program [idle seconds, default 60]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTime>
#include <QVector>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>

#include "bench/benchhelpers.h"
#include "support/clockportlock.h"

namespace {

const QString ProgramPath = QStringLiteral(CORVELTA_BINARY_DIR "/corvelta");
const QString SettingsTool = QStringLiteral(CORVELTA_BINARY_DIR "/corvelta-demo-settings");

void fail(const QString& message)
{
    std::fprintf(stderr, "bench_program: %s\n", qPrintable(message));
    std::exit(1);
}

// Seconds of CPU (user + system) the process has used so far.
double cpuSeconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = file.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the whole line, 12 and 13 here.
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks / double(sysconf(_SC_CLK_TCK));
}

long statusKb(qint64 pid, const QByteArray& field)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Whether the process holds a UDP socket bound to port 7372.
bool holdsClockPort(qint64 pid)
{
    QStringList inodes;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.contains(QLatin1String("socket:[")))
            inodes << target.section('[', 1).section(']', 0, 0);
    }
    if (inodes.isEmpty())
        return false;
    for (const char* table : {"/proc/net/udp6", "/proc/net/udp"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() > 9 && f[1].endsWith(":1CCC") && inodes.contains(QString::fromLatin1(f[9])))
                return true;
        }
    }
    return false;
}

bool logHasStartup(const QString& dir)
{
    for (const QString& name : QDir(dir).entryList({QStringLiteral("Corvelta_*.log")}, QDir::Files)) {
        QFile file(dir + '/' + name);
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains("Corvelta Startup"))
            return true;
    }
    return false;
}

QString logText(const QString& dir)
{
    QString all;
    for (const QString& name : QDir(dir).entryList({QStringLiteral("Corvelta_*.log")}, QDir::Files)) {
        QFile file(dir + '/' + name);
        if (file.open(QIODevice::ReadOnly))
            all += QString::fromUtf8(file.readAll());
    }
    return all;
}

// A scratch directory with a copy of the program.
std::unique_ptr<QTemporaryDir> programDir()
{
    auto dir = std::make_unique<QTemporaryDir>();
    if (!dir->isValid() || !QFile::copy(ProgramPath, dir->filePath("corvelta")))
        fail("cannot copy " + ProgramPath);
    QFile::setPermissions(dir->filePath("corvelta"), QFile::permissions(ProgramPath));
    return dir;
}

// Settings under which nothing is ever requested or sent: both windows end
// before they start, the services point at a closed loopback port and no
// clocks are listed.
void writeIdleSettings(const QString& dir)
{
    QSettings settings(dir + "/crv_settings.ini", QSettings::IniFormat);
    settings.setValue("weatherhost", "http://127.0.0.1:9");
    settings.setValue("stockhost", "http://127.0.0.1:9");
    settings.setValue("weatherstart", QTime(12, 0));
    settings.setValue("weatherstop", QTime(11, 0));
    settings.setValue("stockstart", QTime(12, 0));
    settings.setValue("stockstop", QTime(11, 0));
    settings.setValue("clockweatheriplist", "");
    settings.setValue("clockstockiplist", "");
    settings.sync();
}

void startProgram(QProcess& process, const QString& dir)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(dir + "/corvelta.out");
    process.start(dir + "/corvelta", QStringList());
    if (!process.waitForStarted(30000))
        fail("the program did not start: " + process.errorString());
}

void stopProgram(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
}

struct StartTimes
{
    double portBound = -1;
    double startupLine = -1;
};

StartTimes measureStart()
{
    auto dir = programDir();
    writeIdleSettings(dir->path());
    QProcess program;
    QElapsedTimer timer;
    timer.start();
    startProgram(program, dir->path());
    StartTimes t;
    while ((t.portBound < 0 || t.startupLine < 0) && timer.elapsed() < 30000) {
        if (t.portBound < 0 && holdsClockPort(program.processId()))
            t.portBound = timer.nsecsElapsed() / 1e6;
        if (t.startupLine < 0 && logHasStartup(dir->path()))
            t.startupLine = timer.nsecsElapsed() / 1e6;
        QThread::usleep(500);
    }
    stopProgram(program);
    return t;
}

struct Running
{
    double cpuPercent = 0;
    double cpuSecondsUsed = 0;
    long rssStart = 0;
    long rssEnd = 0;
    int threads = 0;
    int requests = 0;
    int updates = 0;
};

Running measureRunning(QProcess& program, const QString& dir, int seconds)
{
    Running r;
    QThread::sleep(3);  // start-up settled
    const qint64 pid = program.processId();
    r.rssStart = statusKb(pid, "VmRSS");
    const double cpu0 = cpuSeconds(pid);
    QElapsedTimer timer;
    timer.start();
    QThread::sleep(seconds);
    const double cpu1 = cpuSeconds(pid);
    const double elapsed = timer.nsecsElapsed() / 1e9;
    r.rssEnd = statusKb(pid, "VmRSS");
    r.threads = int(statusKb(pid, "Threads"));
    r.cpuSecondsUsed = cpu1 - cpu0;
    r.cpuPercent = 100.0 * r.cpuSecondsUsed / elapsed;
    const QString log = logText(dir);
    r.requests = log.count("Requesting");
    r.updates = log.count("Update Weather: ") + log.count("Update Stock: ");
    if (program.state() != QProcess::Running)
        fail("the program ended during the measurement");
    return r;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 60;
    if (!QFile::exists(ProgramPath))
        fail(ProgramPath + " has not been built");
    ClockPortLock lock;

    // Start time, five starts.
    QVector<double> port, line;
    for (int i = 0; i < 5; ++i) {
        const StartTimes t = measureStart();
        port << t.portBound;
        line << t.startupLine;
    }
    auto median = [](QVector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("#### Start time of the program (offscreen, 5 starts, ms from starting the process)\n\n");
    std::printf("| moment | first start | median | max |\n|---|---:|---:|---:|\n");
    std::printf("| UDP port 7372 bound | %.1f | %.1f | %.1f |\n", port[0], median(port),
                *std::max_element(port.begin(), port.end()));
    std::printf("| startup line in the log | %.1f | %.1f | %.1f |\n\n", line[0], median(line),
                *std::max_element(line.begin(), line.end()));

    // Idle.
    Running idle;
    {
        auto dir = programDir();
        writeIdleSettings(dir->path());
        QProcess program;
        startProgram(program, dir->path());
        idle = measureRunning(program, dir->path(), seconds);
        stopProgram(program);
    }

    // The demo schedule against the substitute services.
    Running demo;
    {
        QProcess services;
        QString weatherUrl, stockUrl;
        const QString servicesError = startSubstituteServices(services, weatherUrl, stockUrl);
        if (!servicesError.isEmpty())
            fail(servicesError);
        auto dir = programDir();
        QProcess tool;
        tool.start(SettingsTool, {"--output", dir->filePath("crv_settings.ini"), "--weather-url", weatherUrl,
                                  "--stock-url", stockUrl});
        if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
            fail("corvelta-demo-settings failed");
        QProcess program;
        startProgram(program, dir->path());
        demo = measureRunning(program, dir->path(), seconds);
        stopProgram(program);
        services.terminate();
        services.waitForFinished(10000);
    }

    std::printf("#### The running program over %d s (offscreen; CPU from /proc/<pid>/stat utime+stime)\n\n", seconds);
    std::printf(
        "| run | CPU (%% of one core) | CPU seconds | VmRSS after start (KB) | VmRSS at end (KB) | "
        "threads | requests logged (whole run) | scheduled updates (whole run) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    std::printf("| idle (no feed due, no clocks) | %.2f | %.2f | %ld | %ld | %d | %d | %d |\n", idle.cpuPercent,
                idle.cpuSecondsUsed, idle.rssStart, idle.rssEnd, idle.threads, idle.requests, idle.updates);
    std::printf(
        "| demo schedule (both feeds every minute, substitute services) | %.2f | %.2f | %ld | %ld | %d | "
        "%d | %d |\n\n",
        demo.cpuPercent, demo.cpuSecondsUsed, demo.rssStart, demo.rssEnd, demo.threads, demo.requests, demo.updates);
    std::printf(
        "The demo run's clocks (127.0.0.2 .. 127.0.0.4) are not answered, so each datagram is sent four "
        "times and given up.\n\n");
    return 0;
}
