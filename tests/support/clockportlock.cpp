#include "support/clockportlock.h"

#include <QDir>

ClockPortLock::ClockPortLock()
    : lockFile(QDir::tempPath() + "/corvelta-clockport.lock")
{
    lockFile.setStaleLockTime(0);
    lockFile.lock();
}
