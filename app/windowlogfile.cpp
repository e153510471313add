// The day's log file: one time-stamped line per event, appended and flushed,
// echoed to the debug output; one file per date in the log directory.
#include "app/mainwindow.h"

#include <QDebug>
#include <QFile>
#include <QMutexLocker>
#include <QTextStream>

#include "app/filemodes.h"
#include "app/logretention.h"
#include "app/timesource.h"

namespace {

// Name of the log file of one date, e.g. Corvelta_12-05-26.log.
QString logFileName(const QString& dir, const QDate& date)
{
    return dir + "Corvelta_" + date.toString("MM-dd-yy") + ".log";
}

}  // namespace

void MainWindow::logLine(QString message)
{
    emit OnSendToLogfile(message);
}

void MainWindow::SendToLogfile(QString s)
{
    QMutexLocker lock(&logMutex);

    // One reading of the clock stamps the line and decides the rollover, so
    // the line always lands in the file named for its own date.
    const QDateTime now = TimeSource::now();

    // The whole date is compared, not only the day of the month: after a
    // month without a single line the 5th must still open a new file.
    if (logDate != now.date() || logDay != now.date().day()) {
        logFile.close();
        openLogFileForDate(logDir, now.date());
    }

    QString line = now.toString("MM/dd/yy hh:mm:ss.zzz: ") + s + "\n";
    line.replace("<", "&lt;");
    line.replace(">", "&gt;");

    // After closeEvent has closed the file, logOpen stays set but the line
    // only reaches the debug output.
    if (logOpen && logFile.isOpen()) {
        QTextStream stream(&logFile);
        stream << line;
        stream.flush();
    }

    line.remove('\n');
    qDebug("%s", qUtf8Printable(line));
}

void MainWindow::openLogFile(QString dir)
{
    openLogFileForDate(dir, TimeSource::now().date());
}

void MainWindow::reopenLogFile()
{
    openLogFile(logDir);
}

void MainWindow::openLogFileForDate(const QString& dir, const QDate& date)
{
    logDir = dir;
    logFile.close();

    const QString name = logFileName(dir, date);
    qDebug("Opening logfile: %s", qUtf8Printable(name));

    logDay = date.day();
    logDate = date;
    logFile.setFileName(name);
    // Append: a restart on the same day continues the same file.
    if (logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        logOpen = true;
        // Readable by the owner's group (a monitoring user), whatever the umask.
        FileModes::apply(logFile, FileModes::Mode::GroupReadable);
    } else {
        qDebug("Error opening log file, check path!!!");
        logOpen = false;
    }

    removeOldLogs(3);
    removeExpiredLogs();
}

void MainWindow::removeExpiredLogs()
{
    if (logDays <= 0)
        return;
    const int deleted = LogRetention::deleteExpired(logDir, logDate, logDays);
    // Posted, not logged here: a rollover opens the new file with the log locked.
    const QString line = QString::asprintf("Log files older than %d days deleted: %d", logDays, deleted);
    QMetaObject::invokeMethod(
        this, [this, line] { logLine(line); }, Qt::QueuedConnection);
}

void MainWindow::removeOldLogs(int daysBack)
{
    // Only the "DovrantLog_" files of a fixed fortnight are cleared away; the
    // program's own "Corvelta_" logs and anything else are never touched.
    const QDate today = TimeSource::now().date();
    for (int k = daysBack; k <= daysBack + 13; ++k) {
        const QString name = logDir + "DovrantLog_" + today.addDays(-k).toString("MM-dd-yy") + ".log";
        QFile::remove(name);
    }
}
