#include "support/demoprogram.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

namespace {

// The moment the substitute services describe: 2024-06-06 14:55 UTC.
const char* const FrozenEpoch = "1717685700";

void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
}

}  // namespace

DemoProgram::~DemoProgram()
{
    stopProcess(program);
    stopProcess(services);
}

QString DemoProgram::start(const QString& dir, const QString& weatherClocks, const QString& stockClocks,
                           const QMap<QString, QVariant>& extra)
{
    directory = dir;
    const QString binary = QStringLiteral(CORVELTA_BINARY_DIR "/corvelta");
    if (!QFile::exists(binary))
        return "the corvelta executable has not been built";
    services.start("python3", {CORVELTA_SOURCE_DIR "/tools/demo/substitute_services.py", "--at", FrozenEpoch,
                               "--stamps-now", "--quiet"});
    if (!services.waitForStarted(30000))
        return "python3 could not be started";
    QMap<QString, QString> urls;
    const bool listening = QTest::qWaitFor(
        [&] {
            while (services.canReadLine()) {
                const QStringList words = QString::fromUtf8(services.readLine()).simplified().split(' ');
                if (words.size() == 2)
                    urls.insert(words.at(0), words.at(1));
            }
            return urls.contains("weather") && urls.contains("stock");
        },
        30000);
    if (!listening)
        return "the substitute services did not start";

    const QString copy = QDir(dir).filePath("corvelta");
    QFile::remove(copy);
    if (!QFile::copy(binary, copy) || !QFile::setPermissions(copy, QFile::permissions(binary)))
        return "the program could not be copied";
    QProcess tool;
    tool.start(CORVELTA_BINARY_DIR "/corvelta-demo-settings",
               {"--output", QDir(dir).filePath("crv_settings.ini"), "--weather-url", urls["weather"], "--stock-url",
                urls["stock"], "--weather-clocks", weatherClocks, "--stock-clocks", stockClocks});
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
        return "corvelta-demo-settings failed";
    {
        QSettings settings(QDir(dir).filePath("crv_settings.ini"), QSettings::IniFormat);
        // The frozen observation is years old by now: let it count as current
        // (observations older than two hours are kept off the clocks).
        settings.setValue("maxobservationage", 2147483647);
        for (auto it = extra.cbegin(); it != extra.cend(); ++it)
            settings.setValue(it.key(), it.value());
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(dir);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(copy, QStringList());
    return program.waitForStarted(30000) ? QString() : program.errorString();
}

QString DemoProgram::log() const
{
    QFile file(QDir(directory).filePath(QDate::currentDate().toString("'Corvelta_'MM-dd-yy'.log'")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString DemoProgram::diagnostics()
{
    QString text = "corvelta output:\n" + QString::fromUtf8(program.readAll());
    for (const QString& name : QDir(directory).entryList({"Corvelta_*.log"})) {
        QFile log(QDir(directory).filePath(name));
        if (log.open(QIODevice::ReadOnly))
            text += QString("\n%1:\n%2").arg(name, QString::fromUtf8(log.readAll().right(4000)));
    }
    return text;
}
