#pragma once

#include <QLockFile>

// Tests that bind UDP port 7372 hold this machine-wide lock as well as the
// CTest resource lock, so two build trees tested at once never share the port.
class ClockPortLock
{
public:
    ClockPortLock();

private:
    QLockFile lockFile;
};
