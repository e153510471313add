#include "app/logretention.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace LogRetention {

int daysFromSetting(const QString& setting)
{
    bool ok = false;
    const int days = setting.trimmed().toInt(&ok);
    return ok && days >= 0 && days <= 3650 ? days : 0;
}

int deleteExpired(const QString& dir, const QDate& today, int days)
{
    if (days <= 0 || !today.isValid())
        return 0;
    static const QRegularExpression dayLog(QStringLiteral("^Corvelta_(\\d\\d)-(\\d\\d)-(\\d\\d)\\.log$"));
    const QDate oldestKept = today.addDays(-days);
    int deleted = 0;
    // Every file, matched here case-sensitively: a name filter would also
    // match "corvelta_..." on a case-insensitive file system.
    const QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const QRegularExpressionMatch match = dayLog.match(name);
        if (!match.hasMatch())
            continue;
        const QDate date(2000 + match.captured(3).toInt(), match.captured(1).toInt(), match.captured(2).toInt());
        if (date.isValid() && date < oldestKept && QFile::remove(QDir(dir).filePath(name)))
            ++deleted;
    }
    return deleted;
}

}  // namespace LogRetention
