#include "app/timesource.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex sourceMutex;
std::function<QDateTime()> nowFunction;
}  // namespace

QDateTime TimeSource::now()
{
    QMutexLocker lock(&sourceMutex);
    if (nowFunction)
        return nowFunction();
    return QDateTime::currentDateTime();
}

void TimeSource::setNowFunction(std::function<QDateTime()> function)
{
    QMutexLocker lock(&sourceMutex);
    nowFunction = std::move(function);
}
